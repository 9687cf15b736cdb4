#include "platform/runtime/Task.h"

#include "platform/runtime/ChildGroups.h"
#include "platform/runtime/ChildSpawner.h"
#include "platform/runtime/Log.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <optional>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace platform {
namespace {

void logNotStarted(const Task::Options& o, const char* reason) {
    if (o.workingDirectory)
        logf("could not start %s in %s: %s", o.path.c_str(), o.workingDirectory->c_str(), reason);
    else
        logf("could not start %s: %s", o.path.c_str(), reason);
}

// A started child and its place among the application's children.
struct Started {
    pid_t pid = -1;
    ChildGroups::Membership membership = 0;
};

// The child, or pid -1 with the reason logged.
Started start(const Task::Options& o) {
    ChildGroups& groups = ChildGroups::instance();
    std::optional<pid_t> group = groups.admit();
    if (!group) {
        logNotStarted(o, "the application is ending its children");
        return {};
    }
    ChildSpawner::Result r = ChildSpawner::spawn(o, *group);
    if (r.pid < 0) logNotStarted(o, std::strerror(r.error));
    return {r.pid, groups.started(r.pid, r.group)};
}

Task::Termination notStarted() { return Task::Termination{-1, 127, false, false}; }

Task::Termination terminationOf(pid_t pid, int status) {
    if (WIFSIGNALED(status)) return Task::Termination{pid, WTERMSIG(status), true, true};
    return Task::Termination{pid, WEXITSTATUS(status), false, true};
}

Task::Termination waitFor(const Started& child) {
    int status = 0;
    pid_t r;
    do {
        r = waitpid(child.pid, &status, 0);
    } while (r < 0 && errno == EINTR);
    const int waitError = errno;
    // Before the handler runs: terminateAll() waits for the children, not for handlers.
    ChildGroups::instance().ended(child.membership);
    if (r < 0) {
        // Only when someone else reaped it, e.g. with SIGCHLD ignored.
        logf("could not learn how task %d ended: %s", static_cast<int>(child.pid), std::strerror(waitError));
        return Task::Termination{child.pid, -1, false, true};
    }
    return terminationOf(child.pid, status);
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
void reapOnOwnThread(Started child, Task::TerminationHandler handler) {
    try {
        std::thread([child, handler = std::move(handler)] { callHandler(handler, waitFor(child)); }).detach();
    } catch (const std::system_error& e) {
        logf("could not watch task %d: %s", static_cast<int>(child.pid), e.what());
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
    Started child = start(options);
    if (child.pid < 0) reportNotStarted(std::move(handler));
    else reapOnOwnThread(child, std::move(handler));
    return child.pid;
}

Task::Termination Task::run(const Options& options) {
    Started child = start(options);
    return child.pid < 0 ? notStarted() : waitFor(child);
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
    Started child = start(withPipe);
    // Our copy of the write end must go, or the read below never sees the end.
    close(fds[1]);
    if (child.pid < 0) {
        close(fds[0]);
        out.termination = notStarted();
        return out;
    }
    out.standardOutput = readAll(fds[0]);
    close(fds[0]);
    out.termination = waitFor(child);
    return out;
}

void Task::terminateAll() { ChildGroups::instance().terminateAll(); }

} // namespace platform

namespace platform {

std::size_t Task::argumentSpace() {
    const long limit = ::sysconf(_SC_ARG_MAX);
    return static_cast<std::size_t>(limit > 0 ? limit : 131072);
}

std::size_t Task::environmentBytes() {
    std::size_t bytes = sizeof(char*);
    for (char** entry = environ; entry && *entry; ++entry) bytes += std::strlen(*entry) + 1 + sizeof(char*);
    return bytes;
}

} // namespace platform
