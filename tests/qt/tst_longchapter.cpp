// A chapter too long to lay out at once, shown a window of pieces at a time:
// reading through it to its end and back, places far from the window shown
// (a fragment, a whole-book match, a saved place), and a selection across
// the boundary of two pieces.

#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSignalSpy>
#include <QtTest>

#include "BookFixtures.h"
#include "MainFrameTestSupport.h"
#include "HitMarker.h"
#include "SearchBox.h"
#include "ViewTestTools.h"
#include "WholeBookSearch.h"
#include "src/ChapterPieces.h"

using test::Session;
using test::waitFor;
using viewtest::markedRuns;
using viewtest::runBox;
using viewtest::runIndex;

namespace {

constexpr int kParagraphs = 4000;

// Each paragraph carries a word of its own: "MarkN".
std::string longBody() {
    std::string out;
    for (int i = 0; i < kParagraphs; ++i)
        out += "<p id=\"p" + std::to_string(i) + "\">Mark" + std::to_string(i) +
               " words enough to fill a line or two of the page while the reader moves along it.</p>\n";
    return out;
}

std::string writeBook(const TempDir& dir) {
    return fixture::writeEpub(dir, "long.epub", "Long",
                              {{"one.xhtml", "<p>The opening chapter.</p>"},
                               {"long.xhtml", longBody()},
                               {"three.xhtml", "<p>The closing chapter.</p>"}},
                              {{"One", "one.xhtml", {}}, {"Long", "long.xhtml", {}}, {"Three", "three.xhtml", {}}});
}

// Whether paragraph n is painted inside the viewport.
bool onScreen(tf::HtmlWindow* view, int n) {
    const int run = runIndex(*view, "Mark" + std::to_string(n));
    if (run < 0)
        return false;
    const QRect box = runBox(*view, run);
    return box.top() >= view->scrollPosition() && box.bottom() <= view->scrollPosition() + view->pageSize();
}

// The paragraphs with a run in the viewport.
std::vector<int> visible(tf::HtmlWindow* view) {
    std::vector<int> out;
    auto lock = view->lockDocument();
    if (view->textRangeSize() == 0)
        view->createTextRange();
    const int top = view->scrollPosition(), bottom = top + view->pageSize();
    for (const auto& run : view->textRange()) {
        const std::string text = tf::run_text(run);
        if (text.compare(0, 4, "Mark") == 0 && run.pos.y + run.pos.height > top && run.pos.y < bottom)
            out.push_back(std::atoi(text.c_str() + 4));
    }
    return out;
}

void sendMouse(QWidget* viewport, QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons) {
    QMouseEvent event(type, QPointF(pos), QPointF(viewport->mapToGlobal(pos)), button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &event);
}

bool openLong(Session& s) {
    const tf::String address = test::epubAddress("OEBPS/long.xhtml");
    s.frame->loadURI(address);
    return waitFor([&] { return s.settled() && s.view()->current_address() == address; });
}

void key(QWidget* target, Qt::Key k) {
    QTest::keyClick(target, k);
}

// Follows a link to paragraph n of the chapter shown.
bool jumpTo(Session& s, int n) {
    s.frame->loadURI(test::epubAddress("OEBPS/long.xhtml#p" + std::to_string(n)));
    return waitFor([&] { return s.settled() && onScreen(s.view(), n); });
}

} // namespace

class LongChapterTest : public QObject {
    Q_OBJECT
private slots:
    void readsThroughToTheEndAndBack();
    void farPlacesBringTheirWindow();
    void selectionAcrossTwoPieces();
    void pageSearchGoesThroughTheWholeChapter();
    void aChapterStepIsNotLostToAWindow();
    void readingFlowsIntoItAndBackOutOfIt();
};

void LongChapterTest::readsThroughToTheEndAndBack() {
    TempDir dir;
    Session s;
    QVERIFY(s.open(writeBook(dir)));
    QVERIFY(openLong(s));
    tf::HtmlWindow* view = s.view();
    tf::Renderer::WindowSpan span;
    QVERIFY2(view->window_span(span), "a window of pieces, not the whole chapter");
    QVERIFY(!span.above && span.below);
    QVERIFY(onScreen(view, 0));

    // A page at a time, at a reader's pace: every screen shows text, each
    // following on from the last, up to the chapter's last paragraph.
    int last = visible(view).back();
    int windows = 0;
    const void* document = view->document().get();
    for (int step = 0; step < 2000 && !(onScreen(view, kParagraphs - 1)); ++step) {
        view->setScrollPosition(view->scrollPosition() + view->pageSize() - 40);
        QVERIFY(s.waitSettled());
        const std::vector<int> shown = visible(view);
        QVERIFY2(!shown.empty(), qPrintable(QString("a blank screen at %1").arg(view->scrollPosition())));
        QVERIFY2(shown.front() <= last + 1 && shown.back() > last,
                 qPrintable(QString("after paragraph %1 came %2-%3").arg(last).arg(shown.front()).arg(shown.back())));
        last = shown.back();
        if (view->document().get() != document) {
            document = view->document().get();
            ++windows;
        }
    }
    QVERIFY(onScreen(view, kParagraphs - 1));
    QVERIFY(windows >= 3);
    QVERIFY(view->window_span(span));
    QVERIFY(span.above && !span.below);
    QCOMPARE(view->current_address(), test::epubAddress("OEBPS/long.xhtml"));

    // Back to the top in one move (the scroll bar dragged up): the window there follows.
    view->setScrollPosition(0);
    QVERIFY(waitFor([&] { return s.settled() && view->window_span(span) && !span.above; }));
    QVERIFY(onScreen(view, 0));
}

