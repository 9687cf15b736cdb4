#include "platform/scheduler/ToolRun.h"

#include "platform/runtime/SearchPath.h"
#include "platform/runtime/Task.h"

#include <fcntl.h>
#include <unistd.h>

namespace platform {

ToolRun ToolRun::run(const std::string& tool, const std::vector<std::string>& arguments, bool quiet) {
    ToolRun r;
    r.command = {tool};
    r.command.insert(r.command.end(), arguments.begin(), arguments.end());
    auto path = SearchPath::find(tool);
    if (!path) return r;
    const int discard = quiet ? ::open("/dev/null", O_WRONLY | O_CLOEXEC) : -1;
    Task::Output out = Task::runCapturingOutput({*path, arguments, std::nullopt, -1, -1, discard});
    if (discard >= 0) ::close(discard);
    r.started = out.termination.started;
    r.exited = !out.termination.signaled;
    r.status = out.termination.status;
    r.output = std::move(out.standardOutput);
    return r;
}

bool ToolRun::available(const std::string& tool) {
    return SearchPath::find(tool).has_value();
}

std::string ToolRun::failure() const {
    std::string line;
    for (const auto& word : command)
        line += (line.empty() ? "" : " ") + word;
    if (!started) return line + ": " + command.front() + " could not be found on PATH or started";
    if (!exited) return line + ": ended by signal " + std::to_string(status);
    return line + ": exit status " + std::to_string(status);
}

} // namespace platform
