#include "relaunch/DetachedStart.h"

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

extern char** environ;

namespace relaunch {
namespace {

// The attributes and file actions of the start, released on every path.
class DetachedSpawnSetup {
public:
    DetachedSpawnSetup() {
        posix_spawn_file_actions_init(&actions_);
        posix_spawnattr_init(&attr_);
        posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        // The application may have leaked descriptors into the tool; the
        // new instance starts as a plain start would.
        posix_spawn_file_actions_addclosefrom_np(&actions_, STDERR_FILENO + 1);
        posix_spawn_file_actions_addchdir_np(&actions_, "/");
        // Whatever the quitting application blocked or ignored when it
        // started the tool is no business of the new instance.
        sigset_t none, all;
        sigemptyset(&none);
        sigfillset(&all);
        sigdelset(&all, SIGKILL);
        sigdelset(&all, SIGSTOP);
        posix_spawnattr_setsigmask(&attr_, &none);
        posix_spawnattr_setsigdefault(&attr_, &all);
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

// posix_spawn reports a failed exec, so no pipe of our own is needed; the
// child is reaped by init (or the session's subreaper) once the tool exits
// right after this.
pid_t startDetached(const std::filesystem::path& program, std::string* error) {
    DetachedSpawnSetup setup;
    std::string path = program.string();
    char* argv[] = {path.data(), nullptr};
    pid_t pid = -1;
    const int failure = posix_spawn(&pid, path.c_str(), setup.actions(), setup.attr(), argv, environ);
    if (failure == 0) return pid;
    *error = std::strerror(failure);
    return -1;
}

} // namespace relaunch
