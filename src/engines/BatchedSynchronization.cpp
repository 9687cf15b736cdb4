#include "engines/BatchedSynchronization.h"

#include "platform/desktop/FileSystemFlush.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/SearchPath.h"
#include "platform/runtime/Worker.h"
#include "engines/ArchivedCopies.h"
#include "engines/CopyOutcomes.h"
#include "engines/CopyRecorder.h"
#include "engines/NameWalk.h"
#include "engines/SynchronizationPolicy.h"
#include "engines/TaskDone.h"
#include "engines/ToolLauncher.h"

#include <chrono>
#include <optional>

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

BatchedSynchronization::BatchedSynchronization(CopyJob job, Tools tools)
    : job_(std::move(job)), tools_(std::move(tools)), start_(std::chrono::system_clock::now()) {}

void BatchedSynchronization::start(CopyJob job, const Tools& tools) {
    if (job.engine == CopyJob::Engine::Listed && job.listed.empty()) return job.finish(kNothingToCopy, PassCounts{});
    if (job.engine == CopyJob::Engine::Listed) job.minutes = 0, job.days = SynchronizationPolicy::kDeletionOffDays;
    std::shared_ptr<BatchedSynchronization> run(new BatchedSynchronization(std::move(job), tools));
    if (!run->canCopy()) return;
    auto self = run;
    platform::startWorker(
        [run] {
            if (run->job_.engine == CopyJob::Engine::Listed)
                run->copyListed(std::move(run->job_.listed));
            else
                run->synchronize();
        },
        [self](const std::string& why) {
            logf("the pass from %s failed: %s", self->job_.source.c_str(), why.c_str());
            self->finish(kNothingStarted);
        });
}

bool BatchedSynchronization::canCopy() {
    if (tools_.rsync.empty()) {
        logf("rsync was not found in the search path: nothing copied from %s", job_.source.c_str());
        finish(kNothingStarted);
        return false;
    }
    logf("copies replaced by this pass are kept in %s", SynchronizationPolicy::keptFolder(job_.target, start_).c_str());
    return true;
}

void BatchedSynchronization::synchronize() {
    const bool leftBehind = CopyRecorder::begin(job_.target);
    RsyncBatches batches(tools_.rsync, job_.source, job_.target, start_, tools_.limits);
    batches.reportTo(job_.progress);
    CopyOutcomes outcomes(job_.source, job_.target, job_.minutes);
    if (!walkAndCopy(batches, outcomes).started) return finish(kNothingStarted);
    // Now, while the source files of new copies are still there to compare.
    std::vector<std::string> made;
    outcomes.countInto(counts_, &made);
    const Task::Termination outcome = batches.outcome();
    // Before any original goes: what each copy holds, proven by its
    // original. Not after a run that broke off: the destination may be gone
    // or hanging, and the next run looks at the whole folder.
    const bool recorded = batches.copiesComplete() &&
                          CopyRecorder::updateLogged(job_.source, job_.target, leftBehind, counts_.copied, &made,
                                                     SynchronizationPolicy::keptFolder(job_.target, start_));
    // With deletion off no file is old enough, and a walk that can match
    // nothing would cost as much as the copying walk did.
    if (!SynchronizationPolicy::deletes(job_.days)) return finish(outcome);
    if (!batches.copiesComplete()) {
        // A run that broke off may have left copies half written or the
        // destination gone; nothing of this pass is trusted for deletion.
        // One that only failed some files leaves the rest to cmp.
        logf("rsync for %s ended with status %d: no source file is deleted in this pass", job_.source.c_str(),
             TaskDone::status(outcome));
        return finish(outcome);
    }
    if (!recorded) {
        logf("no record of the copies of %s: no source file is deleted in this pass", job_.source.c_str());
        return finish(outcome);
    }
    // cmp reads the copies back from memory; only copies on the disk may
    // let an original go, or a power cut could take both.
    std::string why;
    if (!platform::flushFileSystem(job_.target, &why)) {
        logf("the copies of %s could not be put on the disk (%s): no source file is deleted in this pass",
             job_.source.c_str(), why.c_str());
        return finish(outcome);
    }
    deleteVerified(outcome);
}

Task::Termination BatchedSynchronization::walkAndCopy(RsyncBatches& batches, CopyOutcomes& outcomes) {
    ArchivedCopies copies(job_.source, job_.target);
    const auto walk = NameWalk::run(tools_.find, SynchronizationPolicy::walkArguments(job_.minutes), job_.source,
                                    [&](std::string name) { hand(std::move(name), copies, outcomes, batches); });
    if (!walk) {
        logf("no pipe for the file list of %s: nothing copied", job_.source.c_str());
        return kNothingStarted;
    }
    if (walk->started) finishCopies(batches, copies);
    return *walk;
}

void BatchedSynchronization::copyListed(std::vector<std::string> names) {
    const bool leftBehind = CopyRecorder::begin(job_.target);
    RsyncBatches batches(tools_.rsync, job_.source, job_.target, start_, tools_.limits);
    batches.reportTo(job_.progress);
    ArchivedCopies copies(job_.source, job_.target);
    CopyOutcomes outcomes(job_.source, job_.target, job_.minutes);
    for (auto& name : names) {
        // Never read as an option, nor as a path outside the source.
        if (!name.starts_with("./")) name.insert(0, "./");
        hand(std::move(name), copies, outcomes, batches);
    }
    finishCopies(batches, copies);
    std::vector<std::string> made;
    outcomes.countInto(counts_, &made);
    if (batches.copiesComplete())
        CopyRecorder::updateLogged(job_.source, job_.target, leftBehind, counts_.copied, &made,
                                   SynchronizationPolicy::keptFolder(job_.target, start_));
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
        NameWalk::run(tools_.find, SynchronizationPolicy::deletionArguments(job_.target, job_.minutes, job_.days),
                      job_.source, [this](std::string) { ++counts_.deleted; });
    if (!walk) logf("no pipe for the deletion walk of %s: no source file is deleted in this pass", job_.source.c_str());
    finish(copyOutcome);
}

void BatchedSynchronization::finish(const Task::Termination& copyOutcome) { job_.finish(copyOutcome, counts_); }
