// The whole book in the window: the results panel and F3 across chapters,
// positions that hold across zoom and width, the progress text, saving when
// reading pauses, and a reader process ended by signals.

#include <QDockWidget>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include <csignal>

#include "BookFixtures.h"
#include "MainFrameTestSupport.h"
#include "ReadingTracker.h"
#include "SearchBox.h"
#include "BookSearchPanel.h"
#include "WholeBookSearch.h"
#include "src/BookTextCache.h"
#include "src/ReadingPositions.h"
#include "utility/DataStore.h"
#include "utility/FoldedText.h"
#include "utility/URI.h"

using test::Session;
using test::waitFor;

namespace {

void sendKey(tf::MainFrame& frame, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QKeyEvent event(QEvent::KeyPress, key, modifiers);
    frame.processKey(event);
}

// Corpus books as the window records them.
std::string bookPath(const char* name) {
    return QFileInfo(QString::fromStdString(corpus_path(name))).absoluteFilePath().toStdString();
}

std::string canonical(const std::string& path) {
    return QFileInfo(QString::fromStdString(path)).canonicalFilePath().toStdString();
}

// The lower-cased text of run i of the view's text range.
std::string runText(tf::HtmlWindow* view, size_t i) {
    auto lock = view->lockDocument();
    const auto& runs = view->textRange();
    return i < runs.size() ? QString::fromStdString(tf::run_text(runs[i])).toLower().toStdString() : std::string();
}

int firstMarked(tf::HtmlWindow* view) {
    for (size_t i = 0; i < view->textRangeSize(); ++i)
        if (view->isRunMarked(i))
            return static_cast<int>(i);
    return -1;
}

std::string entryShown(tf::HtmlWindow* view) {
    std::string entry, scheme;
    view->GetInfoUri(entry, scheme);
    return entry;
}

bool openChapter(Session& s, const std::string& entry) {
    s.frame->loadURI(test::epubAddress(entry));
    return s.waitAddress(test::epubAddress(entry));
}

} // namespace

class WholeBookTest : public QObject {
    Q_OBJECT
private slots:
    void resultsPanelAndF3StepAcrossChapters();
    void fictionBookIsSearchedToo();
    void matchInALongChapterIsMarkedOnTheWholePage();
    void anchorsHoldAcrossZoomAndWidth();
    void progressTextAndHomePagePercent();
    void readingPauseSavesOnceAndOnlyWhenMoved();
    void killedReaderKeepsItsPosition();
};

