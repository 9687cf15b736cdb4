#include "engines/BatchedSynchronization.h"

#include "platform/desktop/FileSystemFlush.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/SearchPath.h"
#include "engines/ArchivedCopies.h"
#include "engines/CopyOutcomes.h"
#include "engines/NameWalk.h"
#include "engines/SynchronizationPolicy.h"
#include "engines/TaskDone.h"
#include "engines/ToolLauncher.h"

#include <chrono>
#include <exception>
#include <optional>
#include <system_error>
#include <thread>

using platform::logf;
using platform::Task;

namespace {

const Task::Termination kNothingStarted{
    .pid = -1, .status = TaskDone::kNotStartedStatus, .signaled = false, .started = false};
const Task::Termination kNothingToCopy{.pid = -1, .status = 0, .signaled = false, .started = true};

} // namespace

BatchedSynchronization::Tools BatchedSynchronization::defaultTools() {
    return Tools{ToolLauncher::kFindToolPath, platform::SearchPath::find("rsync").value_or(""), {}};
}

BatchedSynchronization::BatchedSynchronization(std::string source, std::string destination, unsigned minutes,
                                               unsigned days, platform::Object context, Tools tools)
    : source_(std::move(source)), destination_(std::move(destination)), minutes_(minutes), days_(days),
      context_(std::move(context)), tools_(std::move(tools)), start_(std::chrono::system_clock::now()) {}

void BatchedSynchronization::start(const std::string& source, const std::string& destination, unsigned minutes,
                                   unsigned days, platform::Object context, const Tools& tools,
                                   std::shared_ptr<PassProgress> progress) {
    std::shared_ptr<BatchedSynchronization> run(
        new BatchedSynchronization(source, destination, minutes, days, std::move(context), tools));
    run->progress_ = std::move(progress);
    if (run->canCopy()) run->onOwnThread([](BatchedSynchronization& self) { self.synchronize(); });
}

void BatchedSynchronization::startListed(const std::string& source, const std::string& destination,
                                         std::vector<std::string> relativeFiles, platform::Object context,
                                         const Tools& tools, std::shared_ptr<PassProgress> progress) {
    if (relativeFiles.empty()) return TaskDone::post(context, kNothingToCopy, PassCounts{});
    std::shared_ptr<BatchedSynchronization> run(new BatchedSynchronization(
        source, destination, 0, SynchronizationPolicy::kDeletionOffDays, std::move(context), tools));
    run->progress_ = std::move(progress);
    if (!run->canCopy()) return;
    run->onOwnThread([names = std::move(relativeFiles)](BatchedSynchronization& self) mutable {
        self.copyListed(std::move(names));
    });
}

bool BatchedSynchronization::canCopy() {
    if (tools_.rsync.empty()) {
        logf("rsync was not found in the search path: nothing copied from %s", source_.c_str());
        finish(kNothingStarted);
        return false;
    }
    logf("copies replaced by this pass are kept in %s",
         SynchronizationPolicy::keptFolder(destination_, start_).c_str());
    return true;
}

void BatchedSynchronization::onOwnThread(std::function<void(BatchedSynchronization&)> work) {
    auto self = shared_from_this();
    try {
        std::thread([self, work = std::move(work)] {
            // An exception leaving the thread would end the application.
            try {
                work(*self);
            } catch (const std::exception& e) {
                logf("the pass from %s failed: %s", self->source_.c_str(), e.what());
                self->finish(kNothingStarted);
            }
        }).detach();
    } catch (const std::system_error& e) {
        logf("no thread for the pass from %s: %s", source_.c_str(), e.what());
        finish(kNothingStarted);
    }
}

void BatchedSynchronization::synchronize() {
    RsyncBatches batches(tools_.rsync, source_, destination_, start_, tools_.limits);
    batches.reportTo(progress_);
    CopyOutcomes outcomes(source_, destination_, minutes_);
    if (!walkAndCopy(batches, outcomes).started) return finish(kNothingStarted);
    // Now, while the source files of new copies are still there to compare.
    outcomes.countInto(counts_);
    const Task::Termination outcome = batches.outcome();
    // With deletion off no file is old enough, and a walk that can match
    // nothing would cost as much as the copying walk did.
    if (!SynchronizationPolicy::deletes(days_)) return finish(outcome);
    if (!batches.copiesComplete()) {
        // A run that broke off may have left copies half written or the
        // destination gone; nothing of this pass is trusted for deletion.
        // One that only failed some files leaves the rest to cmp.
        logf("rsync for %s ended with status %d: no source file is deleted in this pass", source_.c_str(),
             TaskDone::status(outcome));
        return finish(outcome);
    }
    // cmp reads the copies back from memory; only copies on the disk may
    // let an original go, or a power cut could take both.
    std::string why;
    if (!platform::flushFileSystem(destination_, &why)) {
        logf("the copies of %s could not be put on the disk (%s): no source file is deleted in this pass",
             source_.c_str(), why.c_str());
        return finish(outcome);
    }
    deleteVerified(outcome);
}

Task::Termination BatchedSynchronization::walkAndCopy(RsyncBatches& batches, CopyOutcomes& outcomes) {
    ArchivedCopies copies(source_, destination_);
    const auto walk =
        NameWalk::run(tools_.find, SynchronizationPolicy::walkArguments(minutes_), source_,
                      [&](std::string name) { hand(std::move(name), copies, outcomes, batches); });
    if (!walk) {
        logf("no pipe for the file list of %s: nothing copied", source_.c_str());
        return kNothingStarted;
    }
    if (walk->started) finishCopies(batches, copies);
    return *walk;
}

void BatchedSynchronization::copyListed(std::vector<std::string> names) {
    RsyncBatches batches(tools_.rsync, source_, destination_, start_, tools_.limits);
    batches.reportTo(progress_);
    ArchivedCopies copies(source_, destination_);
    CopyOutcomes outcomes(source_, destination_, minutes_);
    for (auto& name : names) {
        // Never read as an option, nor as a path outside the source.
        if (!name.starts_with("./")) name.insert(0, "./");
        hand(std::move(name), copies, outcomes, batches);
    }
    finishCopies(batches, copies);
    outcomes.countInto(counts_);
    finish(batches.outcome());
}

// Unless a run broke off (the destination may be gone), the archive folder
// takes the source folder's attributes after the last copy has changed it.
void BatchedSynchronization::finishCopies(RsyncBatches& batches, const ArchivedCopies& copies) {
    batches.finish();
    if (batches.copiesComplete()) copies.giveRootItsAttributes();
}

// A copy already in place costs rsync a look for nothing: only the others go.
void BatchedSynchronization::hand(std::string name, ArchivedCopies& copies, CopyOutcomes& outcomes,
                                  RsyncBatches& batches) {
    if (copies.inPlace(name)) return;
    copies.copying(name);
    outcomes.note(name);
    batches.add(std::move(name));
}

void BatchedSynchronization::deleteVerified(const Task::Termination& copyOutcome) {
    // The walk prints each file it deleted, and only those.
    const auto walk =
        NameWalk::run(tools_.find, SynchronizationPolicy::deletionArguments(destination_, minutes_, days_), source_,
                         [this](std::string) { ++counts_.deleted; });
    if (!walk) logf("no pipe for the deletion walk of %s: no source file is deleted in this pass", source_.c_str());
    finish(copyOutcome);
}

void BatchedSynchronization::finish(const Task::Termination& copyOutcome) {
    // One notification per run, whichever path got here.
    if (finished_.exchange(true)) return;
    TaskDone::post(context_, copyOutcome, counts_);
}
