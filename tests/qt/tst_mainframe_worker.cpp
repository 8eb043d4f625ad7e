// The main window's load worker: one load at a time, in order, the newest
// waiting request replacing an older one, joined on stop.

#include <QTest>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "LoadWorker.h"

namespace {

// A latch the test opens to let a job finish.
struct Gate {
    std::mutex mutex;
    std::condition_variable cv;
    bool open = false;
    bool entered = false;
    void enterAndWait() {
        std::unique_lock<std::mutex> lock(mutex);
        entered = true;
        cv.notify_all();
        cv.wait(lock, [this] { return open; });
    }
    void waitEntered() {
        std::unique_lock<std::mutex> lock(mutex);
        cv.wait(lock, [this] { return entered; });
    }
    void release() {
        std::lock_guard<std::mutex> lock(mutex);
        open = true;
        cv.notify_all();
    }
};

} // namespace

class LoadWorkerTest : public QObject {
    Q_OBJECT
private slots:
    void newestWaitingRequestReplacesOlderOnes();
    void jobsNeverOverlapAndRunOffTheCallerThread();
    void stopLetsTheRunningJobFinishAndDropsTheWaitingOne();
    void cancelPendingAndWaitIdle();
    void aThrowingJobDoesNotStopTheWorker();
};

void LoadWorkerTest::newestWaitingRequestReplacesOlderOnes() {
    tf::LoadWorker worker;
    Gate gate;
    std::mutex mutex;
    std::vector<int> ran;
    worker.post([&] {
        gate.enterAndWait();
        std::lock_guard<std::mutex> lock(mutex);
        ran.push_back(0);
    });
    gate.waitEntered();
    for (int i = 1; i <= 5; ++i) {
        QVERIFY(worker.post([&, i] {
            std::lock_guard<std::mutex> lock(mutex);
            ran.push_back(i);
        }));
    }
    QVERIFY(worker.busy());
    gate.release();
    worker.waitIdle();
    QVERIFY(!worker.busy());
    std::lock_guard<std::mutex> lock(mutex);
    QCOMPARE(ran, (std::vector<int>{0, 5}));
    QCOMPARE(worker.started(), 2ul);
}

void LoadWorkerTest::jobsNeverOverlapAndRunOffTheCallerThread() {
    tf::LoadWorker worker;
    std::atomic<int> running{0};
    std::atomic<int> overlaps{0};
    std::atomic<int> done{0};
    std::atomic<bool> onCaller{false};
    const auto caller = std::this_thread::get_id();
    for (int i = 0; i < 200; ++i) {
        worker.post([&] {
            if (++running > 1)
                ++overlaps;
            if (std::this_thread::get_id() == caller)
                onCaller = true;
            std::this_thread::sleep_for(std::chrono::microseconds(50));
            --running;
            ++done;
        });
        if (i % 7 == 0)
            worker.waitIdle();
    }
    worker.waitIdle();
    QCOMPARE(overlaps.load(), 0);
    QVERIFY(!onCaller.load());
    QVERIFY(done.load() >= 29); // at least every job that was waited for
    QVERIFY(!worker.onWorkerThread());
}

void LoadWorkerTest::stopLetsTheRunningJobFinishAndDropsTheWaitingOne() {
    auto worker = std::make_unique<tf::LoadWorker>();
    Gate gate;
    std::atomic<bool> firstDone{false}, secondRan{false};
    worker->post([&] {
        gate.enterAndWait();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        firstDone = true;
    });
    gate.waitEntered();
    worker->post([&] { secondRan = true; });
    std::thread opener([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        gate.release();
    });
    worker->stop();
    // Joined: the running job has finished, the waiting one never starts.
    QVERIFY(firstDone.load());
    QVERIFY(!secondRan.load());
    QVERIFY(!worker->post([&] { secondRan = true; }));
    worker.reset();
    opener.join();
    QVERIFY(!secondRan.load());
}

void LoadWorkerTest::cancelPendingAndWaitIdle() {
    tf::LoadWorker worker;
    QVERIFY(!worker.cancelPending());
    worker.waitIdle(); // nothing to wait for
    Gate gate;
    std::atomic<bool> cancelledRan{false};
    worker.post([&] { gate.enterAndWait(); });
    gate.waitEntered();
    worker.post([&] { cancelledRan = true; });
    QVERIFY(worker.cancelPending());
    gate.release();
    worker.waitIdle();
    QVERIFY(!cancelledRan.load());
    QCOMPARE(worker.started(), 1ul);
}

void LoadWorkerTest::aThrowingJobDoesNotStopTheWorker() {
    tf::LoadWorker worker;
    std::atomic<bool> after{false};
    worker.post([] { throw std::runtime_error("bad book"); });
    worker.waitIdle();
    worker.post([&] { after = true; });
    worker.waitIdle();
    QVERIFY(after.load());
}

QTEST_GUILESS_MAIN(LoadWorkerTest)
#include "tst_mainframe_worker.moc"
