#include "tools/TaskDone.h"

#include "core/CommonHeader.h"

namespace TaskDone {
namespace {

void postOutcome(const platform::Object& context, bool started, std::int32_t status,
                 const std::optional<PassCounts>& counts) {
    platform::UserInfo outcome{{kUserInfoTaskStarted, started}, {kUserInfoTaskStatus, status}};
    if (started && counts) counts->addTo(outcome);
    platform::NotificationCenter::defaultCenter().post(
        platform::Notification{kKLVVR_TASK_DONE, nullptr, std::move(outcome), context});
}

} // namespace

std::int32_t status(const platform::Task::Termination& end) {
    if (!end.started) return kNotStartedStatus;
    return end.signaled ? 128 + end.status : end.status;
}

void post(const platform::Object& context, const platform::Task::Termination& end,
          const std::optional<PassCounts>& counts) {
    postOutcome(context, end.started, status(end), counts);
}

void postNotStarted(const platform::Object& context) { postOutcome(context, false, kNotStartedStatus, std::nullopt); }

} // namespace TaskDone
