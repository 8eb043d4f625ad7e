#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// Runs `work` on a thread of its own and fails the test when it takes longer
// than `seconds`. A thread that hangs cannot be stopped: the failure is
// printed and the program ends there, rather than hanging the whole suite.
template <typename Work>
void withinSeconds(int seconds, const std::string& what, Work work) {
    struct State {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
    };
    auto state = std::make_shared<State>();
    std::thread runner([state, work]() mutable {
        work();
        std::lock_guard<std::mutex> lock(state->mutex);
        state->finished = true;
        state->done.notify_all();
    });
    bool finished;
    {
        std::unique_lock<std::mutex> lock(state->mutex);
        finished = state->done.wait_for(lock, std::chrono::seconds(seconds), [&] { return state->finished; });
    }
    if (!finished) {
        ADD_FAILURE() << what << ": still running after " << seconds << " s";
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(1);
    }
    runner.join();
}
