// The main window driven offscreen over a temporary library: start-up, the
// book workflow, keys, the contents panel, reading positions, removal, full
// screen and search.

#include <QAction>
#include <QBuffer>
#include <QClipboard>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QMimeData>
#include <QProgressBar>
#include <QScrollBar>
#include <QSplitter>
#include <QToolBar>
#include <QUrl>

#include <algorithm>
#include <thread>

#include "AboutDialog.h"
#include "MainFrameTestSupport.h"
#include "SearchBox.h"
#include "src/DataHelper.h"
#include "utility/URI.h"
#include "utility/text.h"

using test::Session;
using test::waitFor;

namespace {

const char* const kAlice = "epub2-pg11-alice.epub";
const char* const kHolmes = "epub2-pg1661-sherlock-holmes.epub";
const char* const kFb2 = "fb2-fb2cng-_Test.fb2";

// The corpus path as the window records it (absolute, without "..").
std::string book(const char* name) {
    return QFileInfo(QString::fromStdString(corpus_path(name))).absoluteFilePath().toStdString();
}

// The label of every line of the contents panel.
std::vector<std::string> panelLines(tf::MainFrame& frame) {
    std::vector<std::string> lines;
    for (int i = 0; i < frame.getContentsTree()->count(); ++i)
        lines.push_back(frame.getContentsTree()->label(i).toStdString());
    return lines;
}

// The first marked run of the view's text range, or -1.
int firstMarkedRun(tf::HtmlWindow* view) {
    for (size_t i = 0; i < view->textRangeSize(); ++i)
        if (view->isRunMarked(i))
            return static_cast<int>(i);
    return -1;
}

void key(QWidget* target, Qt::Key k, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(target, k, modifiers);
}

// Steps on through the reading order until a chapter is more than `height` pixels taller than the view.
bool stepToLongChapter(Session& s, int height) {
    for (int i = 0; i < 12; ++i) {
        QTest::keyClick(s.view(), Qt::Key_Right, Qt::ControlModifier);
        if (!s.waitSettled())
            return false;
        if (tf::URI(s.view()->current_address()).is("epub") && s.view()->pageEndPosition() > height)
            return true;
    }
    return false;
}

} // namespace

class MainFrameTest : public QObject {
    Q_OBJECT
private slots:
    void startsWithTheHomePage();
    void toolBarHoldsTheTwelveCommands();
    void opensAnEpubWithItsContentsAndCover();
    void svgCoverIsShownAndThumbnailed();
    void opensAFictionBookWithItsContents();
    void chapterKeysStepThroughTheReadingOrder();
    void readingFlowsOnAcrossChapters();
    void zoomKeysStayWithinLimits();
    void contentsLineOpensItsTarget();
    void closeSavesAndReopenRestores();
    void closingTheWindowSavesThePosition();
    void closingTheWindowWithoutABookAsksNothing();
    void openingAnotherBookSavesTheFirst();
    void removeAndRemoveAllChangeTheHomePage();
    void fullScreenRestoresTheExactGeometry();
    void escapeHidesTheSearchBoxBeforeLeavingFullScreen();
    void searchMarksTheNextOccurrenceOnEachEnter();
    void searchSaysWhenThePageHasNoMatch();
    void togglePanelOpensAndCollapses();
    void progressShowsAndHidesTheBar();
    void placeholderCoverIsA95x120PngWithAlpha();
    void aBookThatCannotOpenSaysSoAndIsNotRecorded();
    void aDamagedFictionBookOpensWithANote();
    void aBookWithHashAndQueryInItsNameOpens();
    void droppedFileOpens();
    void pageKeysScrollWithinTheChapter();
    void aboutDialogListsVersionAndKeys();
};

void MainFrameTest::startsWithTheHomePage() {
    Session s;
    QCOMPARE(s.frame->windowTitle(), QString("Orinel Reader"));
    QCOMPARE(s.frame->statusText(), QString("Orinel Reader - Ready"));
    QVERIFY(s.view()->isHomePageShown());
    QVERIFY(s.frame->getLibrary() != nullptr);
    QVERIFY(s.frame->getLibrary()->isAvailable());
    QVERIFY(QFileInfo(QString::fromStdString(s.dir.path + "/OrinelReader/data.db")).exists());
    // Nothing recorded yet: the page offers no book and no "Remove All".
    QVERIFY(s.homePage().find("cmd://delete_all") == std::string::npos);
    QVERIFY(!s.frame->getProgressBar()->isVisible());
    QVERIFY(!s.frame->getSearchBox()->isVisible());
    QCOMPARE(s.frame->getBarPosition(), 0);
    QCOMPARE(s.frame->getChapterCount(), 0);
    // A second activation changes nothing.
    s.frame->onActivate();
    QCOMPARE(s.frame->statusText(), QString("Orinel Reader - Ready"));
}

void MainFrameTest::toolBarHoldsTheTwelveCommands() {
    Session s;
    // The twelve, Preferences before About, and the theme chooser last.
    const int expected[] = {40001, 40002, 40003, 40004, 40005, 40010, 40011, 40012, 40007, 40008, 40009, 40013, 50001};
    const QList<QAction*> actions = s.frame->getToolSet()->actions();
    QCOMPARE(actions.size(), 14);
    QCOMPARE(s.frame->getToolSet()->widgetForAction(actions[13]), static_cast<QWidget*>(s.frame->getThemeChooser()));
    for (int i = 0; i < 13; ++i) {
        QCOMPARE(actions[i]->data().toInt(), expected[i]);
        QVERIFY(actions[i]->isEnabled());
        QVERIFY(!actions[i]->icon().isNull());
        // Our own pictures stand in wherever the icon theme has none.
        QVERIFY(!actions[i]->icon().pixmap(32, 32).isNull());
    }
    // Go to start / end and zoom do nothing on the home page.
    s.frame->onGoEnd();
    QCOMPARE(s.view()->scrollPosition(), 0);
    const int size = s.view()->get_default_font_size();
    s.frame->onZoomIn();
    QVERIFY(s.waitSettled());
    QCOMPARE(s.view()->get_default_font_size(), size);
    QVERIFY(s.view()->isHomePageShown());
    QVERIFY(!s.frame->onCommand(12345));
}

