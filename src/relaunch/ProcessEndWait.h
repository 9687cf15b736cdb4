#pragma once
// Waiting for another process to end without spinning: a pidfd, which
// poll() reports readable once the process has exited, or where the kernel
// has no pidfd_open (before Linux 5.3, or a sandbox refusing it), a check
// with kill(pid, 0) every 100 ms.

#include <chrono>
#include <sys/types.h>

namespace relaunch {

enum class WaitResult { Ended, StillRunning };

// A pid that names no process counts as ended, and so does a process that
// has exited but is not yet reaped by its parent.
WaitResult waitForProcessEnd(pid_t pid, std::chrono::milliseconds bound);

} // namespace relaunch