void WholeBookTest::resultsPanelAndF3StepAcrossChapters() {
    Session s;
    const std::string path = bookPath("epub2-pg11-alice.epub");
    QVERIFY(s.open(path));
    tf::WholeBookSearch* search = s.frame->getBookSearch();

    // Ctrl+Shift+F opens the box for the whole book; Ctrl+F is the page search.
    sendKey(*s.frame, Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
    QVERIFY(s.frame->getSearchBox()->isVisible());
    QVERIFY(s.frame->getSearchBox()->wholeBook());
    s.frame->getSearchBox()->setText("RABBIT");
    s.frame->doSearch(nullptr);
    QVERIFY(search->dock()->isVisible());
    QVERIFY(waitFor([&] { return search->finished(); }));

    // As many as the core finds, listed in reading order with context and the match in bold.
    std::unique_ptr<tf::BookTextCache> text = tf::BookTextCache::open(path);
    size_t expected = 0;
    tf::BookSearch::run(*text, "rabbit", {}, [&](size_t, std::vector<tf::BookSearch::Hit>& hits) {
        expected += hits.size();
        return true;
    });
    const auto& hits = search->hits();
    QVERIFY(expected > 20);
    QCOMPARE(hits.size(), expected);
    QCOMPARE(search->panel()->count(), static_cast<int>(expected));
    QVERIFY(search->panel()->summary().startsWith(QString("%1 matches in").arg(expected)));
    QVERIFY(search->panel()->rowHtml(0).contains(QRegularExpression("<b>[Rr]abbit</b>")));
    QVERIFY(search->panel()->rowHtml(0).contains("CHAPTER I"));
    for (size_t i = 1; i < hits.size(); ++i)
        QVERIFY(hits[i].entry > hits[i - 1].entry || hits[i].offset > hits[i - 1].offset);

    // The cover page built again at a new width keeps the book as it is open: the results stay.
    const int coverWidth = s.view()->documentSize().width();
    s.frame->resize(s.frame->width() - 120, s.frame->height());
    QVERIFY(waitFor([&] { return s.settled() && s.view()->documentSize().width() < coverWidth; }));
    QCOMPARE(search->hits().size(), expected);
    QCOMPARE(search->panel()->count(), static_cast<int>(expected));

    // F3 goes through every match; each one marked is exactly its occurrence:
    // as many "rabbit"s before it on the page as matches before it in its chapter.
    size_t chaptersVisited = 0;
    for (size_t i = 0; i < hits.size(); ++i) {
        QSignalSpy marked(search, &tf::WholeBookSearch::marked);
        sendKey(*s.frame, Qt::Key_F3);
        QVERIFY(waitFor([&] { return !marked.isEmpty() || search->current() != static_cast<int>(i); }, 20000));
        QCOMPARE(search->current(), static_cast<int>(i));
        QVERIFY2(!marked.isEmpty(), qPrintable(QString("match %1 was not marked").arg(i)));
        // A rebuild at the window's new width may still come in: the mark holds on it.
        QVERIFY(s.waitSettled());
        const std::string entry = text->entryName(hits[i].entry);
        QCOMPARE(entryShown(s.view()), entry);
        if (i == 0 || hits[i].entry != hits[i - 1].entry)
            ++chaptersVisited;
        const int run = firstMarked(s.view());
        QVERIFY(run >= 0);
        QVERIFY(runText(s.view(), static_cast<size_t>(run)).find("rabbit") != std::string::npos);
        size_t before = 0;
        for (int k = 0; k < run; ++k)
            before += runText(s.view(), static_cast<size_t>(k)).find("rabbit") != std::string::npos;
        size_t earlier = 0;
        for (size_t k = 0; k < i; ++k)
            earlier += hits[k].entry == hits[i].entry;
        QCOMPARE(before, earlier);
        // The marked run is on screen.
        auto lock = s.view()->lockDocument();
        const int y = s.view()->textRange()[static_cast<size_t>(run)].pos.y;
        QVERIFY(y >= s.view()->scrollPosition() && y < s.view()->scrollPosition() + s.view()->pageSize());
    }
    QVERIFY(chaptersVisited > 3);
    // Past the last it wraps to the first; Shift+F3 goes back to the last.
    sendKey(*s.frame, Qt::Key_F3);
    QVERIFY(waitFor([&] { return search->current() == 0 && entryShown(s.view()) == text->entryName(hits[0].entry); }));
    sendKey(*s.frame, Qt::Key_F3, Qt::ShiftModifier);
    QVERIFY(waitFor([&] { return search->current() == static_cast<int>(hits.size() - 1); }));
    // F3 typed in the search box goes on too.
    QTest::keyClick(s.frame->getSearchBox(), Qt::Key_F3);
    QVERIFY(waitFor([&] { return search->current() == 0; }));

    // Picking a line of the panel opens its chapter.
    const int middle = static_cast<int>(hits.size() / 2);
    QSignalSpy marked(search, &tf::WholeBookSearch::marked);
    emit search->panel()->picked(middle);
    QVERIFY(waitFor([&] { return !marked.isEmpty(); }));
    QCOMPARE(marked.first().first().toInt(), middle);
    QCOMPARE(entryShown(s.view()), text->entryName(hits[static_cast<size_t>(middle)].entry));

    // Nothing found says so; Ctrl+F goes back to the page search.
    s.frame->getSearchBox()->setText("zzqx nowhere");
    s.frame->doSearch(nullptr);
    QVERIFY(waitFor([&] { return search->finished(); }));
    QCOMPARE(search->panel()->count(), 0);
    QCOMPARE(search->panel()->summary(), QString("Not found in this book"));
    sendKey(*s.frame, Qt::Key_F, Qt::ControlModifier);
    sendKey(*s.frame, Qt::Key_F, Qt::ControlModifier);
    QVERIFY(s.frame->getSearchBox()->isVisible());
    QVERIFY(!s.frame->getSearchBox()->wholeBook());
}

void WholeBookTest::matchInALongChapterIsMarkedOnTheWholePage() {
    // A long chapter shows its first screen before the rest: the match near
    // its end is marked on the whole page, and the mark stays.
    TempDir dir;
    const std::string path = fixture::writeEpub(
        dir, "long.epub", "Long",
        {{"one.xhtml", "<p>the opening chapter</p>"},
         {"two.xhtml", fixture::paragraphs("long", 1500) + "<p>the zebra at the end</p>"}},
        {{"One", "one.xhtml", {}}, {"Two", "two.xhtml", {}}});
    Session s;
    QVERIFY(s.open(path));
    tf::WholeBookSearch* search = s.frame->getBookSearch();
    sendKey(*s.frame, Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
    s.frame->getSearchBox()->setText("zebra");
    s.frame->doSearch(nullptr);
    QVERIFY(waitFor([&] { return search->finished(); }));
    QCOMPARE(search->hits().size(), size_t(1));
    QSignalSpy marked(search, &tf::WholeBookSearch::marked);
    sendKey(*s.frame, Qt::Key_F3);
    QVERIFY(waitFor([&] { return !marked.isEmpty(); }, 20000));
    QVERIFY(!s.view()->is_partial());
    QTest::qWait(300);
    const int run = firstMarked(s.view());
    QVERIFY(run >= 0);
    QVERIFY(runText(s.view(), static_cast<size_t>(run)).find("zebra") != std::string::npos);
    {
        auto lock = s.view()->lockDocument();
        const int y = s.view()->textRange()[static_cast<size_t>(run)].pos.y;
        QVERIFY(y >= s.view()->scrollPosition() && y < s.view()->scrollPosition() + s.view()->pageSize());
    }

    // A new width builds the chapter again: the match is marked on the new page too.
    const auto sizeBefore = s.view()->documentSize();
    s.frame->resize(s.frame->width() - 200, s.frame->height());
    QVERIFY(waitFor([&] { return s.settled() && !s.view()->is_partial() && s.view()->documentSize() != sizeBefore; }));
    QTest::qWait(300);
    const int again = firstMarked(s.view());
    QVERIFY(again >= 0);
    QVERIFY(runText(s.view(), static_cast<size_t>(again)).find("zebra") != std::string::npos);
}

void WholeBookTest::fictionBookIsSearchedToo() {
    struct Case {
        const char* book;
        const char* phrase;
    };
    const Case cases[] = {
        {"fb2-fb2cng-_Test.fb2", "Текст"},
        {"fb2-fb2document-_Test_1-en.fb2", "Text"},
    };
    for (const Case& c : cases) {
        Session s;
        const std::string path = bookPath(c.book);
        QVERIFY2(s.open(path), c.book);
        tf::WholeBookSearch* search = s.frame->getBookSearch();
        sendKey(*s.frame, Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
        s.frame->getSearchBox()->setText(QString::fromUtf8(c.phrase));
        s.frame->doSearch(nullptr);
        QVERIFY(waitFor([&] { return search->finished(); }));
        QVERIFY2(!search->hits().empty(), c.book);
        // The last match (Shift+F3 from none), scrolled to and marked.
        QSignalSpy marked(search, &tf::WholeBookSearch::marked);
        sendKey(*s.frame, Qt::Key_F3, Qt::ShiftModifier);
        QVERIFY2(waitFor([&] { return !marked.isEmpty(); }), c.book);
        const int run = firstMarked(s.view());
        QVERIFY(run >= 0);
        QVERIFY(QString::fromStdString(runText(s.view(), static_cast<size_t>(run)))
                    .contains(QString::fromUtf8(c.phrase).toLower()));
        QVERIFY(s.frame->getTracker()->progressText().startsWith("Chapter "));
    }
}

void WholeBookTest::anchorsHoldAcrossZoomAndWidth() {
    Session s;
    const std::string path = bookPath("epub2-pg1661-sherlock-holmes.epub");
    QVERIFY(s.open(path));
    const test::BookFacts facts = test::readBook("epub", path);
    const std::string entry = facts.spine.at(3).first;
    QVERIFY(openChapter(s, entry));
    tf::ReadingTracker* tracker = s.frame->getTracker();
    s.view()->setScrollPosition(s.view()->pageEndPosition() / 2);
    QVERIFY(s.waitSettled());
    const tf::ReadingPositions::Anchor start = tracker->anchorNow();
    QVERIFY(start.valid());
    QCOMPARE(start.entry, entry);
    const std::u32string chapter = *tracker->book()->text(3);
    // A line holds fewer characters than this at any width used here.
    const long line = 120;

    struct Step {
        const char* what;
        std::function<void()> change;
    };
    const Step steps[] = {
        {"zoom in", [&] { s.frame->onZoomIn(); }},
        {"zoom in again", [&] { s.frame->onZoomIn(); }},
        {"narrower", [&] { s.frame->resize(520, 650); }},
        {"zoom out", [&] { s.frame->onZoomOut(); }},
        {"wider", [&] { s.frame->resize(1000, 650); }},
    };
    for (const Step& step : steps) {
        const int pixelsBefore = s.view()->scrollPosition();
        const QSize sizeBefore = s.view()->documentSize();
        step.change();
        QVERIFY2(waitFor([&] { return s.settled() && s.view()->documentSize() != sizeBefore; }), step.what);
        QTest::qWait(200); // the relayout after a resize, and the anchor applied after it
        QVERIFY(s.waitSettled());
        const tf::ReadingPositions::Anchor now = tracker->anchorNow();
        QCOMPARE(now.entry, entry);
        // The same text at the top, to within a line: the new top line holds the old first character.
        QVERIFY2(now.offset <= start.offset && start.offset - now.offset < line,
                 qPrintable(QString("%1: %2 -> %3 (%4 -> %5 px): %6")
                                .arg(step.what)
                                .arg(start.offset)
                                .arg(now.offset)
                                .arg(pixelsBefore)
                                .arg(s.view()->scrollPosition())
                                .arg(QString::fromStdU32String(chapter.substr(static_cast<size_t>(now.offset), 60)))));
    }

    // Saved on close and restored by text at another width and font size.
    const tf::ReadingPositions::Anchor saved = tracker->anchorNow();
    s.frame->onFileClose();
    tf::ReadingPositions::Anchor stored;
    QVERIFY(tf::ReadingPositions(*s.frame->getLibrary()).fetch(path, stored));
    QCOMPARE(stored.entry, entry);
    QCOMPARE(stored.offset, saved.offset);
    s.frame->resize(700, 650);
    s.view()->setFontSize(16);
    QVERIFY(s.open(path));
    QVERIFY(waitFor([&] { return entryShown(s.view()) == entry && s.settled(); }));
    QTest::qWait(100);
    QVERIFY(s.waitSettled());
    const tf::ReadingPositions::Anchor back = tracker->anchorNow();
    QVERIFY2(back.offset <= saved.offset && saved.offset - back.offset < line,
             qPrintable(QString("%1 -> %2").arg(saved.offset).arg(back.offset)));
}

void WholeBookTest::progressTextAndHomePagePercent() {
    Session s;
    const std::string path = bookPath("epub2-pg1661-sherlock-holmes.epub");
    QVERIFY(s.open(path));
    const test::BookFacts facts = test::readBook("epub", path);
    QVERIFY(openChapter(s, facts.spine.at(5).first));
    tf::ReadingTracker* tracker = s.frame->getTracker();
    const QString chapter = QString("Chapter 6 of %1").arg(facts.spine.size());
    QVERIFY(waitFor([&] { return tracker->progressText().contains(QString::fromUtf8(" \u00b7 ")); }));
    QVERIFY2(tracker->progressText().startsWith(chapter), qPrintable(tracker->progressText()));

    // The share follows the text before the top of the view.
    const std::shared_ptr<tf::BookTextCache> book = tracker->book();
    long before = 0, total = 0;
    for (size_t i = 0; i < book->entryCount(); ++i) {
        const long n = static_cast<long>(book->text(i)->size());
        total += n;
        if (i < 5)
            before += n;
    }
    QCOMPARE(tracker->percentNow(), static_cast<int>(before * 100 / total));
    s.view()->setScrollPosition(s.view()->pageEndPosition());
    QVERIFY(s.waitSettled());
    const int atEnd = tracker->percentNow();
    QVERIFY(atEnd > static_cast<int>(before * 100 / total));
    QVERIFY(atEnd <= static_cast<int>((before + book->text(5)->size()) * 100 / total));
    QVERIFY(tracker->progressText().endsWith(QString(" %1 %").arg(atEnd)));

    // The home page tells each book's share read.
    s.frame->onFileClose();
    QVERIFY(s.homePage().find(std::to_string(atEnd) + " % read") != std::string::npos);
    QVERIFY(tracker->progressText().isEmpty());
}

void WholeBookTest::readingPauseSavesOnceAndOnlyWhenMoved() {
    Session s;
    const std::string path = bookPath("epub2-pg1661-sherlock-holmes.epub");
    QVERIFY(s.open(path));
    const test::BookFacts facts = test::readBook("epub", path);
    QVERIFY(openChapter(s, facts.spine.at(2).first));
    tf::ReadingTracker* tracker = s.frame->getTracker();
    QSignalSpy saved(tracker, &tf::ReadingTracker::saved);
    QVERIFY(waitFor([&] { return saved.count() == 1; }, 5000)); // the chapter step was a move
    saved.clear();

    for (int i = 1; i <= 5; ++i) { // reading on, a step every half second
        s.view()->setScrollPosition(i * 300);
        QTest::qWait(500);
    }
    QCOMPARE(saved.count(), 0); // still moving
    QVERIFY(waitFor([&] { return saved.count() == 1; }, 2 * tf::ReadingTracker::kIdleSaveMs));
    tf::ReadingPositions::Anchor stored;
    QVERIFY(tf::ReadingPositions(*s.frame->getLibrary()).fetch(path, stored));
    QCOMPARE(stored.offset, tracker->anchorNow().offset);
    tf::String address;
    int position = 0, zoom = 0;
    QVERIFY(s.frame->getLibrary()->fetchReadState(tf::String(path), address, position, zoom));
    QCOMPARE(position, 1500);
    QCOMPARE(address, test::epubAddress(facts.spine.at(2).first));

    // Standing still writes nothing.
    QTest::qWait(tf::ReadingTracker::kIdleSaveMs + 500);
    QCOMPARE(saved.count(), 1);
    QVERIFY(!tracker->saveNow(false));
}

void WholeBookTest::killedReaderKeepsItsPosition() {
    const std::string book = canonical(corpus_path("epub2-pg1661-sherlock-holmes.epub"));
    const test::BookFacts facts = test::readBook("epub", book);
    const std::string entry = facts.spine.at(4).first;

    struct Ending {
        const char* name;
        int signal;
    };
    for (const Ending ending : {Ending{"SIGKILL", SIGKILL}, Ending{"SIGTERM", SIGTERM}, Ending{"SIGINT", SIGINT},
                               Ending{"SIGHUP", SIGHUP}}) {
        TempDir home;
        {
            // The library knows the book at chapter 5 (in pixels only, as before anchors).
            setenv("XDG_DATA_HOME", home.path.c_str(), 1);
            tf::DataHelper library;
            QVERIFY(library.addNewFile(tf::String(book), tf::String("Sherlock"), tf::String("")));
            QVERIFY(library.saveReadState(tf::String(book), test::epubAddress(entry), 900, 20));
        }
        QProcess reader;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", QString::fromStdString(home.path));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        reader.setProcessEnvironment(env);
        reader.setProgram(QFileInfo(ORINEL_RENDER_BIN).dir().filePath("orinel-reader"));
        reader.setArguments({QString::fromStdString(book)});
        reader.start();
        QVERIFY(reader.waitForStarted());

        tf::DataStore store(home.path + "/OrinelReader/data.db");
        auto storedEntry = [&] {
            tf::DataStore::Rows rows;
            store.getQuery("SELECT entry FROM positions WHERE filename=?", {book}, rows);
            return rows.empty() ? std::string() : rows.front()["entry"];
        };
        if (ending.signal == SIGKILL) {
            // Restored to chapter 5 is a move: saved once reading pauses, then killed outright.
            QVERIFY2(waitFor([&] { return storedEntry() == entry; }, 20000), ending.name);
            ::kill(static_cast<pid_t>(reader.processId()), SIGKILL);
            QVERIFY(reader.waitForFinished(10000));
            QCOMPARE(reader.exitStatus(), QProcess::CrashExit);
        } else {
            QVERIFY(waitFor([&] { return reader.readAllStandardError().contains("restore reading pos"); }, 20000));
            QTest::qWait(800); // the chapter is shown, the pause not yet over
            ::kill(static_cast<pid_t>(reader.processId()), ending.signal);
            QVERIFY(reader.waitForFinished(10000));
            QCOMPARE(reader.exitStatus(), QProcess::NormalExit);
            QCOMPARE(reader.exitCode(), 0);
        }
        QCOMPARE(storedEntry(), entry);
        tf::DataStore::Rows rows;
        store.getQuery("SELECT read_uri FROM files WHERE filename=?", {book}, rows);
        QCOMPARE(rows.size(), size_t(1));
        QCOMPARE(rows.front()["read_uri"], "epub://" + entry);
    }
}

QTEST_MAIN(WholeBookTest)
#include "tst_wholebook.moc"