void MainFrameTest::opensAnEpubWithItsContentsAndCover() {
    Session s;
    const std::string path = book(kAlice);
    const test::BookFacts facts = test::readBook("epub", path);
    QVERIFY(!facts.toc.empty());

    // Some lines of an earlier book are still in the panel: they go.
    s.frame->getContentsTree()->setBook({{"x", "left over"}}, {0}, {});
    QVERIFY(s.open(path));

    std::vector<std::string> labels;
    for (const auto& entry : facts.toc)
        labels.push_back(entry.second);
    QCOMPARE(panelLines(*s.frame), labels);
    QCOMPARE(s.frame->getChapterCount(), static_cast<int>(facts.spine.size()));
    // The cover page: the book's file is the address, its page is on screen.
    QCOMPARE(s.view()->current_address(), tf::String(path));
    QVERIFY(!s.view()->isHomePageShown());
    QVERIFY(s.view()->documentSize().height() > 0);
    QCOMPARE(s.frame->statusText(), QString::fromUtf8(facts.title.c_str()));

    // Recorded in the library with a 120 pixel high thumbnail.
    const std::string page = s.homePage();
    QVERIFY(page.find(tf::url_encode(path)) != std::string::npos);
    const std::string cover = s.frame->getLibrary()->createBookDirectory(facts.title) + "/cover.png";
    QImage thumbnail(QString::fromStdString(cover));
    QVERIFY(!thumbnail.isNull());
    QCOMPARE(thumbnail.height(), 120);
    QVERIFY(page.find(cover) != std::string::npos);
}

void MainFrameTest::svgCoverIsShownAndThumbnailed() {
    // An EPUB 3 whose cover-image is an SVG file.
    Session s;
    const std::string path = book("epub3-se-devils-dictionary.epub");
    const test::BookFacts facts = test::readBook("epub", path);
    QVERIFY(s.open(path));
    QVERIFY(s.view()->has_document());
    // The picture, in colour, rather than the page of title and author in black.
    const QImage page = s.view()->renderImage(QRect(0, 0, 400, 500));
    int coloured = 0;
    for (int y = 0; y < page.height(); y += 4)
        for (int x = 0; x < page.width(); x += 4) {
            const QColor c = page.pixelColor(x, y);
            coloured += std::abs(c.red() - c.green()) + std::abs(c.green() - c.blue()) > 60;
        }
    QVERIFY2(coloured > 100, qPrintable(QString("%1 coloured samples").arg(coloured)));

    const std::string cover = s.frame->getLibrary()->createBookDirectory(facts.title) + "/cover.png";
    QTRY_VERIFY(QFileInfo::exists(QString::fromStdString(cover)));
    const QImage thumbnail(QString::fromStdString(cover));
    QCOMPARE(thumbnail.height(), 120);
    QVERIFY(thumbnail.width() > 40);
    QVERIFY(thumbnail.pixelColor(thumbnail.width() / 2, thumbnail.height() / 2) != QColor(Qt::white));
}

void MainFrameTest::opensAFictionBookWithItsContents() {
    Session s;
    const std::string path = book(kFb2);
    const test::BookFacts facts = test::readBook("fb2", path);
    // An entry per top-level section and per further body; a contents line
    // per titled section, nested.
    QVERIFY(facts.spine.size() > 3);
    QVERIFY(facts.toc.size() > facts.spine.size());
    QVERIFY(s.open(path));
    QCOMPARE(s.frame->getContentsTree()->count(), int(facts.toc.size()));
    QCOMPARE(s.frame->getContentsTree()->label(1), QString::fromUtf8(facts.toc[1].second.c_str()));
    QCOMPARE(s.frame->getChapterCount(), int(facts.spine.size()));

    // A line pointing inside an entry opens the entry scrolled to the section.
    int inside = -1;
    for (size_t i = 1; i < facts.toc.size() && inside < 0; ++i)
        if (facts.toc[i].first.find('#') != std::string::npos &&
            facts.toc[i].first.substr(0, facts.toc[i].first.find('#')) == facts.toc[i - 1].first)
            inside = int(i);
    QVERIFY(inside > 0);
    s.frame->getContentsTree()->setCurrentLine(inside);
    QVERIFY(s.waitAddress(tf::String("fb2://" + facts.toc[size_t(inside)].first)));
    QTRY_VERIFY(s.view()->scrollPosition() > 0);
    // The next section stands below this one's end, for reading to flow on into.
    size_t entry = 0;
    while (entry + 1 < facts.spine.size() && facts.spine[entry].first != facts.toc[size_t(inside - 1)].first)
        ++entry;
    QVERIFY(entry + 1 < facts.spine.size());
    QVERIFY(waitFor([&] { return s.view()->followingAddress() == tf::String("fb2://" + facts.spine[entry + 1].first); }));

    // A note link leads to the notes entry, at the note.
    s.frame->getContentsTree()->setCurrentLine(0);
    QVERIFY(s.waitAddress(tf::String("fb2://" + facts.toc[0].first)));
    s.view()->on_anchor_click("#n_1", nullptr);
    s.view()->processTask("open.uri");
    QVERIFY(s.waitAddress(tf::String("fb2://notes#n_1")));
    QTRY_VERIFY(s.view()->scrollPosition() > 0);
    s.frame->getContentsTree()->setCurrentLine(1);
    s.frame->getContentsTree()->setCurrentLine(0);
    QVERIFY(s.waitAddress(tf::String("fb2://" + facts.toc[0].first)));

    // A keyword beyond ASCII reaches the view as UTF-8, whatever its case.
    QTest::keyClick(s.view(), Qt::Key_F, Qt::ControlModifier);
    // (Typed text beyond Latin-1 cannot be simulated key by key.)
    s.frame->getSearchBox()->setText(QString::fromUtf8("ПЕРЕКРЁСТНЫЕ"));
    QTest::keyClick(s.frame->getSearchBox(), Qt::Key_Return);
    tf::String marked;
    s.view()->selected_text(marked);
    QVERIFY2(QString::fromStdWString(marked).contains(QString::fromUtf8("Перекрёстные")),
             QString::fromStdWString(marked).toUtf8().constData());

    // The cover is embedded as base64 text; the thumbnail is made from it all the same.
    const std::string cover = s.frame->getLibrary()->createBookDirectory(facts.title) + "/cover.png";
    QCOMPARE(QImage(QString::fromStdString(cover)).height(), 120);
}

