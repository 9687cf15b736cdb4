#include "platform/runtime/BoundedCall.h"

#include "platform/runtime/Log.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <system_error>
#include <thread>

namespace platform {

struct BoundedCall::Lane {
    std::mutex mutex;
    std::condition_variable_any ended;
    bool busy = false;          // a worker runs
    bool overdue = false;       // and did not end within its caller's bound
    std::uint64_t finished = 0; // workers that have ended
};

BoundedCall::BoundedCall() : lane_(std::make_shared<Lane>()) {}

bool BoundedCall::run(std::function<void()> work, std::chrono::milliseconds bound, std::stop_token stop) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    std::unique_lock lock(lane_->mutex);
    // Another caller's worker that is still within its bound is waited for;
    // one that is already overdue is not.
    if (!lane_->ended.wait_until(lock, stop, deadline, [&] { return !lane_->busy || lane_->overdue; }) || lane_->busy)
        return false;
    lane_->busy = true;
    const std::uint64_t mine = lane_->finished + 1;
    try {
        // The worker holds the lane, not the caller: it may outlive both.
        std::thread([lane = lane_, work = std::move(work)] {
            work();
            std::lock_guard done(lane->mutex);
            lane->busy = false;
            lane->overdue = false;
            ++lane->finished;
            lane->ended.notify_all();
        }).detach();
    } catch (const std::system_error& e) {
        lane_->busy = false;
        logf("a bounded call could not start its worker: %s", e.what());
        return false;
    }
    if (lane_->ended.wait_until(lock, stop, deadline, [&] { return lane_->finished >= mine; })) return true;
    if (lane_->finished < mine) lane_->overdue = true;
    return false;
}

bool BoundedCall::stuck() const {
    std::lock_guard lock(lane_->mutex);
    return lane_->overdue;
}

} // namespace platform
