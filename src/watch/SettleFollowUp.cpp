#include "watch/SettleFollowUp.h"

#include <utility>

void SettleFollowUp::schedule(platform::RunLoop::Seconds delay, std::function<void()> fire) {
    cancel();
    timer_ = loop_->addTimer(delay, platform::RunLoop::Seconds(0), std::move(fire));
}

void SettleFollowUp::cancel() {
    if (const auto timer = std::exchange(timer_, 0)) loop_->removeTimer(timer);
}
