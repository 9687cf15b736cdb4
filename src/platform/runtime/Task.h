#pragma once
// Child processes with an exact argument vector (no shell), none of which
// outlives the application.
//
// Every child is forked by one long-lived spawner thread (ChildSpawner) and
// asks for SIGKILL when the application goes, crash included. All children
// share a process group (ChildGroups), which their own children inherit, so
// terminateAll() reaches the rsync and cmp runs of bfs too. Children in
// that group do not get the terminal's Ctrl-C: the application decides.
//
// Thread rules: every member may be called from any thread, including from
// a termination handler. launch() and runCapturingOutput() block only until
// the child runs its program; handlers run on a reaper thread per child.

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace platform {

class Task {
public:
    struct Termination {
        pid_t pid = -1;
        int status = 0;        // exit code; for a signal, the signal number
        bool signaled = false; // ended by a signal
        bool started = true;   // false: the program could not be started (status 127)
    };
    using TerminationHandler = std::function<void(const Termination&)>;

    struct Options {
        std::string path;                           // absolute path of the program
        std::vector<std::string> arguments;         // argv[1..]
        std::optional<std::string> workingDirectory; // inherited when absent
        int stdinFd = -1;                           // -1: inherited
        int stdoutFd = -1;                          // -1: inherited
        int stderrFd = -1;                          // -1: inherited
    };

    // Starts the child and returns at once with its pid (-1 when it could
    // not be started). The handler runs exactly once, on the reaper thread,
    // after the child has ended; a program that cannot be started is logged
    // and reported there with status 127.
    static pid_t launch(const Options& options, TerminationHandler handler);

    // Runs the child and returns how it ended, once it has, on the calling thread.
    static Termination run(const Options& options);

    struct Output {
        Termination termination;
        std::string standardOutput;
    };
    // Runs the child, reads its whole standard output while it runs, and
    // returns when it has ended.
    static Output runCapturingOutput(const Options& options);

    // For the application's quit: sends SIGTERM to every running child and
    // the processes they started, gives them up to two seconds to end, then
    // sends SIGKILL to what is left, and returns once the children have been
    // reaped. From then on no child is started: launches are reported like
    // a program that cannot start (status 127). Returns at once when no
    // child runs; calling it again does no harm. Also runs at exit.
    // Handlers of the ended children may still be running when it returns.
    static void terminateAll();

    // What the kernel allows a program's arguments and environment together,
    // and what this process's environment (which a child inherits) takes of it.
    static std::size_t argumentSpace();
    static std::size_t environmentBytes();
};

} // namespace platform
