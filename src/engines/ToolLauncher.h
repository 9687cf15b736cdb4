#pragma once
// Starts one child process of the synchronization and removal runs and logs
// its start. Both engines launch through here, so every child is logged the
// same way whichever engine started it.

#include "platform/runtime/Task.h"

#include <optional>
#include <string>
#include <vector>

class ToolLauncher {
public:
    static constexpr const char* kFindToolPath = "/usr/bin/bfs";

    ToolLauncher() = delete;

    // Starts the tool and returns its pid at once (-1 when it could not be
    // started); the handler runs once, on another thread, when it has ended.
    static pid_t launchToolAtPath(const std::string& toolPath, const std::vector<std::string>& arguments,
                                  const std::optional<std::string>& workingDirectoryPath,
                                  platform::Task::TerminationHandler completionHandler);
    // As above, with the child's standard input and output taken from the
    // given descriptors (-1: inherited), so one child can feed another.
    static pid_t launchToolAtPath(const std::string& toolPath, const std::vector<std::string>& arguments,
                                  const std::optional<std::string>& workingDirectoryPath, int stdinFd, int stdoutFd,
                                  platform::Task::TerminationHandler completionHandler);
};