void MainFrameTest::chapterKeysStepThroughTheReadingOrder() {
    Session s;
    const std::string path = book(kAlice);
    const test::BookFacts facts = test::readBook("epub", path);
    QVERIFY(facts.spine.size() > 3);
    QVERIFY(s.open(path));

    // The keys work from the view (which hands them over) and from the window.
    key(s.view(), Qt::Key_Right, Qt::ControlModifier);
    QVERIFY(s.waitAddress(test::epubAddress(facts.spine[0].first)));
    key(s.frame.get(), Qt::Key_Right, Qt::ControlModifier);
    QVERIFY(s.waitAddress(test::epubAddress(facts.spine[1].first)));
    key(s.view(), Qt::Key_Right, Qt::ControlModifier);
    QVERIFY(s.waitAddress(test::epubAddress(facts.spine[2].first)));
    key(s.view(), Qt::Key_Left, Qt::ControlModifier);
    QVERIFY(s.waitAddress(test::epubAddress(facts.spine[1].first)));
    QCOMPARE(s.view()->scrollPosition(), 0);

    // The tool bar sends the same commands.
    s.frame->action(tf::MainFrame::CMD_CHAPTER_NEXT)->trigger();
    QVERIFY(s.waitAddress(test::epubAddress(facts.spine[2].first)));
    s.frame->action(tf::MainFrame::CMD_CHAPTER_PREV)->trigger();
    QVERIFY(s.waitAddress(test::epubAddress(facts.spine[1].first)));

    // Presses faster than the pages load still count one chapter each, and a
    // zoom right after them keeps the chapter they asked for.
    for (int i = 0; i < 3; ++i)
        key(s.view(), Qt::Key_Right, Qt::ControlModifier);
    key(s.view(), Qt::Key_Up, Qt::ControlModifier);
    QVERIFY(s.waitAddress(test::epubAddress(facts.spine[4].first)));
    QCOMPARE(s.view()->get_default_font_size(), 22);
    for (int i = 0; i < 2; ++i)
        key(s.view(), Qt::Key_Left, Qt::ControlModifier);
    QVERIFY(s.waitAddress(test::epubAddress(facts.spine[2].first)));
}

