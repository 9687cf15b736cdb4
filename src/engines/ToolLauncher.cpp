#include "engines/ToolLauncher.h"

#include "platform/runtime/Log.h"

using platform::logf;

namespace {

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (size_t i = 0; i < words.size(); ++i) text += (i ? " " : "") + words[i];
    return text;
}

} // namespace

pid_t ToolLauncher::launchToolAtPath(const std::string& toolPath, const std::vector<std::string>& arguments,
                                     const std::optional<std::string>& workingDirectoryPath,
                                     platform::Task::TerminationHandler completionHandler) {
    return launchToolAtPath(toolPath, arguments, workingDirectoryPath, -1, -1, std::move(completionHandler));
}

pid_t ToolLauncher::launchToolAtPath(const std::string& toolPath, const std::vector<std::string>& arguments,
                                     const std::optional<std::string>& workingDirectoryPath, int stdinFd, int stdoutFd,
                                     platform::Task::TerminationHandler completionHandler) {
    logf("starting task %s %s", toolPath.c_str(), joined(arguments).c_str());
    platform::Task::Options options{.path = toolPath,
                                    .arguments = arguments,
                                    .workingDirectory = workingDirectoryPath,
                                    .stdinFd = stdinFd,
                                    .stdoutFd = stdoutFd};
    pid_t pid = platform::Task::launch(options, std::move(completionHandler));
    if (pid > 0) logf("started task %s [%d]", toolPath.c_str(), static_cast<int>(pid));
    return pid;
}
