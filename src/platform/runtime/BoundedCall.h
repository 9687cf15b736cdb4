#pragma once
// Calls that may block for ever in the kernel (a share that stops answering,
// a disk that hangs) run on a worker thread of their own, and the caller
// waits for each at most a bound. A call that does not end in time is left
// to end on its own; its work must therefore own whatever it touches (hold
// results through a shared_ptr, never through the caller's stack).
//
// One BoundedCall is one lane: at most one worker at a time; a call waits
// (within its own bound) for another caller's worker to end first. While a
// worker that overran its bound is still stuck, later calls do not start
// another one (a hung file system would otherwise collect a thread per
// look) and fail at once.
//
// Thread rules: every member may be called from any thread; copies share
// the lane.

#include <chrono>
#include <functional>
#include <memory>
#include <stop_token>

namespace platform {

class BoundedCall {
public:
    BoundedCall();

    // Runs work on a worker and waits until it has ended, the bound has
    // passed or stop is requested. True when the work ended in time.
    bool run(std::function<void()> work, std::chrono::milliseconds bound, std::stop_token stop = {});
    // Whether a worker that overran its bound is still running.
    bool stuck() const;

private:
    struct Lane;
    std::shared_ptr<Lane> lane_;
};

} // namespace platform
