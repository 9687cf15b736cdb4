#include "platform/runtime/DetachedProcess.h"

#include "platform/runtime/Log.h"

#include <cstring>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace platform {

pid_t DetachedProcess::start(const std::string& path, const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A session of its own: no signal meant for our children reaches it.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t pid = -1;
    const int error = posix_spawn(&pid, path.c_str(), nullptr, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) {
        logf("could not start %s: %s", path.c_str(), std::strerror(error));
        return -1;
    }
    logf("started %s [%d], detached", path.c_str(), static_cast<int>(pid));
    std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
    return pid;
}

} // namespace platform
