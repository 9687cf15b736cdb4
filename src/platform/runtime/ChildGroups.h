#pragma once
// The process groups that hold the application's children, and the ending
// of them all when the application quits.
//
// Children share one process group, so that one signal reaches them and
// the processes they start in turn (the rsync and cmp runs of bfs). A group
// is joined only while a child of ours that has not been reaped is in it:
// only then can its number not have been reused by a stranger's group.
//
// Thread rules: every member may be called from any thread; the state is
// behind one mutex, and terminateAll() waits without holding it.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sys/types.h>

namespace platform {

class ChildGroups {
public:
    using Membership = std::uint64_t; // 0: none

    // The one instance; made on first use, which also has it end the
    // children at exit. Never destroyed.
    static ChildGroups& instance();

    // Before a start: the group to join (0: a new one), or nothing when
    // children are no longer started. Each admission is closed by started().
    std::optional<pid_t> admit();
    // After a start (pid -1: failed). The membership is handed to ended().
    Membership started(pid_t pid, pid_t group);
    // After the child has been reaped.
    void ended(Membership membership);

    // Refuses later starts, sends SIGTERM to every group, waits until its
    // processes have ended or two seconds have passed, and sends SIGKILL to
    // what is left; returns once the children have been reaped (or a further
    // second has passed).
    void terminateAll();

private:
    ChildGroups() = default;
    using Clock = std::chrono::steady_clock;

    std::set<pid_t> groups() const; // with the mutex held
    void endGroups(const std::set<pid_t>& signalled, Clock::time_point deadline, std::unique_lock<std::mutex>& lock);

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::map<Membership, pid_t> members_; // the group of each child, by age: the newest one's is joined
    Membership lastMembership_ = 0;
    int starting_ = 0; // admitted, not yet started
    bool closed_ = false;
};

} // namespace platform
