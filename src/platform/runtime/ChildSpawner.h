#pragma once
// Starts every child of the application from one long-lived thread.
//
// Each child asks the kernel for SIGKILL when its parent goes
// (PR_SET_PDEATHSIG), so that a crashed application leaves no child behind.
// The kernel sends that signal when the *thread* that forked the child ends,
// so children must not be forked by short-lived threads: all of them are
// forked by this one thread, which lives as long as the process.
//
// Thread rules: spawn() may be called from any thread except the spawner's
// own (it is never handed user code); it blocks until the child has run its
// program or failed to. The spawner thread runs with every signal blocked,
// so no handler of the application runs in a child before its exec.

#include "platform/runtime/Task.h"

#include <sys/types.h>

namespace platform {

class ChildSpawner {
public:
    struct Result {
        pid_t pid = -1;   // -1: not started, see error
        int error = 0;    // errno of the step that failed
        pid_t group = 0;  // the process group the child ended up in
    };

    // Starts the child in process group `group`, or in a new group of its own
    // when `group` is 0 or has no member left.
    static Result spawn(const Task::Options& options, pid_t group);
};

} // namespace platform
