#include "relaunch/ProcessEndWait.h"

#include "relaunch/RelaunchLog.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <signal.h>
#include <string>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace relaunch {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kCheckInterval{100};
// poll() takes an int of milliseconds; longer waits go in slices.
constexpr milliseconds kLongestPoll{INT_MAX};

// A descriptor for the process, or -1 with *error set.
int openPidFd(pid_t pid, int* error) {
    long fd = ::syscall(SYS_pidfd_open, pid, 0);
    *error = fd < 0 ? errno : 0;
    return static_cast<int>(fd);
}

// 1 when fd became readable within the timeout, 0 when not (or a signal
// interrupted the wait), -1 with errno on failure.
int pollReadable(int fd, milliseconds timeout) {
    pollfd p{fd, POLLIN, 0};
    int r = ::poll(&p, 1, static_cast<int>(timeout.count()));
    if (r < 0 && errno == EINTR) return 0;
    return r;
}

// EPERM means a process is there, only owned by someone else.
bool answersSignalZero(pid_t pid) { return ::kill(pid, 0) == 0 || errno == EPERM; }

// An exited process its parent has not reaped yet still answers kill(pid, 0);
// its state in /proc/<pid>/stat, after the parenthesised name, is 'Z'.
bool isZombie(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z';
}

bool processGone(pid_t pid) { return !answersSignalZero(pid) || isZombie(pid); }

void sleepFor(milliseconds d) {
    timespec ts{static_cast<time_t>(d.count() / 1000), static_cast<long>(d.count() % 1000) * 1000000L};
    while (::nanosleep(&ts, &ts) < 0 && errno == EINTR) {}
}

// Rounded up, so a wait never ends a fraction of a millisecond early and
// then spins with zero timeouts.
milliseconds remainingUntil(Clock::time_point deadline) {
    auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now());
    return std::clamp(left, milliseconds(0), kLongestPoll);
}

WaitResult checkEveryInterval(pid_t pid, Clock::time_point deadline) {
    for (;;) {
        if (processGone(pid)) return WaitResult::Ended;
        const milliseconds left = remainingUntil(deadline);
        if (left == milliseconds(0)) return WaitResult::StillRunning;
        sleepFor(std::min(left, kCheckInterval));
    }
}

// The last poll runs with a zero timeout at the deadline, so a process that
// ends just then still counts as ended.
WaitResult pollPidFd(int fd, pid_t pid, Clock::time_point deadline) {
    for (;;) {
        const milliseconds left = remainingUntil(deadline);
        const int r = pollReadable(fd, left);
        if (r > 0) return WaitResult::Ended;
        if (r < 0) {
            logf("poll on the pidfd of %d failed (%s): checking every %lld ms instead", static_cast<int>(pid),
                 std::strerror(errno), static_cast<long long>(kCheckInterval.count()));
            return checkEveryInterval(pid, deadline);
        }
        if (left == milliseconds(0)) return WaitResult::StillRunning;
    }
}

} // namespace

WaitResult waitForProcessEnd(pid_t pid, milliseconds bound) {
    const Clock::time_point deadline = Clock::now() + bound;
    int error = 0;
    const int fd = openPidFd(pid, &error);
    if (fd < 0 && error == ESRCH) return WaitResult::Ended;
    if (fd < 0) {
        logf("pidfd_open is unavailable (%s): checking pid %d every %lld ms", std::strerror(error),
             static_cast<int>(pid), static_cast<long long>(kCheckInterval.count()));
        return checkEveryInterval(pid, deadline);
    }
    const WaitResult result = pollPidFd(fd, pid, deadline);
    ::close(fd);
    return result;
}

} // namespace relaunch