void LongChapterTest::farPlacesBringTheirWindow() {
    TempDir dir;
    Session s;
    const std::string path = writeBook(dir);
    QVERIFY(s.open(path));
    QVERIFY(openLong(s));
    tf::HtmlWindow* view = s.view();

    // A link into the chapter's far end.
    QVERIFY(jumpTo(s, 3500));

    // A whole-book match in a piece far above.
    tf::WholeBookSearch* search = s.frame->getBookSearch();
    QKeyEvent find(QEvent::KeyPress, Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
    s.frame->processKey(find);
    s.frame->getSearchBox()->setText("Mark700 words");
    s.frame->doSearch(nullptr);
    QVERIFY(waitFor([&] { return search->finished(); }));
    QCOMPARE(search->hits().size(), size_t(1));
    QSignalSpy marked(search, &tf::WholeBookSearch::marked);
    QKeyEvent next(QEvent::KeyPress, Qt::Key_F3, Qt::NoModifier);
    s.frame->processKey(next);
    QVERIFY(waitFor([&] { return !marked.isEmpty() && s.settled(); }, 20000));
    QVERIFY(onScreen(view, 700));
    const std::vector<int> marks = markedRuns(*view);
    QVERIFY(!marks.empty());
    QCOMPARE(marks.front(), runIndex(*view, "Mark700"));

    // A place read far down is where the book opens again.
    QVERIFY(jumpTo(s, 2600));
    const std::vector<int> before = visible(view);
    s.frame->action(tf::MainFrame::CMD_FILE_CLOSE)->trigger();
    QVERIFY(view->isHomePageShown());
    s.frame->openBook(QString::fromStdString(path));
    QVERIFY(waitFor([&] {
        return s.settled() && view->current_address() == test::epubAddress("OEBPS/long.xhtml") &&
               !visible(view).empty() && visible(view).front() == before.front();
    }));
    tf::Renderer::WindowSpan span;
    QVERIFY(view->window_span(span) && span.above && span.below);
}

void LongChapterTest::selectionAcrossTwoPieces() {
    TempDir dir;
    Session s;
    QVERIFY(s.open(writeBook(dir)));
    QVERIFY(openLong(s));
    tf::HtmlWindow* view = s.view();

    // The first paragraph of the second piece, as the renderer cuts the chapter.
    std::string markup;
    QVERIFY(view->bookEntry("OEBPS/long.xhtml", markup));
    const tf::ChapterPieces pieces(std::make_shared<const std::string>(markup), 24 * 1024);
    QVERIFY(pieces.size() > 5);
    const size_t at = markup.find("Mark", pieces.piece(1).begin);
    const int first = std::atoi(markup.c_str() + at + 4);
    QVERIFY(first > 0);

    // Dragged from the last paragraph of the first piece into the first of the second.
    view->setScrollPosition(runBox(*view, runIndex(*view, "Mark" + std::to_string(first - 1))).top() - 100);
    QVERIFY(s.waitSettled());
    const int a = runIndex(*view, "Mark" + std::to_string(first - 1));
    const int b = runIndex(*view, "Mark" + std::to_string(first));
    QVERIFY(a >= 0 && b > a);
    QWidget* vp = view->viewport();
    const QPoint scroll(view->horizontalScrollBar()->value(), view->verticalScrollBar()->value());
    const QPoint from = runBox(*view, a).center() - scroll;
    const QPoint to = runBox(*view, b).center() - scroll;
    sendMouse(vp, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    sendMouse(vp, QEvent::MouseMove, from, Qt::NoButton, Qt::LeftButton);
    sendMouse(vp, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
    sendMouse(vp, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
    const QString text = view->selectedText();
    QVERIFY2(text.startsWith(QString("Mark%1 words").arg(first - 1)), qPrintable(text));
    QVERIFY2(text.endsWith(QString("Mark%1").arg(first)), qPrintable(text));
    view->copySelection();
    QCOMPARE(QGuiApplication::clipboard()->text(), text);
}

void LongChapterTest::pageSearchGoesThroughTheWholeChapter() {
    TempDir dir;
    Session s;
    QVERIFY(s.open(writeBook(dir)));
    QVERIFY(openLong(s));
    tf::HtmlWindow* view = s.view();
    QKeyEvent find(QEvent::KeyPress, Qt::Key_F, Qt::ControlModifier);
    s.frame->processKey(find);
    QVERIFY(!s.frame->getSearchBox()->wholeBook());
    s.frame->getSearchBox()->setText("Mark39");
    QSignalSpy marked(s.frame->getBookSearch()->marker(), &tf::HitMarker::marked);

    // From the top: Mark39, Mark390..399, then Mark3900 in a piece far below
    // the window shown; Shift+Enter goes back to Mark399.
    const struct {
        bool backward;
        int paragraph;
    } steps[] = {{false, 39}, {false, 390}, {false, 391}, {false, 392}, {false, 393}, {false, 394}, {false, 395},
                 {false, 396}, {false, 397}, {false, 398}, {false, 399}, {false, 3900}, {true, 399}};
    for (const auto& step : steps) {
        marked.clear();
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, step.backward ? Qt::ShiftModifier : Qt::NoModifier);
        s.frame->doSearch(&enter);
        QVERIFY(waitFor([&] { return !marked.isEmpty() && s.settled(); }, 20000));
        const std::vector<int> marks = markedRuns(*view);
        QVERIFY(!marks.empty());
        QCOMPARE(marks.front(), runIndex(*view, "Mark" + std::to_string(step.paragraph)));
        QVERIFY2(onScreen(view, step.paragraph), qPrintable(QString::number(step.paragraph)));
    }
    // Not in the chapter at all.
    s.frame->getSearchBox()->setText("Mark9999");
    s.frame->doSearch(nullptr);
    QCOMPARE(s.frame->statusText(), QString("Not found on this page: Mark9999"));
}

// The loader keeps one waiting job: a window asked for while a chapter step
// waits must not take its place, and a window job a load replaced must not
// keep later windows from being asked for.
void LongChapterTest::aChapterStepIsNotLostToAWindow() {
    TempDir dir;
    Session s;
    QVERIFY(s.open(writeBook(dir)));
    QVERIFY(openLong(s));
    tf::HtmlWindow* view = s.view();
    const tf::String three = test::epubAddress("OEBPS/three.xhtml");
    for (int round = 0; round < 3; ++round) {
        // A window far down is being built; the next chapter is asked for; the reader scrolls on.
        view->setScrollPosition(view->maxScrollPosition() / 2);
        s.frame->loadURI(three);
        view->setScrollPosition(view->maxScrollPosition() / 2 + view->pageSize());
        QVERIFY(waitFor([&] { return s.settled() && view->current_address() == three; }));
        // Back in the long chapter, windows still follow the reader.
        QVERIFY(openLong(s));
        view->setScrollPosition(view->maxScrollPosition() / 3);
        QVERIFY(waitFor([&] { return s.settled() && !visible(view).empty(); }));
    }
}

void LongChapterTest::readingFlowsIntoItAndBackOutOfIt() {
    TempDir dir;
    Session s;
    QVERIFY(s.open(writeBook(dir)));
    tf::HtmlWindow* view = s.view();
    const tf::String one = test::epubAddress("OEBPS/one.xhtml");
    const tf::String longOne = test::epubAddress("OEBPS/long.xhtml");
    const tf::String three = test::epubAddress("OEBPS/three.xhtml");
    s.frame->loadURI(one);
    QVERIFY(s.waitAddress(one));

    // The long chapter's top stands below the short one: PageDown scrolls on into it.
    QVERIFY(waitFor([&] { return view->followingAddress() == longOne; }));
    QVERIFY(s.waitSettled()); // the scroll bar it brings is shown
    const int end = view->followingTop();
    key(view, Qt::Key_PageDown);
    const int y = view->scrollPosition();
    QVERIFY(y > end);
    const QImage crossing = view->viewport()->grab().toImage();
    QVERIFY(s.waitAddress(longOne));
    tf::Renderer::WindowSpan span;
    QVERIFY(view->window_span(span));
    QVERIFY(!span.above);
    QCOMPARE(view->scrollPosition(), y - end);
    QCOMPARE(view->viewport()->grab().toImage(), crossing);
    QVERIFY(!visible(view).empty());

    // Its end, with the closing chapter below it.
    s.frame->onGoEnd();
    QVERIFY(waitFor([&] { return s.settled() && onScreen(view, kParagraphs - 1); }));
    QVERIFY(waitFor([&] { return view->followingAddress() == three; }));
    // On into the closing chapter, and back out of it into the long one's end.
    for (int i = 0; i < 4 && view->current_address() == longOne; ++i) {
        key(view, Qt::Key_PageDown);
        QVERIFY(s.waitSettled());
    }
    QCOMPARE(view->current_address(), three);
    view->setScrollPosition(0);
    key(view, Qt::Key_PageUp);
    QVERIFY(s.waitAddress(longOne));
    QCOMPARE(view->followingAddress(), three);
    QCOMPARE(view->scrollPosition(), view->followingTop() - (view->pageSize() - tf::HtmlWindow::kLineStep));
    QVERIFY(view->window_span(span));
    QVERIFY(span.above && !span.below);
    QVERIFY(waitFor([&] { return s.settled() && onScreen(view, kParagraphs - 1); }));
}

QTEST_MAIN(LongChapterTest)
#include "tst_longchapter.moc"
