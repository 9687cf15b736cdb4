#include "platform/runtime/ChildSpawner.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <csignal>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace platform {
namespace {

// Everything the child needs, made before the fork: between fork and exec
// only async-signal-safe calls are allowed, so nothing is allocated there.
struct ChildPlan {
    explicit ChildPlan(const Task::Options& o, pid_t wantedGroup)
        : path(o.path.c_str()), workingDirectory(o.workingDirectory ? o.workingDirectory->c_str() : nullptr),
          stdinFd(o.stdinFd), stdoutFd(o.stdoutFd), stderrFd(o.stderrFd), group(wantedGroup), parent(getpid()),
          highestFd(static_cast<int>(std::clamp(sysconf(_SC_OPEN_MAX), 1024L, static_cast<long>(INT_MAX)))) {
        argv.push_back(const_cast<char*>(path));
        for (const auto& a : o.arguments) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
    }
    const char* path;
    const char* workingDirectory;
    std::vector<char*> argv;
    int stdinFd;
    int stdoutFd;
    int stderrFd;
    pid_t group;
    pid_t parent;
    int highestFd; // where closing one by one stops, without close_range
};

// ---- In the child, between fork and exec: async-signal-safe calls only. ----

[[noreturn]] void failInChild(int reportFd, int error) {
    // A write of one int to a pipe is atomic; the parent reads it or EOF.
    ssize_t ignored = write(reportFd, &error, sizeof error);
    (void)ignored;
    _exit(127);
}

bool joinGroup(pid_t group) {
    if (group > 0 && setpgid(0, group) == 0) return true;
    // The group's last member ended a moment ago, or there is none yet.
    return setpgid(0, 0) == 0;
}

// dup2 onto itself would keep close-on-exec, and the descriptor would vanish at exec.
bool placeDescriptor(int fd, int target) {
    if (fd != target) return dup2(fd, target) == target;
    int flags = fcntl(fd, F_GETFD);
    return flags >= 0 && fcntl(fd, F_SETFD, flags & ~FD_CLOEXEC) == 0;
}

void closeRange(int low, int high, int highestFd) {
    if (low > high) return;
    if (close_range(static_cast<unsigned>(low), static_cast<unsigned>(high), 0) == 0) return;
    for (int fd = low; fd <= std::min(high, highestFd); ++fd) close(fd);
}

// Descriptors opened elsewhere without close-on-exec (or a pipe made by
// another thread a moment ago) must not keep a child's pipes open.
void closeAllBut(int keep, int highestFd) {
    closeRange(STDERR_FILENO + 1, keep - 1, highestFd);
    closeRange(keep + 1, INT_MAX, highestFd);
}

// Tools expect default signal handling, whatever this process ignores or
// blocks. Handlers go first, so a signal let through below runs none of ours.
void restoreDefaultSignals() {
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    for (int sig = 1; sig < NSIG; ++sig)
        if (sig != SIGKILL && sig != SIGSTOP) sigaction(sig, &byDefault, nullptr); // the C library's own refuse: fine
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

[[noreturn]] void becomeChild(const ChildPlan& plan, int reportFd) {
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) failInChild(reportFd, errno);
    // The application ended before the request above took hold: no one is left to kill this child.
    if (getppid() != plan.parent) _exit(127);
    if (!joinGroup(plan.group)) failInChild(reportFd, errno);
    if (plan.stdinFd >= 0 && !placeDescriptor(plan.stdinFd, STDIN_FILENO)) failInChild(reportFd, errno);
    if (plan.stdoutFd >= 0 && !placeDescriptor(plan.stdoutFd, STDOUT_FILENO)) failInChild(reportFd, errno);
    if (plan.stderrFd >= 0 && !placeDescriptor(plan.stderrFd, STDERR_FILENO)) failInChild(reportFd, errno);
    if (plan.workingDirectory && chdir(plan.workingDirectory) != 0) failInChild(reportFd, errno);
    closeAllBut(reportFd, plan.highestFd);
    restoreDefaultSignals();
    execve(plan.path, plan.argv.data(), environ);
    failInChild(reportFd, errno);
}

// ---- In the spawner thread. ----

// The child's report descriptor must survive its dup2 onto 0 and 1, which
// a process started with closed standard streams would hand out first.
int aboveStandardStreams(int fd) {
    if (fd > STDERR_FILENO) return fd;
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    int error = errno;
    close(fd);
    errno = error;
    return moved;
}

// The pipe through which a child reports a failed start; the write end is
// closed by a successful exec. 0, or the errno.
int openReportPipe(int (&fds)[2]) {
    if (pipe2(fds, O_CLOEXEC) != 0) return errno;
    fds[1] = aboveStandardStreams(fds[1]);
    if (fds[1] >= 0) return 0;
    int error = errno;
    close(fds[0]);
    return error;
}

// 0 once the child has run its program (its copy closed at exec), or the errno it reported.
int readChildReport(int fd) {
    int error = 0;
    ssize_t n;
    do {
        n = read(fd, &error, sizeof error);
    } while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(sizeof error) ? error : 0;
}

void reapFailedChild(pid_t pid) {
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

// The group the child put itself in; the wanted one may have emptied meanwhile.
pid_t groupOf(pid_t pid) {
    pid_t group = getpgid(pid);
    return group > 0 ? group : pid;
}

// The outcome of a forked child's start, as its report pipe tells it.
ChildSpawner::Result awaitExec(pid_t pid, int reportFd) {
    int childError = readChildReport(reportFd);
    close(reportFd);
    if (childError == 0) return {pid, 0, groupOf(pid)};
    reapFailedChild(pid);
    return {-1, childError, 0};
}

ChildSpawner::Result forkAndExec(const ChildPlan& plan) {
    int report[2];
    if (int error = openReportPipe(report)) return {-1, error, 0};
    // _Fork runs no atfork handlers: the child stays within async-signal-safe calls.
    pid_t pid = _Fork();
    if (pid == 0) becomeChild(plan, report[1]);
    const int forkError = errno;
    close(report[1]);
    if (pid > 0) return awaitExec(pid, report[0]);
    close(report[0]);
    return {-1, forkError, 0};
}

class Spawner {
public:
    ChildSpawner::Result spawn(const ChildPlan& plan) {
        std::unique_lock lock(mutex_);
        if (!threadRunning_ && !startThread()) return {-1, EAGAIN, 0};
        Job job{&plan, {}, false};
        queue_.push_back(&job);
        wake_.notify_one();
        done_.wait(lock, [&] { return job.finished; });
        return job.result;
    }

private:
    struct Job {
        const ChildPlan* plan;
        ChildSpawner::Result result;
        bool finished;
    };

    // The thread starts with every signal blocked, and every child inherits that mask until its exec.
    bool startThread() {
        sigset_t all, old;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &old);
        try {
            std::thread([this] { run(); }).detach();
            threadRunning_ = true;
        } catch (const std::system_error&) {
        }
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
        return threadRunning_;
    }

    [[noreturn]] void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return !queue_.empty(); });
            Job* job = queue_.front();
            queue_.pop_front();
            lock.unlock();
            ChildSpawner::Result result = forkAndExec(*job->plan);
            lock.lock();
            job->result = result;
            job->finished = true;
            done_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::deque<Job*> queue_;
    bool threadRunning_ = false;
};

// Never destroyed: its thread runs until the process ends, through static destruction.
Spawner& spawner() {
    static Spawner* instance = new Spawner;
    return *instance;
}

} // namespace

ChildSpawner::Result ChildSpawner::spawn(const Task::Options& options, pid_t group) {
    ChildPlan plan(options, group);
    return spawner().spawn(plan);
}

} // namespace platform
