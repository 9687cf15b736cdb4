#pragma once
// What the scheduler runs for a job's ProgramArguments. On macOS the
// application's agent runs "/usr/bin/open BUNDLE --args ARGS..."; Linux has
// no such opener, so that form becomes the bundle's own program with ARGS.
// Any other ProgramArguments run as they stand.

#include <optional>
#include <string>
#include <vector>

namespace platform {

struct JobCommand {
    std::string program;                // absolute path
    std::vector<std::string> arguments; // argv[1..]
    // An opened application outlives the job that opened it, as with open:
    // the job only starts it, so tomorrow's run is not held up by today's
    // application still running.
    bool detached = false;

    // The command, or nullopt with the reason in *error: the bundle of the
    // open form is not a bundle with a program, or the program of any other
    // form is not an absolute path.
    static std::optional<JobCommand> fromProgramArguments(const std::vector<std::string>& programArguments,
                                                          std::string* error);

    // program followed by arguments.
    std::vector<std::string> argv() const;

    // What the scheduler runs: a detached command through the launcher
    // ("<launcher> start PROGRAM ARGS..."), any other as it stands.
    JobCommand startedBy(const std::string& launcher) const;
};

} // namespace platform
