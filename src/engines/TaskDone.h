#pragma once
// The "KLVVR_TASK_DONE" that ends a synchronization or find run: the
// caller's context, and a userInfo saying whether the run's tool ran
// ("taskStarted", a bool) and how it ended ("taskStatus", an int32_t), so
// the caller can tell a pass that copied from one that never began. A run
// that started also carries what it did (PassCounts).
//
// The owner of a run hears of its end directly, once, on the thread that
// ends it (expect()); the notification then goes to any other listener.

#include "platform/runtime/NotificationCenter.h"
#include "platform/runtime/Task.h"
#include "engines/PassCounts.h"

#include <cstdint>
#include <functional>
#include <optional>

namespace TaskDone {

// The status a run that never began reports, as platform::Task does for a
// program it could not start.
inline constexpr std::int32_t kNotStartedStatus = 127;

// The exit status of the run's tool; for one ended by a signal, 128 plus
// the signal, as shells report it, so it is never taken for an exit code.
std::int32_t status(const platform::Task::Termination& end);

// Before a run with this context starts: the handler is called with its end,
// before the notification is posted.
using EndHandler = std::function<void(const platform::Notification&)>;
void expect(const platform::Object& context, EndHandler handler);

// The run's tool ended, or could not be started (end.started false). The
// counts go with a run that started; one that did not did nothing to count.
void post(const platform::Object& context, const platform::Task::Termination& end,
          const std::optional<PassCounts>& counts = std::nullopt);
// Nothing was started: the paths were refused, or a tool or pipe was missing.
void postNotStarted(const platform::Object& context);

} // namespace TaskDone