void MainFrameTest::readingFlowsOnAcrossChapters() {
    Session s;
    const std::string path = book(kAlice);
    const test::BookFacts facts = test::readBook("epub", path);
    QVERIFY(facts.spine.size() > 4);
    QVERIFY(s.open(path));
    QVERIFY(stepToLongChapter(s, 3 * s.view()->pageSize()));
    tf::HtmlWindow* view = s.view();
    const tf::String first = view->current_address();
    size_t index = 0;
    while (index < facts.spine.size() && test::epubAddress(facts.spine[index].first) != first)
        ++index;
    QVERIFY(index + 1 < facts.spine.size() && index > 0);
    const tf::String next = test::epubAddress(facts.spine[index + 1].first);
    const int page = view->pageSize();
    const int step = page - tf::HtmlWindow::kLineStep;
    auto screen = [view] { return view->viewport()->grab().toImage(); };

    // The next chapter's top is painted below this one's end, and the scroll range reaches into it.
    QVERIFY(waitFor([&] { return view->followingAddress() == next; }));
    const int end = view->followingTop();
    QCOMPARE(end, view->documentSize().height());
    QCOMPARE(view->pageEndPosition(), end - page);
    QVERIFY(view->maxScrollPosition() > end);

    // PageDown goes a screen on, keeping a line in sight, through the chapter
    // and on into the next without a break: the press that takes the top of
    // the view past the end shows what it would show, and that chapter
    // becomes the page, shown from where the view stands in it.
    int presses = 0;
    int y = view->scrollPosition();
    while (y + step < end && presses < 500) {
        key(view, Qt::Key_PageDown);
        QCOMPARE(view->scrollPosition(), y + step);
        y += step;
        ++presses;
    }
    QVERIFY(presses >= 3);
    QCOMPARE(view->current_address(), first);
    key(view, Qt::Key_PageDown);
    QCOMPARE(view->scrollPosition(), y + step);
    const QImage crossing = screen();
    QVERIFY(s.waitAddress(next));
    QCOMPARE(view->scrollPosition(), y + step - end);
    QCOMPARE(screen(), crossing);
    // The chapter at the top of the view is the one the window names, and the contents panel.
    QCOMPARE(view->current_address(), next);
    int line = -1;
    for (size_t i = 0; i < facts.toc.size() && line < 0; ++i)
        if (tf::URI(test::epubAddress(facts.toc[i].first)).member() == tf::URI(next).member())
            line = static_cast<int>(i);
    QVERIFY(line >= 0);
    QTRY_COMPARE(s.frame->getContentsTree()->currentLine(), line);

    // PageUp at the top flows back: the chapter before, its end a screen up,
    // with the line that was on top still in sight below it.
    view->setScrollPosition(0);
    const QImage top = screen();
    key(view, Qt::Key_PageUp);
    QVERIFY(s.waitAddress(first));
    QCOMPARE(view->followingAddress(), next);
    QCOMPARE(view->scrollPosition(), view->followingTop() - step);
    const QImage back = screen();
    QCOMPARE(back.copy(0, step, back.width(), page - step), top.copy(0, 0, top.width(), page - step));

    // The wheel scrolls on into the next chapter the same way, and back.
    auto wheel = [view](int delta) {
        const QPointF at(100, 100);
        QWheelEvent event(at, view->viewport()->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(view->viewport(), &event);
    };
    const int before = view->scrollPosition();
    int turns = 0;
    while (view->scrollPosition() < view->followingTop() && turns < 100) {
        wheel(-120);
        ++turns;
    }
    QVERIFY(view->scrollPosition() > before);
    const int past = view->scrollPosition() - view->followingTop();
    QVERIFY(past >= 0);
    QVERIFY(s.waitAddress(next));
    QCOMPARE(view->scrollPosition(), past);
    // At the top, the turn that reaches it stays; the next one flows back a turn's worth.
    while (view->scrollPosition() > 0)
        wheel(120);
    QCOMPARE(view->current_address(), next);
    wheel(120);
    wheel(120);
    QVERIFY(s.waitAddress(first));
    QCOMPARE(view->scrollPosition(),
             view->followingTop() - QApplication::wheelScrollLines() * tf::HtmlWindow::kLineStep);

    // At a new width the next chapter's top is built again at that width: crossing still shows no break.
    const QSize frameSize = s.frame->size();
    const int wide = view->documentSize().width();
    s.frame->resize(frameSize.width() - 160, frameSize.height());
    QVERIFY(waitFor([&] { return s.settled() && view->documentSize().width() < wide; }));
    QVERIFY(waitFor([&] { return s.settled() && view->followingAddress() == next; }));
    view->setScrollPosition(view->followingTop() + 5);
    QCOMPARE(view->current_address(), first);
    const QImage narrow = screen();
    QVERIFY(s.waitAddress(next));
    QCOMPARE(view->scrollPosition(), 5);
    QCOMPARE(screen(), narrow);

    // The place saved is in the chapter at the top of the view.
    s.frame->action(tf::MainFrame::CMD_FILE_CLOSE)->trigger();
    tf::String saved;
    int position = 0, zoom = 0;
    QVERIFY(s.frame->getLibrary()->fetchReadState(tf::String(path), saved, position, zoom));
    QCOMPARE(saved, next);
}

void MainFrameTest::zoomKeysStayWithinLimits() {
    Session s;
    QVERIFY(s.open(book(kAlice)));
    const int start = s.view()->get_default_font_size();
    QCOMPARE(start, 20);
    key(s.view(), Qt::Key_Up, Qt::ControlModifier);
    QVERIFY(s.waitSettled());
    QCOMPARE(s.view()->get_default_font_size(), 22);
    // Zooming the cover page reloads the cover, not some saved chapter.
    QCOMPARE(s.view()->current_address(), tf::String(book(kAlice)));
    for (int i = 0; i < 15; ++i)
        key(s.view(), Qt::Key_Up, Qt::ControlModifier);
    QVERIFY(s.waitSettled());
    QCOMPARE(s.view()->get_default_font_size(), 40);
    for (int i = 0; i < 25; ++i)
        key(s.frame.get(), Qt::Key_Down, Qt::ControlModifier);
    QVERIFY(s.waitSettled());
    QCOMPARE(s.view()->get_default_font_size(), 8);
    QVERIFY(s.view()->isBookOpen());
}

void MainFrameTest::contentsLineOpensItsTarget() {
    Session s;
    const std::string path = book(kHolmes);
    const test::BookFacts facts = test::readBook("epub", path);
    QVERIFY(facts.toc.size() > 4);
    QVERIFY(s.open(path));

    for (int row : {3, 0, 4}) {
        s.frame->getContentsTree()->setCurrentLine(row);
        tf::URI target(test::epubAddress(facts.toc[static_cast<size_t>(row)].first));
        QVERIFY2(waitFor([&] {
                     tf::URI shown(s.view()->current_address());
                     return s.settled() && shown.is("epub") && shown.m_path == target.m_path;
                 }),
                 facts.toc[static_cast<size_t>(row)].first.c_str());
    }
}

void MainFrameTest::closeSavesAndReopenRestores() {
    Session s;
    const std::string path = book(kHolmes);
    const test::BookFacts facts = test::readBook("epub", path);
    QVERIFY(s.open(path));

    // A chapter long enough to stand 1200 pixels down, two zoom steps up.
    QVERIFY(stepToLongChapter(s, 1300));
    key(s.view(), Qt::Key_Up, Qt::ControlModifier);
    key(s.view(), Qt::Key_Up, Qt::ControlModifier);
    QVERIFY(s.waitSettled());
    const tf::String chapter = s.view()->current_address();
    QVERIFY(tf::URI(chapter).is("epub"));
    QCOMPARE(s.view()->get_default_font_size(), 24);
    QVERIFY(s.view()->pageEndPosition() > 1300);
    s.view()->setScrollPosition(1200);

    s.frame->action(tf::MainFrame::CMD_FILE_CLOSE)->trigger();
    QVERIFY(s.view()->isHomePageShown());
    QVERIFY(!s.view()->isBookOpen());
    QCOMPARE(s.frame->statusText(), QString("Orinel Reader - Ready"));
    QCOMPARE(s.frame->getContentsTree()->count(), 0);
    QCOMPARE(s.frame->getChapterCount(), 0);
    QCOMPARE(s.view()->get_default_font_size(), 20);
    // Closing again does nothing.
    s.frame->onFileClose();
    QVERIFY(s.view()->isHomePageShown());

    tf::String saved;
    int position = 0, zoom = 0;
    QVERIFY(s.frame->getLibrary()->fetchReadState(tf::String(path), saved, position, zoom));
    QCOMPARE(saved, chapter);
    QCOMPARE(position, 1200);
    QCOMPARE(zoom, 24);

    // Reopened from its "Open" link on the home page.
    emit s.view()->loadRequested(tf::String(path));
    QVERIFY(waitFor([&] {
        return s.settled() && s.view()->current_address() == chapter && s.view()->scrollPosition() == 1200;
    }));
    QCOMPARE(s.view()->get_default_font_size(), 24);
    QCOMPARE(s.frame->getContentsTree()->count(), static_cast<int>(facts.toc.size()));
    QCOMPARE(s.frame->statusText(), QString::fromUtf8(facts.title.c_str()));

    // And once more through the dialog's path: the same place again.
    s.frame->onFileClose();
    s.frame->openBook(QString::fromStdString(path));
    QVERIFY(waitFor([&] {
        return s.settled() && s.view()->current_address() == chapter && s.view()->scrollPosition() == 1200;
    }));
}

void MainFrameTest::closingTheWindowSavesThePosition() {
    const std::string path = book(kAlice);
    Session s;
    QVERIFY(s.open(path));
    key(s.view(), Qt::Key_Right, Qt::ControlModifier);
    key(s.view(), Qt::Key_Right, Qt::ControlModifier);
    QVERIFY(s.waitSettled());
    const tf::String chapter = s.view()->current_address();
    s.view()->setScrollPosition(300);
    const int position = s.view()->scrollPosition();

    // Answered No: the window stays and nothing is saved.
    s.answer = false;
    QVERIFY(!s.frame->close());
    QVERIFY(s.frame->isVisible());
    QCOMPARE(s.questions.size(), size_t(1));
    QCOMPARE(s.questions[0], QString("Warning|Reader has opened items.\nDo you really want to close it?"));
    tf::String saved;
    int pos = 0, zoom = 0;
    QVERIFY(!s.frame->getLibrary()->fetchReadState(tf::String(path), saved, pos, zoom));

    s.answer = true;
    QVERIFY(s.frame->close());
    QVERIFY(s.frame->getLibrary()->fetchReadState(tf::String(path), saved, pos, zoom));
    QCOMPARE(saved, chapter);
    QCOMPARE(pos, position);
    QCOMPARE(zoom, 20);
}

void MainFrameTest::closingTheWindowWithoutABookAsksNothing() {
    Session s;
    QVERIFY(s.frame->close());
    QVERIFY(s.questions.empty());
    // Exit asks, and answered No stays.
    s.frame->show();
    s.answer = false;
    s.frame->onCommand(tf::MainFrame::CMD_FILE_EXIT);
    QCOMPARE(s.questions.size(), size_t(1));
    QCOMPARE(s.questions[0], QString("Warning|The application is working.\nDo you really want to close it?"));
    QVERIFY(s.frame->isVisible());
}

void MainFrameTest::openingAnotherBookSavesTheFirst() {
    Session s;
    const std::string first = book(kAlice);
    QVERIFY(s.open(first));
    key(s.view(), Qt::Key_Right, Qt::ControlModifier);
    key(s.view(), Qt::Key_Right, Qt::ControlModifier);
    key(s.view(), Qt::Key_Right, Qt::ControlModifier);
    QVERIFY(s.waitSettled());
    const tf::String chapter = s.view()->current_address();

    // Chosen in the dialog (two files picked: only the first opens).
    const std::string second = book(kHolmes);
    s.frame->setFileChooser([&] {
        return QStringList{QString::fromStdString(second), QString::fromStdString(first)};
    });
    s.frame->action(tf::MainFrame::CMD_FILE_OPEN)->trigger();
    QVERIFY(s.waitLoaded(second));
    QCOMPARE(s.frame->getContentsTree()->count(), static_cast<int>(test::readBook("epub", second).toc.size()));

    tf::String saved;
    int position = 0, zoom = 0;
    QVERIFY(s.frame->getLibrary()->fetchReadState(tf::String(first), saved, position, zoom));
    QCOMPARE(saved, chapter);

    // A cancelled dialog changes nothing.
    s.frame->setFileChooser([] { return QStringList(); });
    s.frame->onFileOpen();
    QVERIFY(s.waitSettled());
    QCOMPARE(s.openFile(), second);
}

void MainFrameTest::removeAndRemoveAllChangeTheHomePage() {
    Session s;
    const std::string a = book(kAlice), b = book(kHolmes);
    QVERIFY(s.open(a));
    s.frame->onFileClose();
    QVERIFY(s.open(b));
    s.frame->onFileClose();
    const std::string titleA = test::readBook("epub", a).title, titleB = test::readBook("epub", b).title;
    QVERIFY(s.view()->isHomePageShown());
    const QRect all(0, 0, 2000, 4000);
    QVERIFY(s.view()->paintedText(all).find(titleA.substr(0, 10)) != std::string::npos);
    QVERIFY(s.view()->paintedText(all).find(titleB.substr(0, 10)) != std::string::npos);

    // A home-page "Remove" link asks nothing and shows the page again.
    emit s.view()->removeFileRequested(a);
    QVERIFY(s.view()->isHomePageShown());
    QVERIFY(s.questions.empty());
    QVERIFY(s.view()->paintedText(all).find(titleA.substr(0, 10)) == std::string::npos);
    QVERIFY(s.view()->paintedText(all).find(titleB.substr(0, 10)) != std::string::npos);

    s.answer = false;
    emit s.view()->removeAllRequested();
    QCOMPARE(s.questions.size(), size_t(1));
    QCOMPARE(s.questions[0], QString("Warning|Do you really want to remove all books?"));
    QVERIFY(s.homePage().find(b) != std::string::npos);

    s.answer = true;
    emit s.view()->removeAllRequested();
    QVERIFY(s.homePage().find(b) == std::string::npos);
    QVERIFY(s.homePage().find("cmd://delete_all") == std::string::npos);
    QVERIFY(s.view()->paintedText(all).find(titleB.substr(0, 10)) == std::string::npos);
    // The thumbnails stay on disk.
    const std::string cover = s.frame->getLibrary()->createBookDirectory(titleB) + "/cover.png";
    QVERIFY(QFileInfo(QString::fromStdString(cover)).exists());
}

void MainFrameTest::fullScreenRestoresTheExactGeometry() {
    Session s;
    s.frame->setGeometry(QRect(40, 50, 700, 500));
    QTest::qWait(20);
    const QRect before = s.frame->geometry();

    key(s.frame.get(), Qt::Key_F11);
    QVERIFY(s.frame->isFullScr());
    QVERIFY(s.frame->isFullScreen());
    key(s.frame.get(), Qt::Key_F11);
    QVERIFY(!s.frame->isFullScr());
    QVERIFY(waitFor([&] { return s.frame->geometry() == before; }, 3000));

    key(s.view(), Qt::Key_F11);
    QVERIFY(s.frame->isFullScreen());
    key(s.view(), Qt::Key_Escape);
    QVERIFY(!s.frame->isFullScr());
    QVERIFY(!s.frame->isFullScreen());
    QVERIFY(waitFor([&] { return s.frame->geometry() == before; }, 3000));

    // The tool bar's full-screen button toggles too.
    s.frame->action(tf::MainFrame::CMD_ZOOM_FULL)->trigger();
    QVERIFY(s.frame->isFullScr());
    s.frame->action(tf::MainFrame::CMD_ZOOM_FULL)->trigger();
    QVERIFY(waitFor([&] { return s.frame->geometry() == before; }, 3000));
}

void MainFrameTest::escapeHidesTheSearchBoxBeforeLeavingFullScreen() {
    Session s;
    const QRect before = s.frame->geometry();
    key(s.frame.get(), Qt::Key_F11);
    key(s.frame.get(), Qt::Key_F, Qt::ControlModifier);
    QVERIFY(s.frame->getSearchBox()->isVisible());
    QTest::keyClicks(s.frame->getSearchBox(), "kept");

    key(s.view(), Qt::Key_Escape);
    QVERIFY(!s.frame->getSearchBox()->isVisible());
    QVERIFY(s.frame->isFullScr());
    // Hidden from the window, the box keeps its text.
    QCOMPARE(s.frame->getSearchBox()->text(), QString("kept"));
    key(s.view(), Qt::Key_Escape);
    QVERIFY(!s.frame->isFullScr());
    QVERIFY(waitFor([&] { return s.frame->geometry() == before; }, 3000));
}

void MainFrameTest::searchMarksTheNextOccurrenceOnEachEnter() {
    Session s;
    QVERIFY(s.open(book(kAlice)));
    QVERIFY(stepToLongChapter(s, 1000));

    tf::SearchBox* box = s.frame->getSearchBox();
    key(s.view(), Qt::Key_F, Qt::ControlModifier);
    QVERIFY(box->isVisible());
    QVERIFY(waitFor([&] { return box->hasFocus(); }, 3000));

    QTest::keyClicks(box, "alice");
    key(box, Qt::Key_Return);
    const int first = firstMarkedRun(s.view());
    QVERIFY(first >= 0);
    QVERIFY(box->searchPos > 0);
    tf::String marked;
    s.view()->selected_text(marked);
    QVERIFY(tf::String(marked).lc().find(L"alice") != std::wstring::npos);

    // Each Enter goes on to a later occurrence; Shift+Enter comes back.
    std::vector<std::pair<int, int>> hits{{first, box->searchPos}};
    for (int i = 0; i < 3; ++i) {
        key(box, Qt::Key_Return);
        hits.emplace_back(firstMarkedRun(s.view()), box->searchPos);
        QVERIFY(hits.back().first >= 0);
        QVERIFY(hits.back() > hits[hits.size() - 2]);
    }
    key(box, Qt::Key_Return, Qt::ShiftModifier);
    QCOMPARE(std::make_pair(firstMarkedRun(s.view()), box->searchPos), hits[2]);

    // "Copy" puts the marked text on the clipboard and clears the marks.
    marked.clear();
    s.view()->selected_text(marked);
    QVERIFY(!marked.empty());
    s.frame->onCommand(tf::MainFrame::CMD_COPY);
    QCOMPARE(QGuiApplication::clipboard()->text(), QString::fromStdWString(marked));
    QCOMPARE(firstMarkedRun(s.view()), -1);

    // Escape in the box hides and empties it and hands the focus on; the position stays.
    const int kept = box->searchPos;
    key(box, Qt::Key_Escape);
    QVERIFY(!box->isVisible());
    QVERIFY(box->text().isEmpty());
    QVERIFY(!box->hasFocus());
    s.frame->action(tf::MainFrame::CMD_SEARCH)->trigger();
    QVERIFY(box->isVisible());
    QCOMPARE(box->searchPos, kept);

    // The tool bar button hides the box and forgets the position; shown again,
    // the next Enter starts over at the top, whatever the case of the keyword.
    s.frame->action(tf::MainFrame::CMD_SEARCH)->trigger();
    QVERIFY(!box->isVisible());
    QCOMPARE(firstMarkedRun(s.view()), -1);
    s.frame->action(tf::MainFrame::CMD_SEARCH)->trigger();
    QCOMPARE(box->searchPos, 0);
    QTest::keyClicks(box, "ALICE");
    key(box, Qt::Key_Enter);
    QCOMPARE(firstMarkedRun(s.view()), first);
    // Ctrl+F in the box hides it.
    key(box, Qt::Key_F, Qt::ControlModifier);
    QVERIFY(!box->isVisible());
}

void MainFrameTest::searchSaysWhenThePageHasNoMatch() {
    Session s;
    QVERIFY(s.open(book(kAlice)));
    QVERIFY(stepToLongChapter(s, 1000));
    const QString title = s.frame->statusText();

    key(s.frame.get(), Qt::Key_F, Qt::ControlModifier);
    tf::SearchBox* box = s.frame->getSearchBox();
    QTest::keyClicks(box, "xylophonequark");
    key(box, Qt::Key_Return);
    QCOMPARE(box->searchPos, 0);
    QCOMPARE(firstMarkedRun(s.view()), -1);
    QVERIFY(s.frame->statusText().contains("xylophonequark"));
    QVERIFY(s.frame->statusText() != title);

    // Case does not matter; a match puts the title back.
    box->clear();
    QTest::keyClicks(box, "ALICE");
    key(box, Qt::Key_Return);
    QCOMPARE(s.frame->statusText(), title);

    // The next chapter replaces the page: the search goes on in the new one.
    key(s.view(), Qt::Key_Right, Qt::ControlModifier);
    QVERIFY(s.waitSettled());
    box->clear();
    QTest::keyClicks(box, "alice");
    key(box, Qt::Key_Return);
    QVERIFY(firstMarkedRun(s.view()) >= 0);
}

void MainFrameTest::togglePanelOpensAndCollapses() {
    Session s;
    QVERIFY(s.open(book(kAlice)));
    const int narrowWidth = s.view()->client_width();
    key(s.view(), Qt::Key_T, Qt::ControlModifier);
    QCOMPARE(s.frame->getBarPosition(), 20);
    QVERIFY(s.frame->getContentsTree()->width() > 0);
    QVERIFY(s.view()->client_width() < narrowWidth);
    QVERIFY(s.waitSettled());
    // Laid out again at the narrower width.
    QVERIFY(s.view()->documentSize().width() <= s.view()->client_width());
    key(s.frame.get(), Qt::Key_T, Qt::ControlModifier);
    QCOMPARE(s.frame->getBarPosition(), 0);
    QCOMPARE(s.view()->client_width(), narrowWidth);
    s.frame->action(tf::MainFrame::CMD_TOGGLE_PANEL)->trigger();
    QCOMPARE(s.frame->getBarPosition(), 20);
}

void MainFrameTest::progressShowsAndHidesTheBar() {
    Session s;
    QProgressBar* bar = s.frame->getProgressBar();
    // Values apply once control is back in the event loop (the view reports from inside its paint).
    auto report = [&](int value) {
        s.frame->onProgress(value);
        QApplication::processEvents();
    };
    report(0);
    QVERIFY(!bar->isVisible());
    report(30);
    QVERIFY(bar->isVisible());
    QCOMPARE(bar->value(), 30);
    report(80);
    QCOMPARE(bar->value(), 80);
    report(0);
    QVERIFY(!bar->isVisible());
    // From another thread the value arrives queued.
    std::thread([&] { s.frame->onProgress(40); }).join();
    QVERIFY(waitFor([&] { return bar->isVisible() && bar->value() == 40; }, 3000));
    report(-1);
    QVERIFY(!bar->isVisible());
    // 90 then 0 within one paint: the bar never shows.
    s.frame->onProgress(90);
    s.frame->onProgress(0);
    QApplication::processEvents();
    QVERIFY(!bar->isVisible());
}

void MainFrameTest::placeholderCoverIsA95x120PngWithAlpha() {
    Session s;
    tf::URI one(tf::String("content://cover.png")), other(tf::String("content://whatever.jpg"));
    const std::string bytes = s.frame->getContent(&one);
    QCOMPARE(s.frame->getContent(&other), bytes);
    QCOMPARE(s.frame->getContent(nullptr), bytes);
    QVERIFY(bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0);
    // PNG colour type 6: eight bits per channel, with alpha.
    QCOMPARE(static_cast<int>(static_cast<unsigned char>(bytes[24])), 8);
    QCOMPARE(static_cast<int>(static_cast<unsigned char>(bytes[25])), 6);
    QImage image = QImage::fromData(QByteArray::fromStdString(bytes), "PNG");
    QCOMPARE(image.size(), QSize(95, 120));
    QVERIFY(image.hasAlphaChannel());
}

void MainFrameTest::aBookThatCannotOpenSaysSoAndIsNotRecorded() {
    Session s;
    const std::string broken = book("broken-made-truncated-pg1661.epub");
    s.frame->openBook(QString::fromStdString(broken));
    QVERIFY(waitFor([&] { return s.settled() && s.frame->statusText().startsWith("Could not open"); }));
    QVERIFY(s.frame->statusText().contains("broken-made-truncated-pg1661.epub"));
    QVERIFY(s.frame->getBookPath().empty());
    QVERIFY(!s.view()->isBookOpen());
    QVERIFY(s.homePage().find(broken) == std::string::npos);

    // Tried in place of an open book: that one is closed, so the home page comes back.
    QVERIFY(s.open(book(kAlice)));
    const std::string missing = s.dir.path + "/no such book.epub";
    s.frame->openBook(QString::fromStdString(missing));
    QVERIFY(waitFor([&] { return s.settled() && s.frame->statusText().contains("no such book.epub"); }));
    QVERIFY(s.view()->isHomePageShown());
    QCOMPARE(s.frame->getContentsTree()->count(), 0);
}

void MainFrameTest::aDamagedFictionBookOpensWithANote() {
    Session s;
    const QString copy = QString::fromStdString(s.dir.path + "/stray.fb2");
    QVERIFY(QFile::copy(QString(ORINEL_FIXTURES_DIR) + "/fb2/stray-instruction.fb2", copy));
    QVERIFY(s.open(copy.toStdString()));
    QCOMPARE(s.frame->statusText(), QString("Chronicle (damaged file: shown as far as readable)"));
    QVERIFY(s.view()->paintedText(QRect(0, 0, 2000, 4000)).find("Chronicle") != std::string::npos);
    const std::vector<std::string> lines = panelLines(*s.frame);
    QVERIFY(std::find(lines.begin(), lines.end(), "Rulers") != lines.end());

    // A sound book after it has no note.
    QVERIFY(s.open(book(kFb2)));
    QVERIFY(!s.frame->statusText().contains("damaged"));
}

void MainFrameTest::aBookWithHashAndQueryInItsNameOpens() {
    Session s;
    const std::string path = s.dir.path + "/Alice #2?draft.epub";
    QVERIFY(QFile::copy(QString::fromStdString(book(kAlice)), QString::fromStdString(path)));
    QVERIFY(s.open(path));
    QVERIFY(s.frame->getChapterCount() > 3);
    s.frame->onFileClose();

    // Its home-page link opens it again.
    const std::string home = s.homePage();
    std::string link;
    for (size_t at = home.find("href=\""); at != std::string::npos && link.empty(); at = home.find("href=\"", at + 1)) {
        const std::string href = home.substr(at + 6, home.find('"', at + 6) - at - 6);
        std::string target;
        if (tf::DataHelper::readHomeLink(href, target) == tf::DataHelper::LINK_OPEN && target == path)
            link = href;
    }
    QVERIFY2(!link.empty(), home.c_str());
    s.view()->on_anchor_click(link.c_str(), nullptr);
    s.view()->processTask("open.uri");
    QVERIFY(s.waitLoaded(path));
}

void MainFrameTest::droppedFileOpens() {
    Session s;
    const std::string path = book(kAlice);
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
    QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(s.frame.get(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(s.frame.get(), &drop);
    QVERIFY(s.waitLoaded(path));
    // Opened as if chosen: recorded in the library.
    QVERIFY(s.homePage().find(path) != std::string::npos);
}

void MainFrameTest::pageKeysScrollWithinTheChapter() {
    Session s;
    QVERIFY(s.open(book(kHolmes)));
    QVERIFY(stepToLongChapter(s, 3 * s.view()->pageSize()));
    tf::HtmlWindow* view = s.view();
    const int page = view->pageSize();
    // The chapter's last screen (the next chapter's top is painted below it).
    const int maximum = view->pageEndPosition();
    QVERIFY(maximum < view->maxScrollPosition());

    view->setScrollPosition(30);
    key(view, Qt::Key_Left);
    QCOMPARE(view->scrollPosition(), 0);
    key(view, Qt::Key_Right);
    QCOMPARE(view->scrollPosition(), page);
    key(view, Qt::Key_Down);
    QCOMPARE(view->scrollPosition(), page + 20);
    key(view, Qt::Key_Up);
    QCOMPARE(view->scrollPosition(), page);
    view->setScrollPosition(maximum - 10);
    key(view, Qt::Key_Right);
    QCOMPARE(view->scrollPosition(), maximum);
    s.frame->onGoStart();
    QCOMPARE(view->scrollPosition(), 0);
    s.frame->onGoEnd();
    QCOMPARE(view->scrollPosition(), maximum);
    // Ctrl+O, Ctrl+C and Ctrl+X do nothing.
    for (Qt::Key k : {Qt::Key_O, Qt::Key_C, Qt::Key_X})
        key(view, k, Qt::ControlModifier);
    QVERIFY(s.waitSettled());
    QCOMPARE(view->scrollPosition(), maximum);
    QVERIFY(view->isBookOpen());
}

void MainFrameTest::aboutDialogListsVersionAndKeys() {
    tf::AboutDialog dialog;
    QCOMPARE(dialog.windowTitle(), QString("About OrinelReader"));
    QStringList texts;
    for (QLabel* label : dialog.findChildren<QLabel*>())
        texts << label->text();
    for (const char* expected : {"Version: v0.8.9", "Hot Keys", "Up/Down", "Scroll", "Left/Right", "Page scroll",
                                 "Ctrl+Up/Down", "Font size", "Ctrl+Left/Right", "Step chapter", "F11",
                                 "Full screen", "Ctrl+T", "Table of contents"})
        QVERIFY2(texts.contains(expected), expected);
}

QTEST_MAIN(MainFrameTest)
#include "tst_mainframe.moc"
