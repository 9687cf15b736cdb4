#include "platform/runtime/BoundedProbe.h"

#include "platform/runtime/ChildSpawner.h"
#include "platform/runtime/Log.h"

#include <sys/wait.h>

#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace platform {

namespace {

struct Ending {
    std::mutex mutex;
    std::condition_variable_any ended;
    bool done = false;
    int status = 0;
};

} // namespace

BoundedProbe::Answer BoundedProbe::run(const std::string& path, const std::vector<std::string>& arguments,
                                       std::chrono::milliseconds bound, std::stop_token stop) {
    Task::Options options;
    options.path = path;
    options.arguments = arguments;
    const auto child = ChildSpawner::spawn(options, 0);
    if (child.pid < 0) {
        logf("%s could not be started to look: error %d", path.c_str(), child.error);
        return Answer::No;
    }
    auto ending = std::make_shared<Ending>();
    try {
        // Blocked in waitpid on this pid alone, so no other child's end is taken.
        std::thread([pid = child.pid, ending] {
            int status = 0;
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            std::lock_guard lock(ending->mutex);
            ending->done = true;
            ending->status = status;
            ending->ended.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        return Answer::NoAnswer; // nobody can tell when it ends
    }
    std::unique_lock lock(ending->mutex);
    // One that is told to stop (its owner goes) does not wait the bound out.
    if (!ending->ended.wait_for(lock, stop, bound, [&] { return ending->done; })) return Answer::NoAnswer;
    return WIFEXITED(ending->status) && WEXITSTATUS(ending->status) == 0 ? Answer::Yes : Answer::No;
}

BoundedProbe::Answer BoundedProbe::isFolder(const std::string& path, std::chrono::milliseconds bound,
                                            std::stop_token stop) {
    return run("/usr/bin/test", {"-d", path}, bound, std::move(stop));
}

} // namespace platform
