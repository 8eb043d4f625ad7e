#include "LoadWorker.h"

#include <exception>
#include <utility>

#include "utility/log.h"

namespace tf {

LoadWorker::LoadWorker() : m_thread([this] { run(); }) {}

LoadWorker::~LoadWorker() {
    stop();
}

bool LoadWorker::post(Job job) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping)
            return false;
        m_pending = std::move(job);
    }
    m_wake.notify_one();
    return true;
}

bool LoadWorker::cancelPending() {
    std::lock_guard<std::mutex> lock(m_mutex);
    const bool had = static_cast<bool>(m_pending);
    m_pending = nullptr;
    if (had && !m_running)
        m_idle.notify_all();
    return had;
}

void LoadWorker::waitIdle() {
    if (onWorkerThread()) {
        TF_LOG(LOG_ERROR, "a load cannot wait for itself");
        return;
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    m_idle.wait(lock, [this] { return !m_running && !m_pending; });
}

void LoadWorker::stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        m_pending = nullptr;
    }
    m_wake.notify_one();
    if (!m_thread.joinable())
        return;
    if (onWorkerThread())
        m_thread.detach(); // a job stopping its own worker: the loop ends after it
    else
        m_thread.join();
}

bool LoadWorker::busy() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_running || static_cast<bool>(m_pending);
}

bool LoadWorker::hasPending() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<bool>(m_pending);
}

unsigned long LoadWorker::started() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_started;
}

bool LoadWorker::onWorkerThread() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::this_thread::get_id() == m_workerId;
}

void LoadWorker::run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_workerId = std::this_thread::get_id();
    for (;;) {
        m_wake.wait(lock, [this] { return m_stopping || static_cast<bool>(m_pending); });
        if (m_stopping)
            break;
        Job job = std::move(m_pending);
        m_pending = nullptr;
        m_running = true;
        ++m_started;
        lock.unlock();
        try {
            job();
        } catch (const std::exception& e) {
            TF_LOG(LOG_ERROR, "a load failed: " << e.what());
        } catch (...) {
            TF_LOG(LOG_ERROR, "a load failed");
        }
        job = nullptr; // whatever the job holds goes on this thread, before idle is announced
        lock.lock();
        m_running = false;
        if (!m_pending)
            m_idle.notify_all();
    }
    m_running = false;
    m_idle.notify_all();
}

} // namespace tf
