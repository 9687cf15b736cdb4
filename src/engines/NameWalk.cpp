#include "engines/NameWalk.h"

#include "platform/runtime/Log.h"
#include "platform/runtime/Pipe.h"
#include "engines/ToolLauncher.h"

#include <cstring>
#include <future>
#include <memory>

using platform::Task;

namespace NameWalk {
namespace {

void readNames(platform::Pipe& list, const std::function<void(std::string)>& take) {
    std::string pending;
    char buffer[65536];
    for (;;) {
        const long n = list.read(buffer, sizeof buffer);
        if (n <= 0) break;
        const char* from = buffer;
        const char* end = buffer + n;
        for (const char* nul; (nul = static_cast<const char*>(std::memchr(from, '\0', end - from))); from = nul + 1) {
            pending.append(from, nul);
            take(std::move(pending));
            pending.clear();
        }
        pending.append(from, end);
    }
}

} // namespace

std::optional<Task::Termination> run(const std::string& tool, const std::vector<std::string>& arguments,
                                     const std::string& folder, const std::function<void(std::string)>& take) {
    platform::Pipe list;
    if (!list.valid()) return std::nullopt;
    auto walked = std::make_shared<std::promise<Task::Termination>>();
    auto walkEnd = walked->get_future();
    ToolLauncher::launchToolAtPath(tool, arguments, folder, -1, list.writeEnd(),
                                   [walked](const Task::Termination& end) { walked->set_value(end); });
    // The list ends only when no write end is left open here.
    list.closeWriteEnd();
    readNames(list, take);
    list.closeReadEnd();
    const Task::Termination walk = walkEnd.get();
    platform::logf("%s [%d] did complete with exit status %d", tool.c_str(), static_cast<int>(walk.pid), walk.status);
    return walk;
}

std::optional<std::vector<std::string>> collect(const std::string& tool, const std::vector<std::string>& arguments,
                                                const std::string& folder) {
    std::vector<std::string> names;
    const auto walk = run(tool, arguments, folder, [&](std::string name) { names.push_back(std::move(name)); });
    if (!walk || !walk->started) return std::nullopt;
    return names;
}

} // namespace NameWalk
