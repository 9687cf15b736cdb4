#include "engines/TaskDone.h"

#include "core/CommonHeader.h"

namespace TaskDone {

std::int32_t status(const platform::Task::Termination& end) {
    if (!end.started) return kNotStartedStatus;
    return end.signaled ? 128 + end.status : end.status;
}

RunEnd of(const platform::Task::Termination& end, const std::optional<PassCounts>& counts) {
    return RunEnd{end.started, status(end), end.started ? counts : std::nullopt};
}

void post(const platform::Object& context, const RunEnded& owner, const RunEnd& end) {
    if (owner) owner(end);
    platform::UserInfo outcome{{kUserInfoTaskStarted, end.started}, {kUserInfoTaskStatus, end.status}};
    if (end.started && end.counts) end.counts->addTo(outcome);
    platform::NotificationCenter::defaultCenter().post(
        platform::Notification{kKLVVR_TASK_DONE, nullptr, std::move(outcome), context});
}

void post(const platform::Object& context, const platform::Task::Termination& end) { post(context, nullptr, of(end)); }

} // namespace TaskDone
