// The view while a loader thread lays chapters out and the window thread
// paints, scrolls, selects, searches and resizes: nothing crashes, every
// widget request arrives on the window thread, and the last chapter loaded
// is the one on screen. Also run under ThreadSanitizer (scripts/tsan-tests).

#include <QScrollBar>
#include <QThread>
#include <QtTest>

#include <atomic>
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
};

QTEST_MAIN(TestViewThreads)
#include "tst_viewthreads.moc"
