#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace tf {

// The one background thread that loads pages for a window. Loads run one at
// a time in the order they were asked for; a request still waiting when a
// newer one arrives is dropped (only the newest chapter step matters). The
// thread is joined when the worker stops or is destroyed, so no load outlives
// its window.
class LoadWorker {
public:
    using Job = std::function<void()>;

    LoadWorker();
    ~LoadWorker();
    LoadWorker(const LoadWorker&) = delete;
    LoadWorker& operator=(const LoadWorker&) = delete;

    // Queues `job`, replacing a job that has not started yet. False once stopped.
    bool post(Job job);
    // Drops a job that has not started yet; true when there was one.
    bool cancelPending();
    // Blocks until no job waits or runs. Must not be called from a job.
    void waitIdle();
    // Drops the waiting job, lets the running one finish and joins the thread.
    void stop();

    // A job is waiting or running.
    bool busy() const;
    // A job is waiting (the running one, if any, is no longer the newest).
    bool hasPending() const;
    // Jobs started so far (tests and benchmarks watch this).
    unsigned long started() const;
    // True on the worker's own thread.
    bool onWorkerThread() const;

private:
    void run();

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    Job m_pending;
    bool m_running = false;
    bool m_stopping = false;
    unsigned long m_started = 0;
    std::thread::id m_workerId;
    std::thread m_thread;
};

} // namespace tf
