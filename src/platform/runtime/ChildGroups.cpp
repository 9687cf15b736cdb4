#include "platform/runtime/ChildGroups.h"

#include "platform/runtime/Log.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>

namespace platform {
namespace {

using namespace std::chrono_literals;

// Long enough for rsync to remove its unfinished copy on SIGTERM, short
// enough that a quit never seems to hang.
constexpr auto kGrace = 2s;
// SIGKILL cannot be refused; only a process stuck in the kernel takes longer.
constexpr auto kReapAfterKill = 1s;

struct ProcessState {
    char state = '?';
    pid_t group = 0;
};

// The whole small file, or nothing: a process may vanish while it is read,
// and the read then fails (a stream would throw).
std::optional<std::string> readSmallFile(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    char buf[1024];
    ssize_t n;
    do {
        n = read(fd, buf, sizeof buf);
    } while (n < 0 && errno == EINTR);
    close(fd);
    if (n <= 0) return std::nullopt;
    return std::string(buf, static_cast<size_t>(n));
}

// From /proc/<pid>/stat; the command name in parentheses may hold anything.
std::optional<ProcessState> readProcessState(const std::string& pid) {
    auto stat = readSmallFile("/proc/" + pid + "/stat");
    if (!stat) return std::nullopt;
    auto close = stat->rfind(')');
    if (close == std::string::npos) return std::nullopt;
    std::istringstream rest(stat->substr(close + 1));
    ProcessState s;
    pid_t parent = 0;
    if (!(rest >> s.state >> parent >> s.group)) return std::nullopt;
    return s;
}

// Which of `groups` still hold a running process. Grandchildren orphaned by
// a child's end are found only so: no reaper of ours hears of them. Zombies
// do not count: an init that does not reap keeps them forever.
std::set<pid_t> groupsStillRunning(const std::set<pid_t>& groups) {
    std::set<pid_t> running;
    DIR* proc = opendir("/proc");
    if (!proc) return running;
    while (const dirent* entry = readdir(proc)) {
        const std::string name = entry->d_name;
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        auto s = readProcessState(name);
        if (s && s->state != 'Z' && s->state != 'X' && groups.count(s->group)) running.insert(s->group);
    }
    closedir(proc);
    return running;
}

// Only reached when a grandchild outlives its parent after SIGTERM, so a
// light poll costs little: there is nothing to wait on for it.
std::set<pid_t> waitWhileGroupsRun(const std::set<pid_t>& groups, std::chrono::steady_clock::time_point deadline) {
    for (auto pause = 5ms;; pause = std::min(pause * 2, 50ms)) {
        std::set<pid_t> running = groupsStillRunning(groups);
        auto now = std::chrono::steady_clock::now();
        if (running.empty() || now >= deadline) return running;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
    }
}

void signalGroups(const std::set<pid_t>& groups, int signal) {
    for (pid_t g : groups) {
        // Children never stay in the application's own group, but were one
        // to, the signal must not end the application with them.
        if (g <= 1 || g == getpgrp()) continue;
        killpg(g, signal); // a group already gone answers ESRCH: nothing to do
    }
}

} // namespace

ChildGroups& ChildGroups::instance() {
    static ChildGroups* groups = [] {
        auto* made = new ChildGroups;
        // Exit paths that skip the application's own call still give the
        // children their SIGTERM, not only the parent-death SIGKILL.
        std::atexit([] { instance().terminateAll(); });
        return made;
    }();
    return *groups;
}

std::optional<pid_t> ChildGroups::admit() {
    std::lock_guard lock(mutex_);
    if (closed_) return std::nullopt;
    ++starting_;
    return members_.empty() ? 0 : members_.rbegin()->second;
}

ChildGroups::Membership ChildGroups::started(pid_t pid, pid_t group) {
    std::lock_guard lock(mutex_);
    --starting_;
    changed_.notify_all();
    if (pid < 0) return 0;
    members_.emplace(++lastMembership_, group);
    return lastMembership_;
}

void ChildGroups::ended(Membership membership) {
    std::lock_guard lock(mutex_);
    if (members_.erase(membership)) changed_.notify_all();
}

std::set<pid_t> ChildGroups::groups() const {
    std::set<pid_t> all;
    for (const auto& [membership, group] : members_) all.insert(group);
    return all;
}

void ChildGroups::terminateAll() {
    std::unique_lock lock(mutex_);
    closed_ = true;
    if (starting_ == 0 && members_.empty()) return;
    const auto deadline = Clock::now() + kGrace;
    // A start under way would put its child in a group after the signal.
    changed_.wait_until(lock, deadline, [&] { return starting_ == 0; });
    std::set<pid_t> signalled = groups();
    logf("ending %zu running children", members_.size());
    signalGroups(signalled, SIGTERM);
    changed_.wait_until(lock, deadline, [&] { return members_.empty(); });
    endGroups(signalled, deadline, lock);
}

void ChildGroups::endGroups(const std::set<pid_t>& signalled, Clock::time_point deadline,
                            std::unique_lock<std::mutex>& lock) {
    lock.unlock();
    std::set<pid_t> left = waitWhileGroupsRun(signalled, deadline);
    lock.lock();
    left.merge(groups());
    if (left.empty()) return;
    logf("%zu process groups of children still running after SIGTERM: sending SIGKILL", left.size());
    signalGroups(left, SIGKILL);
    changed_.wait_for(lock, kReapAfterKill, [&] { return members_.empty(); });
}

} // namespace platform
