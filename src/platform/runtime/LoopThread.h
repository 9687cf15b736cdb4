#pragma once
// A run loop on a thread of its own: work queued to it runs in order, one
// piece at a time, on that thread. Its owner's state that only the loop
// touches needs no lock.
//
// The loop stops when its owner goes. The thread is not waited for: the
// owner may be going away on that very thread, or while the loop waits on a
// disk that does not answer; it ends once the work it is doing returns.

#include "platform/runtime/RunLoop.h"

#include <functional>
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

private:
    std::shared_ptr<RunLoop> loop_;
    std::thread thread_;
};

} // namespace platform
