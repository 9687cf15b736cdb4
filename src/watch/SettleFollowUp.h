#pragma once
// The one pending follow-up pass of a watched slot whose last pass left
// files as too young to copy: a one-shot timer on the slot's run loop.
// Safe from any thread; a newer schedule replaces the older one.

#include "platform/runtime/RunLoop.h"

#include <functional>
#include <memory>
#include <mutex>

class SettleFollowUp {
public:
    SettleFollowUp();
    ~SettleFollowUp(); // cancels
    SettleFollowUp(const SettleFollowUp&) = delete;
    SettleFollowUp& operator=(const SettleFollowUp&) = delete;

    // fire runs once on the loop's thread, after the delay, unless cancelled first.
    void schedule(const std::shared_ptr<platform::RunLoop>& loop, platform::RunLoop::Seconds delay,
                  std::function<void()> fire);
    void cancel();

private:
    // Shared with the timer, which may fire while its owner is going away.
    struct State {
        std::mutex mutex;
        std::shared_ptr<platform::RunLoop> loop;
        platform::RunLoop::Id timer = 0;
    };
    std::shared_ptr<State> state_;
};
