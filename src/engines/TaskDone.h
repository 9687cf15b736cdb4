#pragma once
// The end of a synchronization or find run: told first to the run's owner
// (its RunEnded, once, on the thread that ends the run), then posted as
// "KLVVR_TASK_DONE" with the caller's context for any other listener, its
// userInfo saying whether the run's tool ran ("taskStarted", a bool), how
// it ended ("taskStatus", an int32_t) and, for a run that started, what it
// did (PassCounts).

#include "platform/runtime/NotificationCenter.h"
#include "platform/runtime/Task.h"
#include "engines/RunEnd.h"

#include <cstdint>
#include <optional>

namespace TaskDone {

inline constexpr std::int32_t kNotStartedStatus = RunEnd::kNotStartedStatus;

// The exit status of the run's tool; for one ended by a signal, 128 plus
// the signal, as shells report it, so it is never taken for an exit code.
std::int32_t status(const platform::Task::Termination& end);

// The run's end as its owner hears it: the counts go with a run that
// started; one that did not did nothing to count.
RunEnd of(const platform::Task::Termination& end, const std::optional<PassCounts>& counts = std::nullopt);

void post(const platform::Object& context, const RunEnded& owner, const RunEnd& end);
// A run without an owner (a find request).
void post(const platform::Object& context, const platform::Task::Termination& end);

} // namespace TaskDone
