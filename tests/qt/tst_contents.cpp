// The contents panel as a tree: nesting by depth, the chapter and section
// being read marked and kept in view while the reader moves, the filter box.

#include <QLineEdit>
#include <QScrollBar>
#include <QTreeWidget>
#include <QtTest>

#include "BookFixtures.h"
#include "ContentsTree.h"
#include "MainFrameTestSupport.h"

using test::Session;
using test::waitFor;

namespace {

std::string nestedBook(const TempDir& dir) {
    using fixture::paragraphs;
    return fixture::writeEpub(
        dir, "nested.epub", "Nested",
        {{"ch1.xhtml", "<h1>Chapter One</h1><div id=\"s1a\"><h2>Part A</h2>" + paragraphs("A", 40) +
                           "</div><div id=\"s1b\"><h2>Part B</h2>" + paragraphs("B", 40) + "</div>"},
         {"ch2.xhtml", "<h1>Chapter Two</h1>" + paragraphs("Two", 5) + "<div id=\"s2a\"><h2>Part C</h2>" +
                           paragraphs("C", 40) + "</div>"},
         {"ch3.xhtml", "<h1>An unlisted page</h1>" + paragraphs("D", 5)}},
        {{"One", "ch1.xhtml", {{"Part A", "ch1.xhtml#s1a", {}}, {"Part B", "ch1.xhtml#s1b", {}}}},
         {"Two", "ch2.xhtml", {{"Part C", "ch2.xhtml#s2a", {}}}}});
}

bool bold(tf::ContentsTree* tree, int line) {
    return tree->itemOf(line) && tree->itemOf(line)->font(0).bold();
}

// The line's row lies inside the tree's visible area.
bool inView(tf::ContentsTree* tree, int line) {
    QTreeWidgetItem* item = tree->itemOf(line);
    const QRect row = tree->tree()->visualItemRect(item);
    return item && row.isValid() && tree->tree()->viewport()->rect().contains(row.center());
}

} // namespace

class ContentsTest : public QObject {
    Q_OBJECT
private slots:
    void nestedByDepthAndCollapsible();
    void marksFollowTheReadingPosition();
    void filterKeepsMatchesAndTheirBranches();
};

void ContentsTest::nestedByDepthAndCollapsible() {
    Session s;
    TempDir dir;
    const std::string path = nestedBook(dir);
    QVERIFY(s.open(path));
    tf::ContentsTree* tree = s.frame->getContentsTree();
    QCOMPARE(tree->count(), 5);
    QCOMPARE(tree->tree()->topLevelItemCount(), 2);
    const int depths[] = {0, 1, 1, 0, 1};
    const char* labels[] = {"One", "Part A", "Part B", "Two", "Part C"};
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(tree->depth(i), depths[i]);
        QCOMPARE(tree->label(i), QString(labels[i]));
    }
    QCOMPARE(tree->itemOf(2)->parent(), tree->itemOf(0));
    QCOMPARE(tree->itemOf(4)->parent(), tree->itemOf(3));
    tree->itemOf(0)->setExpanded(true);
    QVERIFY(tree->itemOf(0)->isExpanded());
    tree->itemOf(0)->setExpanded(false);
    QVERIFY(!tree->itemOf(0)->isExpanded());
    // A child line opens its place inside the chapter.
    tree->setCurrentLine(2);
    QVERIFY(waitFor([&] { return s.settled() && tf::URI(s.view()->current_address()).m_path.str() == "OEBPS/ch1.xhtml"; }));
    const int partB = s.view()->find_anchor("s1b");
    QVERIFY(partB > 0);
    QVERIFY(waitFor([&] { return s.settled() && std::abs(s.view()->scrollPosition() - partB) <= 2; }));

    // Depths that jump or run beyond all reason still make a tree.
    tree->setBook({{"a", "a"}, {"b", "b"}, {"c", "c"}, {"d", "d"}}, {3, 0, 5000, 1}, {});
    QCOMPARE(tree->depth(0), 0);
    QCOMPARE(tree->depth(2), 1);
    QCOMPARE(tree->depth(3), 1);
}

void ContentsTest::marksFollowTheReadingPosition() {
    Session s;
    TempDir dir;
    const std::string path = nestedBook(dir);
    QVERIFY(s.open(path));
    s.frame->onTogglePanel();
    tf::ContentsTree* tree = s.frame->getContentsTree();
    // The cover page is no chapter.
    QCOMPARE(tree->readingChapter(), -1);

    tree->setCurrentLine(0);
    QVERIFY(waitFor([&] { return s.settled() && tree->readingChapter() == 0; }));
    // At the top of chapter one, its first part is what is being read.
    QVERIFY(waitFor([&] { return tree->readingSection() == 1; }));
    QVERIFY(bold(tree, 0) && bold(tree, 1));
    QVERIFY(!bold(tree, 2) && !bold(tree, 3));
    QVERIFY(tree->itemOf(0)->isExpanded());

    // Scrolling into part B moves the section mark, not the chapter's.
    s.view()->setScrollPosition(s.view()->find_anchor("s1b") + 50);
    QVERIFY(waitFor([&] { return tree->readingSection() == 2; }));
    QCOMPARE(tree->readingChapter(), 0);
    QVERIFY(bold(tree, 2) && !bold(tree, 1));
    QVERIFY(inView(tree, 2));
    // The line picked at first does not stay highlighted beside the one being read.
    QCOMPARE(tree->tree()->currentItem(), tree->itemOf(2));
    QCOMPARE(tree->tree()->selectedItems().size(), 1);
    // And back up.
    s.view()->setScrollPosition(0);
    QVERIFY(waitFor([&] { return tree->readingSection() == 1; }));

    // The next chapter, and a page the contents do not list, which belongs to the chapter before it.
    QTest::keyClick(s.view(), Qt::Key_Right, Qt::ControlModifier);
    QVERIFY(waitFor([&] { return s.settled() && tree->readingChapter() == 3; }));
    QCOMPARE(tree->readingSection(), 3);
    QVERIFY(bold(tree, 3) && !bold(tree, 0) && !bold(tree, 2));
    QVERIFY(inView(tree, 3));
    QTest::keyClick(s.view(), Qt::Key_Right, Qt::ControlModifier);
    QVERIFY(waitFor([&] {
        return s.settled() && tf::URI(s.view()->current_address()).m_path.str() == "OEBPS/ch3.xhtml";
    }));
    QVERIFY(waitFor([&] { return tree->readingChapter() == 3; }));
    QVERIFY(inView(tree, tree->readingSection()));

    // Closing the book clears the marks with the lines.
    s.frame->onFileClose();
    QCOMPARE(tree->count(), 0);
    QCOMPARE(tree->readingChapter(), -1);
}

void ContentsTest::filterKeepsMatchesAndTheirBranches() {
    Session s;
    TempDir dir;
    QVERIFY(s.open(nestedBook(dir)));
    tf::ContentsTree* tree = s.frame->getContentsTree();
    QTest::keyClicks(tree->filterBox(), "part b");
    const bool shown[] = {true, false, true, false, false};
    for (int i = 0; i < 5; ++i)
        QCOMPARE(!tree->itemOf(i)->isHidden(), shown[i]);
    QVERIFY(tree->itemOf(0)->isExpanded());
    tree->setFilter(QString());
    for (int i = 0; i < 5; ++i)
        QVERIFY(!tree->itemOf(i)->isHidden());
    tree->setFilter("nothing like it");
    for (int i = 0; i < 5; ++i)
        QVERIFY(tree->itemOf(i)->isHidden());
}

QTEST_MAIN(ContentsTest)
#include "tst_contents.moc"
