#include "tools/BatchedSynchronization.h"

#include "platform/runtime/Log.h"
#include "platform/runtime/Pipe.h"
#include "platform/runtime/SearchPath.h"
#include "tools/SynchronizationPolicy.h"
#include "tools/TaskDone.h"
#include "tools/ToolLauncher.h"

#include <chrono>

using platform::logf;
using platform::Task;

namespace {

void logEnd(const std::string& toolPath, const Task::Termination& end) {
    logf("%s [%d] did complete with exit status %d", toolPath.c_str(), static_cast<int>(end.pid), end.status);
}

bool succeeded(const Task::Termination& end) { return end.started && !end.signaled && end.status == 0; }

const Task::Termination kNothingStarted{.pid = -1, .status = TaskDone::kNotStartedStatus, .signaled = false,
                                        .started = false};

} // namespace

BatchedSynchronization::Tools BatchedSynchronization::defaultTools() {
    return Tools{ToolLauncher::kFindToolPath, platform::SearchPath::find("rsync").value_or("")};
}

BatchedSynchronization::BatchedSynchronization(std::string source, std::string destination, unsigned minutes,
                                               unsigned days, platform::Object context, Tools tools)
    : source_(std::move(source)), destination_(std::move(destination)), minutes_(minutes), days_(days),
      context_(std::move(context)), tools_(std::move(tools)), start_(std::chrono::system_clock::now()) {}

void BatchedSynchronization::start(const std::string& source, const std::string& destination, unsigned minutes,
                                   unsigned days, platform::Object context, const Tools& tools) {
    std::shared_ptr<BatchedSynchronization> run(
        new BatchedSynchronization(source, destination, minutes, days, std::move(context), tools));
    run->launchCopy();
}

void BatchedSynchronization::launchCopy() {
    if (tools_.rsync.empty()) {
        logf("rsync was not found in the search path: nothing copied from %s", source_.c_str());
        return finish(kNothingStarted);
    }
    platform::Pipe list;
    if (!list.valid()) {
        logf("no pipe for the file list of %s: nothing copied", source_.c_str());
        return finish(kNothingStarted);
    }
    logf("copies replaced by this pass are kept in %s",
         SynchronizationPolicy::keptFolder(destination_, start_).c_str());
    launchCopyChildren(list);
}

void BatchedSynchronization::launchCopyChildren(platform::Pipe& list) {
    auto self = shared_from_this();
    // Both children are launched whatever becomes of the other: a walk
    // without a reader dies of the broken pipe, an rsync without a writer
    // reads an empty list, so each ends and is reported.
    ToolLauncher::launchToolAtPath(tools_.rsync, SynchronizationPolicy::copyArguments(destination_, start_), source_,
                                   list.readEnd(), -1, [self](const Task::Termination& end) { self->rsyncEnded(end); });
    ToolLauncher::launchToolAtPath(tools_.find, SynchronizationPolicy::walkArguments(minutes_), source_, -1,
                                   list.writeEnd(), [self](const Task::Termination& end) { self->walkEnded(end); });
    // rsync sees the end of its list only when no write end is left open
    // here, and the walk sees a broken pipe only when no read end is.
    list.closeReadEnd();
    list.closeWriteEnd();
}

void BatchedSynchronization::rsyncEnded(const Task::Termination& end) {
    logEnd(tools_.rsync, end);
    {
        std::lock_guard lock(mutex_);
        rsyncEnd_ = end;
    }
    copyChildEnded();
}

void BatchedSynchronization::walkEnded(const Task::Termination& end) {
    logEnd(tools_.find, end);
    {
        std::lock_guard lock(mutex_);
        walkStarted_ = end.started;
    }
    copyChildEnded();
}

void BatchedSynchronization::copyChildEnded() {
    Task::Termination rsyncEnd;
    bool walkStarted = false;
    {
        std::lock_guard lock(mutex_);
        if (--copyChildrenRunning_ > 0) return;
        rsyncEnd = rsyncEnd_;
        walkStarted = walkStarted_;
    }
    copyRunEnded(rsyncEnd, walkStarted);
}

void BatchedSynchronization::copyRunEnded(const Task::Termination& rsyncEnd, bool walkStarted) {
    // rsync reading the empty list of a walk that never ran ends well, yet
    // the synchronization did not run.
    const Task::Termination outcome = walkStarted ? rsyncEnd : kNothingStarted;
    // With deletion off no file is old enough, and a walk that can match
    // nothing would cost as much as the copying walk did.
    if (!SynchronizationPolicy::deletes(days_)) return finish(outcome);
    if (!succeeded(rsyncEnd)) {
        // A failed run may have left copies half written or the destination
        // gone; nothing of this pass is trusted for deletion.
        logf("rsync for %s ended with status %d: no source file is deleted in this pass", source_.c_str(),
             rsyncEnd.status);
        return finish(outcome);
    }
    launchDeletion(outcome);
}

void BatchedSynchronization::launchDeletion(const Task::Termination& copyOutcome) {
    auto self = shared_from_this();
    ToolLauncher::launchToolAtPath(tools_.find, SynchronizationPolicy::deletionArguments(destination_, minutes_, days_),
                                   source_, [self, copyOutcome](const Task::Termination& end) {
                                       logEnd(self->tools_.find, end);
                                       self->finish(copyOutcome);
                                   });
}

void BatchedSynchronization::finish(const Task::Termination& copyOutcome) {
    // One notification per run, whichever path got here.
    if (finished_.exchange(true)) return;
    TaskDone::post(context_, copyOutcome);
}
