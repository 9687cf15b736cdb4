#include "platform/runtime/Task.h"

#include "platform/runtime/Log.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace platform {
namespace {

// The attributes and file actions of one spawn, released on every path.
class SpawnSetup {
public:
    explicit SpawnSetup(const Task::Options& o) {
        posix_spawn_file_actions_init(&actions_);
        posix_spawnattr_init(&attr_);
        if (o.workingDirectory) posix_spawn_file_actions_addchdir_np(&actions_, o.workingDirectory->c_str());
        if (o.stdinFd >= 0) posix_spawn_file_actions_adddup2(&actions_, o.stdinFd, STDIN_FILENO);
        if (o.stdoutFd >= 0) posix_spawn_file_actions_adddup2(&actions_, o.stdoutFd, STDOUT_FILENO);
        // Descriptors opened elsewhere without close-on-exec (or a pipe made by
        // another thread a moment ago) must not keep a child's pipes open.
        posix_spawn_file_actions_addclosefrom_np(&actions_, STDERR_FILENO + 1);
        // Tools expect default signal handling, whatever this process ignores or blocks.
        sigset_t none, all;
        sigemptyset(&none);
        sigfillset(&all);
        sigdelset(&all, SIGKILL);
        sigdelset(&all, SIGSTOP);
        posix_spawnattr_setsigmask(&attr_, &none);
        posix_spawnattr_setsigdefault(&attr_, &all);
        posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    }
    ~SpawnSetup() {
        posix_spawnattr_destroy(&attr_);
        posix_spawn_file_actions_destroy(&actions_);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    const posix_spawn_file_actions_t* actions() const { return &actions_; }
    const posix_spawnattr_t* attr() const { return &attr_; }

private:
    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attr_;
};

// The child's argv: the program path, then the arguments exactly as given.
std::vector<char*> argumentVector(const Task::Options& o) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(o.path.c_str()));
    for (const auto& a : o.arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    return argv;
}

// The child's pid, or -1 with the reason logged.
pid_t spawn(const Task::Options& o) {
    SpawnSetup setup(o);
    std::vector<char*> argv = argumentVector(o);
    pid_t pid = -1;
    int error = posix_spawn(&pid, o.path.c_str(), setup.actions(), setup.attr(), argv.data(), environ);
    if (error == 0) return pid;
    if (o.workingDirectory)
        logf("could not start %s in %s: %s", o.path.c_str(), o.workingDirectory->c_str(), std::strerror(error));
    else
        logf("could not start %s: %s", o.path.c_str(), std::strerror(error));
    return -1;
}

Task::Termination notStarted() { return Task::Termination{-1, 127, false, false}; }

Task::Termination waitFor(pid_t pid) {
    int status = 0;
    pid_t r;
    do {
        r = waitpid(pid, &status, 0);
    } while (r < 0 && errno == EINTR);
    Task::Termination t;
    t.pid = pid;
    if (r < 0) {
        // Only when someone else reaped it, e.g. with SIGCHLD ignored.
        logf("could not learn how task %d ended: %s", static_cast<int>(pid), std::strerror(errno));
        t.status = -1;
    } else if (WIFSIGNALED(status)) {
        t.signaled = true;
        t.status = WTERMSIG(status);
    } else {
        t.status = WEXITSTATUS(status);
    }
    return t;
}

// An exception escaping a detached thread would end the whole application.
void callHandler(const Task::TerminationHandler& handler, const Task::Termination& t) {
    if (!handler) return;
    try {
        handler(t);
    } catch (const std::exception& e) {
        logf("termination handler of task %d failed: %s", static_cast<int>(t.pid), e.what());
    }
}

// One thread per child, blocked in waitpid on that pid alone: children
// started elsewhere stay unreaped, and a slow handler holds up no other run.
void reapOnOwnThread(pid_t pid, Task::TerminationHandler handler) {
    try {
        std::thread([pid, handler = std::move(handler)] { callHandler(handler, waitFor(pid)); }).detach();
    } catch (const std::system_error& e) {
        logf("could not watch task %d: %s", static_cast<int>(pid), e.what());
    }
}

// Not inside launch(): a caller holding a lock its handler takes must not deadlock.
void reportNotStarted(Task::TerminationHandler handler) {
    if (!handler) return;
    try {
        std::thread([handler = std::move(handler)] { callHandler(handler, notStarted()); }).detach();
    } catch (const std::system_error& e) {
        logf("could not report a task that did not start: %s", e.what());
    }
}

std::string readAll(int fd) {
    std::string data;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        data.append(buf, static_cast<size_t>(n));
    }
    return data;
}

} // namespace

pid_t Task::launch(const Options& options, TerminationHandler handler) {
    pid_t pid = spawn(options);
    if (pid < 0) reportNotStarted(std::move(handler));
    else reapOnOwnThread(pid, std::move(handler));
    return pid;
}

Task::Output Task::runCapturingOutput(const Options& options) {
    Output out;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) < 0) {
        logf("could not start %s: no pipe for its output: %s", options.path.c_str(), std::strerror(errno));
        out.termination = notStarted();
        return out;
    }
    Options withPipe = options;
    withPipe.stdoutFd = fds[1];
    pid_t pid = spawn(withPipe);
    // Our copy of the write end must go, or the read below never sees the end.
    close(fds[1]);
    if (pid < 0) {
        close(fds[0]);
        out.termination = notStarted();
        return out;
    }
    out.standardOutput = readAll(fds[0]);
    close(fds[0]);
    out.termination = waitFor(pid);
    return out;
}

} // namespace platform
