#pragma once
// A run loop on a thread of its own: work queued to it runs in order, one
// piece at a time, on that thread. Its owner's state that only the loop
// touches needs no lock.
//
// The loop stops when its owner goes. The thread is waited for only a
// moment (kEndWait), never from the thread itself: the owner may be going
// away on that very thread, or while the loop waits on a disk that does not
// answer; such a thread ends once the work it is doing returns.

#include "platform/runtime/RunLoop.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <memory>
#include <thread>

namespace platform {

class LoopThread {
public:
    LoopThread();
    ~LoopThread();
    LoopThread(const LoopThread&) = delete;
    LoopThread& operator=(const LoopThread&) = delete;

    // Any thread. Work queued after the loop has stopped is dropped.
    void perform(std::function<void()> fn) { loop_->perform(std::move(fn)); }
    const std::shared_ptr<RunLoop>& loop() const { return loop_; }
    bool isCurrent() const { return std::this_thread::get_id() == thread_.get_id(); }

    static constexpr std::chrono::milliseconds kEndWait{500};

private:
    struct Ended {
        std::mutex mutex;
        std::condition_variable changed;
        bool done = false;
    };
    std::shared_ptr<RunLoop> loop_;
    std::shared_ptr<Ended> ended_;
    std::thread thread_;
};

} // namespace platform
