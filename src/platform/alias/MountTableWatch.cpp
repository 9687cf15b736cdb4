#include "platform/alias/MountTableWatch.h"

#include "platform/runtime/FileDescriptor.h"
#include "platform/runtime/Log.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <system_error>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

int makeEventFd() {
    const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
    return fd;
}

int openMountInfo() {
    const int fd = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    if (fd < 0) logf("mount changes are seen only on re-checks: /proc/self/mountinfo: %s", std::strerror(errno));
    return fd;
}

// Older kernels flag the file again only once it has been read after a change.
void readToEnd(int fd) {
    if (lseek(fd, 0, SEEK_SET) < 0) return;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0 || (n < 0 && errno != EINTR)) return;
    }
}

} // namespace

struct MountTableWatch::State {
    State(std::chrono::milliseconds interval, Callback callback)
        : callback(std::move(callback)), intervalMs(interval.count()) {}

    const Callback callback;
    const FileDescriptor wakeFd{makeEventFd()};
    const FileDescriptor mountInfo{openMountInfo()};
    std::atomic<std::int64_t> intervalMs;
    std::atomic<bool> wakeRequested{false};
    std::atomic<bool> stopping{false};

    void signal() const;
    void drainWakes() const;
    int timeoutAfter(Clock::time_point lastCallback) const;
    bool deliver(Reason reason);
    void run();
};

void MountTableWatch::State::signal() const {
    const std::uint64_t one = 1;
    // EAGAIN means the counter is already far from zero: the thread wakes anyway.
    while (::write(wakeFd.get(), &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void MountTableWatch::State::drainWakes() const {
    std::uint64_t count;
    while (::read(wakeFd.get(), &count, sizeof count) < 0 && errno == EINTR) {
    }
}

int MountTableWatch::State::timeoutAfter(Clock::time_point lastCallback) const {
    const auto interval = std::chrono::milliseconds(intervalMs.load());
    if (interval <= std::chrono::milliseconds::zero()) return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(lastCallback + interval - Clock::now());
    return static_cast<int>(std::clamp<std::int64_t>(left.count(), 0, INT_MAX));
}

// Once the watch is being destroyed, nothing more is told.
bool MountTableWatch::State::deliver(Reason reason) {
    if (stopping) return false;
    callback(reason);
    return true;
}

void MountTableWatch::State::run() {
    deliver(Reason::Woken);
    auto lastCallback = Clock::now();
    while (!stopping) {
        pollfd fds[2] = {{wakeFd.get(), POLLIN, 0}, {mountInfo.get(), POLLPRI, 0}};
        const int ready = poll(fds, 2, timeoutAfter(lastCallback));
        if (ready < 0) continue;
        if (fds[0].revents & POLLIN) drainWakes();
        bool delivered = false;
        if (fds[1].revents & (POLLPRI | POLLERR)) {
            readToEnd(mountInfo.get());
            delivered |= deliver(Reason::MountsChanged);
        }
        // The flag, not the eventfd, says whether to call back: setInterval() wakes the thread silently.
        if (wakeRequested.exchange(false))
            delivered |= deliver(Reason::Woken);
        else if (ready == 0)
            delivered |= deliver(Reason::Interval);
        if (delivered) lastCallback = Clock::now();
    }
}

MountTableWatch::MountTableWatch(std::chrono::milliseconds interval, Callback callback)
    : state_(std::make_unique<State>(interval, std::move(callback))),
      thread_([state = state_.get()] { state->run(); }) {}

MountTableWatch::~MountTableWatch() {
    state_->stopping = true;
    state_->signal();
    thread_.join();
}

void MountTableWatch::wake() {
    state_->wakeRequested = true;
    state_->signal();
}

void MountTableWatch::setInterval(std::chrono::milliseconds interval) {
    state_->intervalMs = interval.count();
    state_->signal();
}

} // namespace platform
