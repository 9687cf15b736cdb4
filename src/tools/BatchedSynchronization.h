#pragma once
// The archive pass with one copy run: a bfs walk lists the settled files of
// the source, NUL-separated, through a pipe into a single rsync run; when
// the days can delete anything and that run succeeded, a second walk
// deletes the old files whose copies compare equal byte for byte. The
// arguments of all three children come from SynchronizationPolicy, and rsync
// keeps every copy it replaces in the run's kept folder. Exactly one
// "KLVVR_TASK_DONE" with the caller's context follows once every child it
// started has ended; its userInfo tells whether the walk and rsync ran, and
// rsync's exit status (see TaskDone).

#include "platform/runtime/DateFormat.h"
#include "platform/runtime/NotificationCenter.h"
#include "platform/runtime/Task.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

namespace platform {
class Pipe;
}

class BatchedSynchronization : public std::enable_shared_from_this<BatchedSynchronization> {
public:
    struct Tools {
        std::string find;  // absolute path of bfs
        std::string rsync; // absolute path; empty when none was found
    };
    // bfs, and the rsync of the search path.
    static Tools defaultTools();

    // For paths already resolved and accepted. Returns at once; a run that
    // cannot begin at all (no rsync, no pipe) is logged and reported before
    // the call returns.
    static void start(const std::string& source, const std::string& destination, unsigned minutes, unsigned days,
                      platform::Object context, const Tools& tools = defaultTools());

    BatchedSynchronization(const BatchedSynchronization&) = delete;
    BatchedSynchronization& operator=(const BatchedSynchronization&) = delete;

private:
    BatchedSynchronization(std::string source, std::string destination, unsigned minutes, unsigned days,
                           platform::Object context, Tools tools);
    void launchCopy();
    void launchCopyChildren(platform::Pipe& list);
    void rsyncEnded(const platform::Task::Termination& end);
    void walkEnded(const platform::Task::Termination& end);
    void copyChildEnded();
    void copyRunEnded(const platform::Task::Termination& rsyncEnd, bool walkStarted);
    void launchDeletion(const platform::Task::Termination& copyOutcome);
    void finish(const platform::Task::Termination& copyOutcome);

    const std::string source_;
    const std::string destination_;
    const unsigned minutes_;
    const unsigned days_;
    const platform::Object context_;
    const Tools tools_;
    const platform::Date start_; // names the run's kept folder

    // The walk and rsync end on reaper threads of their own, in either order.
    std::mutex mutex_;
    int copyChildrenRunning_ = 2;
    platform::Task::Termination rsyncEnd_;
    bool walkStarted_ = false;
    std::atomic<bool> finished_{false};
};
