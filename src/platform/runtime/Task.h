#pragma once
// Child processes with an exact argument vector (posix_spawn, no shell).

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
    };

    // Starts the child and returns at once with its pid (-1 when it could
    // not be started). The handler runs exactly once, on the reaper thread,
    // after the child has ended; a program that cannot be started is logged
    // and reported there with status 127.
    static pid_t launch(const Options& options, TerminationHandler handler);

    struct Output {
        Termination termination;
        std::string standardOutput;
    };
    // Runs the child, reads its whole standard output while it runs, and
    // returns when it has ended.
    static Output runCapturingOutput(const Options& options);
};

} // namespace platform
