#include "platform/runtime/DetachedProcess.h"

#include "platform/runtime/Log.h"

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace platform {
namespace {

// The attributes and file actions of the start, released on every path.
class DetachedSpawnSetup {
public:
    DetachedSpawnSetup() {
        posix_spawn_file_actions_init(&actions_);
        posix_spawnattr_init(&attr_);
        posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        // Descriptors the starter leaked are no business of the new program.
        posix_spawn_file_actions_addclosefrom_np(&actions_, STDERR_FILENO + 1);
        posix_spawn_file_actions_addchdir_np(&actions_, "/");
        // Nor is whatever the starter blocked or ignored.
        sigset_t none, all;
        sigemptyset(&none);
        sigfillset(&all);
        sigdelset(&all, SIGKILL);
        sigdelset(&all, SIGSTOP);
        posix_spawnattr_setsigmask(&attr_, &none);
        posix_spawnattr_setsigdefault(&attr_, &all);
        // A session of its own: no signal meant for our children reaches it.
        posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    }
    ~DetachedSpawnSetup() {
        posix_spawnattr_destroy(&attr_);
        posix_spawn_file_actions_destroy(&actions_);
    }
    DetachedSpawnSetup(const DetachedSpawnSetup&) = delete;
    DetachedSpawnSetup& operator=(const DetachedSpawnSetup&) = delete;

    const posix_spawn_file_actions_t* actions() const { return &actions_; }
    const posix_spawnattr_t* attr() const { return &attr_; }

private:
    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attr_;
};

} // namespace

pid_t DetachedProcess::start(const std::string& path, const std::vector<std::string>& arguments, std::string* error) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    DetachedSpawnSetup setup;
    pid_t pid = -1;
    // posix_spawn reports a failed exec itself.
    const int failure = posix_spawn(&pid, path.c_str(), setup.actions(), setup.attr(), argv.data(), environ);
    if (failure != 0) {
        logf("could not start %s: %s", path.c_str(), std::strerror(failure));
        if (error) *error = std::strerror(failure);
        return -1;
    }
    logf("started %s [%d], detached", path.c_str(), static_cast<int>(pid));
    // A starter that ends right after leaves the reaping to init.
    std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
    return pid;
}

} // namespace platform
