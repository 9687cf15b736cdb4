#pragma once
// The one pending follow-up pass of a watched slot whose last pass left
// files as too young to copy: a one-shot timer on the slot's loop. Used on
// that loop's thread only; a newer schedule replaces the older one.

#include "platform/runtime/RunLoop.h"

#include <functional>
#include <memory>

class SettleFollowUp {
public:
    explicit SettleFollowUp(std::shared_ptr<platform::RunLoop> loop) : loop_(std::move(loop)) {}
    ~SettleFollowUp() { cancel(); }
    SettleFollowUp(const SettleFollowUp&) = delete;
    SettleFollowUp& operator=(const SettleFollowUp&) = delete;

    // fire runs once on the loop, after the delay, unless cancelled first.
    void schedule(platform::RunLoop::Seconds delay, std::function<void()> fire);
    void cancel();

private:
    std::shared_ptr<platform::RunLoop> loop_;
    // Left as it is once the timer has fired: removing a fired timer does nothing.
    platform::RunLoop::Id timer_ = 0;
};
