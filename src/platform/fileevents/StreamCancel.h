#pragma once
// Ends a stream's set-up from any thread. Watching every folder of a large
// tree takes seconds, and an owner that gives the stream up meanwhile should
// neither wait for the rest of it nor leave the watches behind.
//
// One token per stream: make it before FileEventStream::create(), put it
// where the owner can reach it, and hand it to create():
//
//     auto cancel = std::make_shared<platform::StreamCancel>();
//     owner.remember(cancel);                  // under the owner's lock
//     auto stream = FileEventStream::create(path, latency, callback, cancel);
//     if (!stream) return;                     // cancelled, or not watchable
//
// and, on whichever thread gives the stream up:
//
//     cancel->cancel();                        // then stop its loop as before
//
// create() then stops adding watches before the next folder, releases all
// it has added and returns null (logged). A token made with the run loop the
// stream will be scheduled on also takes a stop() of that loop as cancel().
// On a running stream a cancel takes effect when it next walks new folders:
// it adds no watch, lets go of all it has and delivers nothing more; stop()
// and invalidate() are still called as usual. A cancelled token stays
// cancelled, so a stream made afterwards needs a new one.

#include "platform/runtime/RunLoop.h"

#include <atomic>
#include <memory>

namespace platform {

class StreamCancel {
public:
    StreamCancel() = default;
    explicit StreamCancel(std::shared_ptr<RunLoop> loop) : loop_(std::move(loop)) {}
    StreamCancel(const StreamCancel&) = delete;
    StreamCancel& operator=(const StreamCancel&) = delete;

    // Any thread, any number of times.
    void cancel() { cancelled_.store(true, std::memory_order_release); }
    bool cancelled() const { return cancelled_.load(std::memory_order_acquire) || (loop_ && loop_->isStopped()); }

private:
    std::atomic<bool> cancelled_{false};
    const std::shared_ptr<RunLoop> loop_;
};

} // namespace platform
