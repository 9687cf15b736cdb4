#include "tools/BatchedSynchronization.h"

#include "core/CommonHeader.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/Pipe.h"
#include "platform/runtime/SearchPath.h"
#include "tools/KLVR_Task.h"

using platform::logf;
using platform::Task;

namespace {

// The trailing separator makes rsync treat the destination as a folder and
// create it when missing, so files at the top of the source land inside it.
std::string asFolder(const std::string& destination) {
    return destination.ends_with('/') ? destination : destination + "/";
}

// The selection both walks share: regular files below the source, settled
// for `minutes` when that is not 0.
std::vector<std::string> selection(unsigned minutes) {
    std::vector<std::string> args{".", "-type", "f"};
    if (minutes > 0) args.insert(args.end(), {"-mmin", "+" + std::to_string(minutes)});
    args.insert(args.end(), {"-mindepth", "1"});
    return args;
}

void logEnd(const std::string& toolPath, const Task::Termination& end) {
    logf("%s [%d] did complete with exit status %d", toolPath.c_str(), static_cast<int>(end.pid), end.status);
}

bool succeeded(const Task::Termination& end) { return end.started && !end.signaled && end.status == 0; }

} // namespace

BatchedSynchronization::Tools BatchedSynchronization::defaultTools() {
    return Tools{KLVR_Task::kFindToolPath, platform::SearchPath::find("rsync").value_or("")};
}

std::vector<std::string> BatchedSynchronization::walkArguments(unsigned minutes) {
    std::vector<std::string> args = selection(minutes);
    // Names may hold newlines; only NUL cannot be part of one.
    args.push_back("-print0");
    return args;
}

std::vector<std::string> BatchedSynchronization::copyArguments(const std::string& destination) {
    return {"-lptogRq", "--from0", "--files-from=-", ".", asFolder(destination)};
}

std::vector<std::string> BatchedSynchronization::deletionArguments(const std::string& destination, unsigned minutes,
                                                                   unsigned days) {
    std::vector<std::string> args = selection(minutes);
    // rsync's success says nothing about a file that changed after it was
    // listed or while it was copied: only an identical copy lets the source go.
    args.insert(args.end(), {"-Btime", "+" + std::to_string(days) + "d", "-exec", "cmp", "-s", "{}",
                             asFolder(destination) + "{}", ";", "-delete"});
    return args;
}

BatchedSynchronization::BatchedSynchronization(std::string source, std::string destination, unsigned minutes,
                                               unsigned days, platform::Object context, Tools tools)
    : source_(std::move(source)), destination_(std::move(destination)), minutes_(minutes), days_(days),
      context_(std::move(context)), tools_(std::move(tools)) {}

void BatchedSynchronization::start(const std::string& source, const std::string& destination, unsigned minutes,
                                   unsigned days, platform::Object context, const Tools& tools) {
    std::shared_ptr<BatchedSynchronization> run(
        new BatchedSynchronization(source, destination, minutes, days, std::move(context), tools));
    run->launchCopy();
}

void BatchedSynchronization::launchCopy() {
    if (tools_.rsync.empty()) {
        logf("rsync was not found in the search path: nothing copied from %s", source_.c_str());
        return finish();
    }
    platform::Pipe list;
    if (!list.valid()) {
        logf("no pipe for the file list of %s: nothing copied", source_.c_str());
        return finish();
    }
    auto self = shared_from_this();
    // Both children are launched whatever becomes of the other: a walk
    // without a reader dies of the broken pipe, an rsync without a writer
    // reads an empty list, so each ends and is reported.
    KLVR_Task::launchToolAtPath(tools_.rsync, copyArguments(destination_), source_, list.readEnd(), -1,
                                [self](const Task::Termination& end) { self->rsyncEnded(end); });
    KLVR_Task::launchToolAtPath(tools_.find, walkArguments(minutes_), source_, -1, list.writeEnd(),
                                [self](const Task::Termination& end) { self->walkEnded(end); });
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
    copyChildEnded();
}

void BatchedSynchronization::copyChildEnded() {
    Task::Termination rsyncEnd;
    {
        std::lock_guard lock(mutex_);
        if (--copyChildrenRunning_ > 0) return;
        rsyncEnd = rsyncEnd_;
    }
    copyRunEnded(rsyncEnd);
}

void BatchedSynchronization::copyRunEnded(const Task::Termination& rsyncEnd) {
    if (days_ == 0) return finish();
    if (!succeeded(rsyncEnd)) {
        // A failed run may have left copies half written or the destination
        // gone; nothing of this pass is trusted for deletion.
        logf("rsync for %s ended with status %d: no source file is deleted in this pass", source_.c_str(),
             rsyncEnd.status);
        return finish();
    }
    launchDeletion();
}

void BatchedSynchronization::launchDeletion() {
    auto self = shared_from_this();
    KLVR_Task::launchToolAtPath(tools_.find, deletionArguments(destination_, minutes_, days_), source_, -1, -1,
                                [self](const Task::Termination& end) {
                                    logEnd(self->tools_.find, end);
                                    self->finish();
                                });
}

void BatchedSynchronization::finish() {
    // One notification per run, whichever path got here.
    if (finished_.exchange(true)) return;
    platform::NotificationCenter::defaultCenter().postWithContext(kKLVVR_TASK_DONE, context_);
}
