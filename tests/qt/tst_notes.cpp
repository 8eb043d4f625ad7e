// Footnote pop-ups in the real window: a note link shows the note beside it
// (EPUB and FictionBook), pictures scaled and links working; "Go to note"
// jumps; Escape or a click outside closes; links that are no notes still jump.

#include <QBuffer>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBrowser>
#include <QtTest>

#include "BookFixtures.h"
#include "MainFrameTestSupport.h"
#include "NotePopup.h"
#include "ViewTestTools.h"

using test::Session;
using test::waitFor;

namespace {

std::string png(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

std::string notesBook(const TempDir& dir) {
    const std::string chapter =
        "<h1>Chapter</h1>"
        "<p>A marked note<a id=\"ref1\" epub:type=\"noteref\" href=\"notes.xhtml#n1\">1</a> in the text.</p>"
        "<p>A plain mark<sup><a id=\"ref2\" href=\"#fn2\">2</a></sup> in the text.</p>"
        "<p>A mark to a heading<sup><a id=\"ref3\" href=\"#sec\">3</a></sup> and a word link "
        "<a id=\"ref4\" href=\"#fn2\">see below</a>.</p>" +
        fixture::paragraphs("Filler", 30) + "<h2 id=\"sec\">Section</h2>" + fixture::paragraphs("More", 30) +
        "<p id=\"fn2\">Second note text, in the chapter.</p>";
    const std::string notes = "<h1>Notes</h1><aside epub:type=\"footnote\" id=\"n1\"><p>First note text with "
                              "<a href=\"ch1.xhtml#sec\">a link</a> and a picture <img src=\"wide.png\" alt=\"wide\"/>"
                              "</p></aside><p>Other text outside the note.</p>";
    return fixture::writeEpub(dir, "notes.epub", "Notes", {{"ch1.xhtml", chapter}, {"notes.xhtml", notes}},
                              {{"Chapter", "ch1.xhtml", {{"Section", "ch1.xhtml#sec", {}}}}, {"Notes", "notes.xhtml", {}}},
                              {{"OEBPS/wide.png", png(1200, 60)}});
}

std::string fictionBook(const TempDir& dir) {
    std::string body;
    for (int i = 0; i < 20; ++i)
        body += "<p>Filler paragraph " + std::to_string(i) + " of the FictionBook chapter.</p>";
    return dir.write("notes.fb2",
                     "<?xml version=\"1.0\" encoding=\"utf-8\"?><FictionBook "
                     "xmlns=\"http://www.gribuser.ru/xml/fictionbook/2.0\" xmlns:l=\"http://www.w3.org/1999/xlink\">"
                     "<description><title-info><book-title>Noted</book-title></title-info></description>"
                     "<body><section><title><p>Chapter</p></title><p>Text with a note<a l:href=\"#n1\" type=\"note\" "
                     "id=\"fref\">1</a> in it.</p>" +
                         body +
                         "</section></body><body name=\"notes\"><title><p>Notes</p></title><section id=\"n1\"><title>"
                         "<p>1</p></title><p>FictionBook note text.</p><image l:href=\"#pic\"/></section></body>"
                         "<binary id=\"pic\" content-type=\"image/png\">" +
                         QByteArray::fromStdString(png(30, 20)).toBase64().toStdString() + "</binary></FictionBook>");
}

// The box of the words of the element with that id (a link is inline: its words have the boxes).
QRect wordsOf(Session& s, const std::string& id) {
    auto lock = s.view()->lockDocument();
    auto doc = s.view()->document();
    auto el = doc ? viewtest::elementById(doc->root(), id) : nullptr;
    QRect box;
    std::vector<litehtml::element::ptr> stack{el};
    while (el && !stack.empty()) {
        auto e = stack.back();
        stack.pop_back();
        if (e->get_children_count() == 0)
            box = box.united(viewtest::toRect(e->get_placement()));
        for (size_t i = 0; i < e->get_children_count(); ++i)
            stack.push_back(e->get_child(static_cast<int>(i)));
    }
    return box;
}

// Clicks the centre of the element with that id, scrolled into view.
void clickElement(Session& s, const std::string& id) {
    QRect box = wordsOf(s, id);
    QVERIFY2(box.isValid() && box.width() > 0, id.c_str());
    s.view()->setScrollPosition(std::max(0, box.top() - 100));
    QApplication::processEvents();
    const QPoint at = box.center() - QPoint(s.view()->horizontalScrollBar()->value(), s.view()->scrollPosition());
    QTest::mouseClick(s.view()->viewport(), Qt::LeftButton, Qt::NoModifier, at);
}

tf::NotePopup* popupOf(Session& s) {
    return s.frame->getNotePopup();
}

bool shown(Session& s) {
    return waitFor([&] { return popupOf(s)->isVisible(); }, 5000);
}

std::string entryShown(Session& s) {
    return tf::URI(s.view()->current_address()).m_path.str();
}

} // namespace

class NotesTest : public QObject {
    Q_OBJECT
private slots:
    void epubNoteLinksOpenThePopup();
    void goToNoteAndLinksInsideJump();
    void linksThatAreNoNotesStillJump();
    void fictionBookNoteShowsItsSection();
};

void NotesTest::epubNoteLinksOpenThePopup() {
    Session s;
    TempDir dir;
    QVERIFY(s.open(notesBook(dir)));
    s.frame->getContentsTree()->setCurrentLine(0);
    QVERIFY(waitFor([&] { return s.settled() && entryShown(s) == "OEBPS/ch1.xhtml"; }));

    // Marked by the book, its note in another entry.
    clickElement(s, "ref1");
    QVERIFY(shown(s));
    tf::NotePopup* popup = popupOf(s);
    const QString text = popup->textView()->toPlainText();
    QVERIFY2(text.contains("First note text with a link"), qPrintable(text));
    QVERIFY(!text.contains("Other text outside the note"));
    QVERIFY(!text.contains("Notes"));
    // Beside the link, and the page stays where it was.
    QCOMPARE(entryShown(s), std::string("OEBPS/ch1.xhtml"));
    const QRect link = wordsOf(s, "ref1");
    const QPoint linkOnScreen = s.view()->viewport()->mapToGlobal(
        link.bottomLeft() - QPoint(s.view()->horizontalScrollBar()->value(), s.view()->scrollPosition()));
    QVERIFY(std::abs(popup->geometry().top() - linkOnScreen.y()) < 40 ||
            std::abs(popup->geometry().bottom() - linkOnScreen.y()) < 60);
    // The wide picture came from the book, scaled to the pop-up.
    const QVariant picture = popup->textView()->document()->resource(QTextDocument::ImageResource, QUrl("wide.png"));
    const QImage image = picture.value<QImage>();
    QVERIFY(!image.isNull());
    QVERIFY(image.width() < popup->width());
    QCOMPARE(image.pixelColor(0, 0), QColor(Qt::red));
    // Escape closes it.
    QTest::keyClick(popup, Qt::Key_Escape);
    QVERIFY(!popup->isVisible());

    // A short superscript mark to a paragraph further on.
    clickElement(s, "ref2");
    QVERIFY(shown(s));
    QCOMPARE(popup->textView()->toPlainText().trimmed(), QString("Second note text, in the chapter."));
    // A click outside closes it.
    QTest::mouseClick(popup, Qt::LeftButton, Qt::NoModifier, QPoint(-20, -20));
    QVERIFY(waitFor([&] { return !popup->isVisible(); }, 5000));
    QCOMPARE(entryShown(s), std::string("OEBPS/ch1.xhtml"));
}

void NotesTest::goToNoteAndLinksInsideJump() {
    Session s;
    TempDir dir;
    QVERIFY(s.open(notesBook(dir)));
    s.frame->getContentsTree()->setCurrentLine(0);
    QVERIFY(waitFor([&] { return s.settled() && entryShown(s) == "OEBPS/ch1.xhtml"; }));
    clickElement(s, "ref1");
    QVERIFY(shown(s));
    QTest::mouseClick(popupOf(s)->goButton(), Qt::LeftButton);
    QVERIFY(!popupOf(s)->isVisible());
    QVERIFY(waitFor([&] { return s.settled() && entryShown(s) == "OEBPS/notes.xhtml"; }));

    // The link inside the note leads back into the chapter, at its section.
    s.frame->getContentsTree()->setCurrentLine(1);
    QVERIFY(waitFor([&] { return s.settled() && entryShown(s) == "OEBPS/ch1.xhtml"; }));
    clickElement(s, "ref1");
    QVERIFY(shown(s));
    emit popupOf(s)->textView()->anchorClicked(QUrl("ch1.xhtml#sec"));
    QVERIFY(!popupOf(s)->isVisible());
    QCOMPARE(entryShown(s), std::string("OEBPS/ch1.xhtml"));
    const int section = s.view()->find_anchor("sec");
    QVERIFY(section > 0);
    QVERIFY(waitFor([&] { return std::abs(s.view()->scrollPosition() - std::min(section, s.view()->maxScrollPosition())) <= 2; }));
}

void NotesTest::linksThatAreNoNotesStillJump() {
    Session s;
    TempDir dir;
    QVERIFY(s.open(notesBook(dir)));
    s.frame->getContentsTree()->setCurrentLine(0);
    QVERIFY(waitFor([&] { return s.settled() && entryShown(s) == "OEBPS/ch1.xhtml"; }));
    const int section = s.view()->find_anchor("sec"), note = s.view()->find_anchor("fn2");
    // A superscript mark to a heading, and a link of words: both go there.
    struct Case {
        const char* id;
        int y;
    } cases[] = {{"ref3", section}, {"ref4", note}};
    for (const Case& c : cases) {
        clickElement(s, c.id);
        const int expected = std::min(c.y, s.view()->maxScrollPosition());
        QVERIFY2(waitFor([&] { return s.settled() && std::abs(s.view()->scrollPosition() - expected) <= 2; }), c.id);
        QVERIFY(!popupOf(s)->isVisible());
    }
}

void NotesTest::fictionBookNoteShowsItsSection() {
    Session s;
    TempDir dir;
    QVERIFY(s.open(fictionBook(dir)));
    s.frame->getContentsTree()->setCurrentLine(0);
    QVERIFY(waitFor([&] { return s.settled() && tf::URI(s.view()->current_address()).is("fb2") &&
                                 wordsOf(s, "fref").isValid(); }));
    const std::string chapter = entryShown(s);
    clickElement(s, "fref");
    QVERIFY(shown(s));
    const QString text = popupOf(s)->textView()->toPlainText().trimmed();
    // The section's text without its title, and its picture from the book's binaries.
    QCOMPARE(text.left(22), QString("FictionBook note text."));
    const QImage picture =
        popupOf(s)->textView()->document()->resource(QTextDocument::ImageResource, QUrl("#pic")).value<QImage>();
    QCOMPARE(picture.size(), QSize(30, 20));
    QCOMPARE(entryShown(s), chapter);
    QTest::mouseClick(popupOf(s)->goButton(), Qt::LeftButton);
    QVERIFY(waitFor([&] { return s.settled() && entryShown(s) != chapter; }));
    QVERIFY(s.view()->paintedText(QRect(0, 0, 2000, 4000)).find("FictionBook note text.") != std::string::npos);
}

QTEST_MAIN(NotesTest)
#include "tst_notes.moc"
