#include "watch/SettleFollowUp.h"

#include <utility>

SettleFollowUp::SettleFollowUp() : state_(std::make_shared<State>()) {}

SettleFollowUp::~SettleFollowUp() { cancel(); }

void SettleFollowUp::schedule(const std::shared_ptr<platform::RunLoop>& loop, platform::RunLoop::Seconds delay,
                              std::function<void()> fire) {
    cancel();
    std::weak_ptr<State> weak = state_;
    auto timer = loop->addTimer(delay, platform::RunLoop::Seconds(0), [weak, fire = std::move(fire)] {
        auto state = weak.lock();
        if (!state) return;
        {
            std::lock_guard lock(state->mutex);
            state->timer = 0;
            state->loop.reset();
        }
        fire();
    });
    std::lock_guard lock(state_->mutex);
    state_->loop = loop;
    state_->timer = timer;
}

void SettleFollowUp::cancel() {
    std::shared_ptr<platform::RunLoop> loop;
    platform::RunLoop::Id timer;
    {
        std::lock_guard lock(state_->mutex);
        loop = std::move(state_->loop);
        state_->loop.reset();
        timer = std::exchange(state_->timer, 0);
    }
    if (loop && timer) loop->removeTimer(timer);
}
