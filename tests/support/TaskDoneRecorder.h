#pragma once
// Records every "KLVVR_TASK_DONE" posted while it lives: the context it
// carried, the thread it was posted on, and whether its run started and its
// status when the userInfo says so. Tests wait on it for runs to end.

#include "platform/runtime/NotificationCenter.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace testing_support {

class TaskDoneRecorder {
public:
    struct Post {
        platform::Object context;
        std::thread::id thread;
        std::optional<bool> started;        // "taskStarted", when present
        std::optional<std::int32_t> status; // "taskStatus", when present
    };

    TaskDoneRecorder();
    ~TaskDoneRecorder();
    TaskDoneRecorder(const TaskDoneRecorder&) = delete;
    TaskDoneRecorder& operator=(const TaskDoneRecorder&) = delete;

    // True once at least `count` posts have arrived; false after the timeout.
    bool waitFor(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(60));
    std::vector<Post> posts() const;
    size_t count() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<Post> posts_;
};

// Polls the text source until it contains `part`; false after the timeout.
template <class Source>
bool waitUntilContains(const Source& source, const std::string& part,
                       std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
    auto end = std::chrono::steady_clock::now() + timeout;
    while (!source.contains(part)) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

} // namespace testing_support
