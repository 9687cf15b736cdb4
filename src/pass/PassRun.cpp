#include "pass/PassRun.h"

#include "platform/runtime/Log.h"
#include "pass/ChangedFiles.h"
#include "pass/DestinationCheck.h"
#include "engines/FileStamp.h"
#include "pass/FolderSlotRules.h"
#include "engines/KLVR_Task.h"
#include "engines/TaskDone.h"
#include "engines/RemoteSynchronization.h"
#include "pass/ReplacedOriginals.h"
#include "core/SettleTime.h"
#include "engines/SynchronizationPolicy.h"

#include <algorithm>
#include <filesystem>

using platform::logf;

namespace PassRun {

namespace {

// The pass's copy run as its engine takes it: the one place a pass's
// folders become a disk's path or a server's target. nullopt when refused (why logged).
std::optional<CopyJob> jobOf(const ArchivePass& pass, CopyJob::Engine engine) {
    std::string why;
    auto job = pass.server ? CopyJob::onServer(engine, pass.source, *pass.server, &why)
                           : CopyJob::onDisk(engine, pass.source, pass.archiveFolder, &why);
    if (!job) logf("%s: the pass of %s does nothing", why.c_str(), pass.source.c_str());
    return job;
}

// The files whose copy (on a disk) has their size and time already need no
// copy by name; looked at on the destination's bounded lane. All of them
// when the destination does not answer: the copy by name finds out.
std::vector<std::string> withoutCopiesInPlace(std::vector<std::string> files, const ArchivePass& pass) {
    if (files.empty()) return files;
    auto left = std::make_shared<std::vector<std::string>>();
    const bool answered = DestinationCheck::within(
        [left, files, source = pass.source, archive = pass.archiveFolder] {
            for (const std::string& file : files) {
                const auto original = FileStamp::of(file);
                const auto copy = FileStamp::of(
                    (std::filesystem::path(archive) / std::filesystem::path(file).lexically_relative(source)).string());
                if (!original || !copy || !copy->matches(*original, 1)) left->push_back(file);
            }
        });
    return answered ? std::move(*left) : files;
}

} // namespace

void start(const std::shared_ptr<ArchivePass>& pass, RunEnded ended) {
    std::vector<std::string> listed;
    if (pass->incremental) {
        auto changed = ChangedFiles::list(pass->source, pass->changedFolders, pass->changedFiles,
                                          pass->settleMinutes, std::chrono::system_clock::now());
        logf("WatcherNSObject => index %d: %zu settled file(s) of %zu named file(s) and %zu new folder(s) of %s",
             pass->index, changed.files.size(), pass->changedFiles.size(), pass->changedFolders.size(),
             pass->source.c_str());
        pass->youngFolders = std::move(changed.youngFolders);
        pass->youngFiles = std::move(changed.youngFiles);
        pass->settleMoment = changed.settleMoment;
        pass->youngCount = changed.youngCount;
        pass->oldestYoung = changed.oldestYoung;
        pass->futureDated = changed.futureDated;
        listed = std::move(changed.files);
    }
    const auto engine = pass->incremental ? CopyJob::Engine::Listed
                        : pass->fast      ? CopyJob::Engine::Fast
                                          : CopyJob::Engine::PerFile;
    auto job = jobOf(*pass, engine);
    if (!job) return TaskDone::post(pass, ended, RunEnd{});
    job->minutes = pass->incremental ? 0 : pass->copyMinutes();
    job->days = pass->incremental ? SynchronizationPolicy::kDeletionOffDays : pass->copyDays();
    job->listed = std::move(listed);
    job->progress = pass->progress;
    job->context = pass;
    job->ended = std::move(ended);
    CopyJob::start(std::move(*job));
}

void noteYoungFiles(ArchivePass& pass) {
    auto young = SettleTime::youngFiles(pass.source, pass.settleMinutes, SettleTime::Clock::now());
    pass.youngCount = young.count;
    pass.oldestYoung = young.oldest;
    pass.settleMoment = young.settleMoment;
    pass.futureDated = young.futureDated;
    pass.settledByChange = pass.toServer() ? std::move(young.settledByChange)
                                           : withoutCopiesInPlace(std::move(young.settledByChange), pass);
}

void noteReplacedOriginals(ArchivePass& pass) {
    // A server's copies are not looked at from here: its deletion compares
    // by content, and leaves such a file in the source.
    if (pass.toServer()) return;
    const auto now = std::chrono::system_clock::now();
    const unsigned days = pass.deleting ? static_cast<unsigned>(std::max(0L, pass.deleteAfterDays)) : 0;
    // The copies are looked at where a destination that hangs holds nothing of the slot's.
    auto moved = std::make_shared<std::vector<std::string>>();
    const bool answered = DestinationCheck::within(
        [moved, source = pass.source, archive = pass.archiveFolder, minutes = pass.settleMinutes, days, now] {
            const auto differing = ReplacedOriginals::find(source, archive, minutes, days, now);
            if (!differing.empty()) *moved = ReplacedOriginals::keepCopiesAside(source, archive, differing, now);
        });
    if (!answered) {
        logf("WatcherNSObject => index %d: the copies of %s could not be compared in time", pass.index,
             pass.source.c_str());
        return;
    }
    pass.replacedOriginals = std::move(*moved);
}

void cleanUp(const ArchivePass& pass) {
    std::error_code ec;
    if (pass.source.empty() || !std::filesystem::is_directory(pass.source, ec)) {
        logf("Inside WatcherNSObject => removeOldEmptyFolders...Directory does not exist or is not a directory...km");
        return;
    }
    if (pass.deleteAfterDays == 0) return;
    if (auto why = FolderSlotRules::cleanUpRefusal(pass.source, pass.archiveFolder)) {
        logf("WatcherNSObject => no clean-up of %s: %s", pass.source.c_str(), why->c_str());
        return;
    }
    // Hidden files are often photos still being written under a temporary
    // name: only those left alone for the settle time, and copied, go.
    // The copies are reached through the archive's marker, as the pass's own tools reach them.
    if (auto job = jobOf(pass, CopyJob::Engine::PerFile); !job) {
        return;
    } else if (job->toServer()) {
        RemoteSynchronization::cleanUp(job->source, job->target, pass.cleanUpMinutes());
    } else {
        KLVR_Task::findAtPath(job->source, std::string("f"), {".*"}, 0u, pass.cleanUpMinutes(), std::nullopt,
                              SynchronizationPolicy::verifiedRemoval(job->target), nullptr);
    }
    KLVR_Task::removeSubdirectoriesAtPath(pass.source, {}, static_cast<unsigned>(std::max(0L, pass.deleteAfterDays)),
                                          std::nullopt, nullptr);
}

} // namespace PassRun
