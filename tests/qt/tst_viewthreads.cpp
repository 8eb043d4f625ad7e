// The view while a loader thread lays chapters out and the window thread
// paints, scrolls, selects, searches and resizes: nothing crashes, every
// widget request arrives on the window thread, and the last chapter loaded
// is the one on screen. Also run under ThreadSanitizer (scripts/tsan-tests).

#include <QScrollBar>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "HtmlWindow.h"
#include "ViewTestTools.h"
#include "corpus.h"

using namespace viewtest;

class TestViewThreads : public QObject {
    Q_OBJECT

private slots:
    void loadsChaptersWhilePainting() {
        tf::HtmlWindow view;
        view.resize(600, 500);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));

        QThread* windowThread = QThread::currentThread();
        std::atomic<int> offThread{0};
        connect(&view, &tf::HtmlWindow::progressChanged, &view, [&](int) {
            if (QThread::currentThread() != windowThread)
                ++offThread;
        }, Qt::DirectConnection);

        const std::string book = corpus_path("epub2-pg11-alice.epub");
        std::atomic<bool> done{false};
        std::string lastChapter;
        std::thread loader([&]() {
            view.load_uri(tf::String(book));
            view.showCoverPage();
            std::vector<std::string> chapters;
            {
                auto lock = view.lockReader();
                for (const auto& entry : view.getReader()->spine())
                    chapters.push_back(entry.first);
            }
            const size_t count = std::min<size_t>(chapters.size(), 8);
            for (int round = 0; round < 2; ++round) {
                for (size_t i = 1; i < count; ++i) {
                    view.queueTask("scroll.set", tf::String(std::to_string(100 * i)));
                    view.load_uri(tf::String("epub://" + chapters[i]));
                    lastChapter = chapters[i];
                }
            }
            done = true;
        });

        int frame = 0;
        while (!done) {
            ++frame;
            view.setScrollPosition((frame * 37) % std::max(1, view.maxScrollPosition() + 1));
            view.viewport()->repaint();
            if (frame % 5 == 0)
                view.search_text("the", static_cast<unsigned>(frame % 2));
            if (frame % 7 == 0) {
                QMouseEvent press(QEvent::MouseButtonPress, QPointF(120, 80), QPointF(120, 80), Qt::LeftButton,
                                  Qt::LeftButton, Qt::NoModifier);
                QCoreApplication::sendEvent(view.viewport(), &press);
                QMouseEvent move(QEvent::MouseMove, QPointF(300, 200), QPointF(300, 200), Qt::NoButton, Qt::LeftButton,
                                 Qt::NoModifier);
                QCoreApplication::sendEvent(view.viewport(), &move);
                QMouseEvent release(QEvent::MouseButtonRelease, QPointF(300, 200), QPointF(300, 200), Qt::LeftButton,
                                    Qt::NoButton, Qt::NoModifier);
                QCoreApplication::sendEvent(view.viewport(), &release);
                view.selectedText();
            }
            if (frame % 11 == 0)
                view.resize(560 + (frame % 3) * 40, 500); // re-layout on the window thread meanwhile
            QCoreApplication::processEvents();
        }
        loader.join();
        QTest::qWait(300); // queued requests and the pending re-layout
        view.viewport()->repaint();

        QCOMPARE(offThread.load(), 0);
        QVERIFY(frame > 0);
        QCOMPARE(view.current_address().str(), "epub://" + lastChapter);
        const QImage page = view.viewport()->grab().toImage();
        QVERIFY(ink(page, page.rect()) > 1000);
        QVERIFY(view.documentSize().height() > view.pageSize());
    }

    // A long page asked for off the window thread shows its first screen from
    // a prefix of its markup, then the whole page in its place: what the
    // reader sees does not change, and the scroll range covers the estimated
    // whole at once. A newer request waiting between the steps ends the load.
    void longPageShowsItsFirstScreenThenTheWhole() {
        TempDir dir;
        const std::string path = dir.path + "/long.xhtml";
        writeFile(path, longPage(1500));
        for (bool superseded : {false, true}) {
            HeldView held(superseded);
            tf::HtmlWindow& view = held.view;
            QVERIFY(QTest::qWaitForWindowExposed(&view));
            std::atomic<int>& between = held.between;
            std::atomic<bool>& release = held.release;
            std::thread loader([&] { view.load_uri(tf::String(path)); });
            QTRY_VERIFY_WITH_TIMEOUT(between.load() == 1, 20000);
            QTRY_VERIFY(view.maxScrollPosition() > 0);
            const int prefixHeight = view.document()->height();
            const int estimate = view.maxScrollPosition() + view.pageSize();
            const QRect screen(0, 0, view.viewport()->width(), view.pageSize());
            const std::string first = view.paintedText(screen);
            release = true;
            loader.join();
            QCoreApplication::processEvents();
            QCOMPARE(between.load(), 1);
            QVERIFY2(first.find("Paragraph 1 ") != std::string::npos, first.c_str());
            QVERIFY(prefixHeight > view.pageSize());
            QVERIFY(estimate > prefixHeight);
            if (superseded) {
                QCOMPARE(view.document()->height(), prefixHeight);
                // The same page asked for again, at a place below its top: built whole now.
                view.setLoadSuperseded([] { return false; });
                std::thread again([&] { view.load_uri(tf::String(path + "#p1400")); });
                again.join();
                QTRY_VERIFY(view.document()->height() > 2 * prefixHeight);
                QTRY_VERIFY(view.scrollPosition() > prefixHeight);
                continue;
            }
            const int whole = view.document()->height();
            QVERIFY(whole > 2 * prefixHeight);
            QTRY_COMPARE(view.maxScrollPosition() + view.pageSize(), whole);
            // Estimated from the share of the markup laid out: near the truth.
            QVERIFY2(std::abs(estimate - whole) < whole / 5, qPrintable(QString("%1 vs %2").arg(estimate).arg(whole)));
            QCOMPARE(view.paintedText(screen), first);
            QVERIFY(view.paintedText(QRect(0, whole - 200, 500, 200)).find("Paragraph 1499 ") != std::string::npos);
        }
    }

    // A fragment the prefix does not reach is built whole (no jump from the
    // top to it); one inside the prefix is scrolled to from the first screen on.
    void fragmentDecidesWhetherTheFirstScreenComesFirst() {
        TempDir dir;
        const std::string path = dir.path + "/long.xhtml";
        writeFile(path, longPage(1500));
        const struct {
            const char* fragment;
            int steps;
        } cases[] = {{"p1400", 0}, {"p40", 1}};
        for (const auto& c : cases) {
            HeldView held(false);
            tf::HtmlWindow& view = held.view;
            QVERIFY(QTest::qWaitForWindowExposed(&view));
            std::atomic<int>& between = held.between;
            std::atomic<bool>& release = held.release;
            std::thread loader([&] { view.load_uri(tf::String(path + "#" + c.fragment)); });
            int firstTop = -1;
            if (c.steps == 1) {
                QTRY_VERIFY_WITH_TIMEOUT(between.load() == 1, 20000);
                QTRY_VERIFY(view.scrollPosition() > 0);
                firstTop = view.scrollPosition();
            }
            release = true;
            loader.join();
            QTest::qWait(50);
            QCOMPARE(between.load(), c.steps);
            const int target = view.find_anchor(c.fragment);
            QVERIFY(target > 0);
            QTRY_COMPARE(view.scrollPosition(), std::min(target, view.maxScrollPosition()));
            if (firstTop >= 0)
                QCOMPARE(firstTop, view.scrollPosition());
        }
    }

private:
    // A view on screen whose loads stop between a long page's first screen and
    // the whole page until released; `between` counts the stops.
    struct HeldView {
        tf::HtmlWindow view;
        std::atomic<int> between{0};
        std::atomic<bool> release{false};
        explicit HeldView(bool superseded) {
            view.resize(500, 400);
            view.show();
            view.setLoadSuperseded([this, superseded] {
                ++between;
                while (!release)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                return superseded;
            });
        }
    };

    static std::string longPage(int paragraphs) {
        std::string html = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                           "<html xmlns=\"http://www.w3.org/1999/xhtml\"><head><title>Long</title></head><body>\n";
        for (int i = 0; i < paragraphs; ++i)
            html += "<p id=\"p" + std::to_string(i) + "\">Paragraph " + std::to_string(i) +
                    " says enough words to fill a line or two of the page at its width.</p>\n";
        return html + "</body></html>\n";
    }
};

QTEST_MAIN(TestViewThreads)
#include "tst_viewthreads.moc"
