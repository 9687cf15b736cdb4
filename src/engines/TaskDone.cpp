#include "engines/TaskDone.h"

#include "core/CommonHeader.h"

#include <map>
#include <mutex>

namespace TaskDone {
namespace {

// Never destroyed: a run may end on its own thread while the program exits.
std::mutex& owners() {
    static auto* mutex = new std::mutex;
    return *mutex;
}
std::map<const void*, EndHandler>& handlers() {
    static auto* byContext = new std::map<const void*, EndHandler>; // guarded by owners()
    return *byContext;
}

EndHandler takeHandler(const platform::Object& context) {
    std::lock_guard lock(owners());
    auto it = handlers().find(context.get());
    if (it == handlers().end()) return nullptr;
    EndHandler handler = std::move(it->second);
    handlers().erase(it);
    return handler;
}

void postOutcome(const platform::Object& context, bool started, std::int32_t status,
                 const std::optional<PassCounts>& counts) {
    platform::UserInfo outcome{{kUserInfoTaskStarted, started}, {kUserInfoTaskStatus, status}};
    if (started && counts) counts->addTo(outcome);
    const platform::Notification done{kKLVVR_TASK_DONE, nullptr, std::move(outcome), context};
    if (context)
        if (EndHandler owner = takeHandler(context)) owner(done);
    platform::NotificationCenter::defaultCenter().post(done);
}

} // namespace

void expect(const platform::Object& context, EndHandler handler) {
    if (!context || !handler) return;
    std::lock_guard lock(owners());
    handlers()[context.get()] = std::move(handler);
}

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
