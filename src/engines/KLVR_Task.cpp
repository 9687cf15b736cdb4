#include "engines/KLVR_Task.h"

#include "engines/CopyJob.h"
#include "engines/CopyRecorder.h"
#include "platform/runtime/Log.h"
#include "engines/BatchedSynchronization.h"
#include "engines/NameWalk.h"
#include "core/PathString.h"
#include "engines/PerFileCensus.h"
#include "engines/SynchronizationPolicy.h"
#include "engines/TaskDone.h"
#include "platform/runtime/Worker.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <filesystem>
#include <memory>
#include <system_error>
#include <thread>

using platform::logf;

namespace {

// What a find run's end needs, kept alive by the termination handler (and
// with it the caller's context) until the handler has run.
struct CompletionRecord {
    std::string toolPath;
    FindRequest request;
};

void completeFindRun(const CompletionRecord& record, const platform::Task::Termination& end) {
    logf("%s [%d] did complete with exit status %d", record.toolPath.c_str(), static_cast<int>(end.pid), end.status);
    logf("toolName = %s", record.request.describeCommand().c_str());
    if (record.request.isRemoval()) return;
    TaskDone::post(record.request.context, end);
}

} // namespace

void KLVR_Task::removeFilesInDirectory(const std::string& path, const std::vector<std::string>& patterns,
                                       std::optional<unsigned> daysOld, std::optional<unsigned> maxDepth,
                                       platform::Object context) {
    launchFind(removeFilesRequest(path, patterns, daysOld, maxDepth, std::move(context)));
}

void KLVR_Task::removeSubdirectoriesAtPath(const std::string& path, const std::vector<std::string>& patterns,
                                           std::optional<unsigned> daysOld, std::optional<unsigned> maxDepth,
                                           platform::Object context) {
    launchFind(removeSubdirectoriesRequest(path, patterns, daysOld, maxDepth, std::move(context)));
}

namespace {

// The walk's arguments with "-print0" right after each file's rsync: the
// walk then prints every file whose copy run has ended. What is copied and
// deleted stays as the request says.
std::vector<std::string> printingEachCopied(std::vector<std::string> arguments) {
    const auto rsync = std::find(arguments.begin(), arguments.end(), "rsync");
    const auto end = std::find(rsync, arguments.end(), ";");
    if (rsync == arguments.begin() || *(rsync - 1) != "-exec" || end == arguments.end()) return arguments;
    arguments.insert(end + 1, "-print0");
    return arguments;
}

// The per-file vector is fixed, so the run's counts come from looking at the
// source before and after it (PerFileCensus). The look before reads every
// file, so it and the walk after it run on a thread of the run's own: the
// caller may be the GUI thread. The walk counts each file it prints as done.
void runCounted(const CopyJob& job, const FindRequest& request, platform::Date start) {
    const bool leftBehind = CopyRecorder::begin(job.target);
    PerFileCensus census(job.source, job.target, job.minutes, job.days);
    census.lookBefore();
    job.progress->addTotal(census.settledFiles());
    const auto end =
        NameWalk::run(KLVR_Task::kFindToolPath, printingEachCopied(request.arguments(std::chrono::system_clock::now())),
                      request.path, [&job](std::string) { job.progress->addDone(1); });
    if (!end) {
        logf("no pipe for the walk of %s: nothing copied", request.path.c_str());
        return job.notStarted();
    }
    logf("toolName = %s", request.describeCommand().c_str());
    const auto counts = end->started ? std::optional(census.lookAfter()) : std::nullopt;
    // The walk deleted old originals as it went, once cmp had compared
    // them: their copies are recorded from themselves.
    if (end->started)
        CopyRecorder::updateLogged(job.source, job.target, leftBehind, counts ? counts->copied : 1, nullptr,
                                   SynchronizationPolicy::keptFolder(job.target, start));
    job.finish(*end, counts);
}

// The job of a run asked for by its folders: a refusal is logged and its end told at once.
void startOnDisk(CopyJob::Engine engine, const std::string& sourcePath, const std::string& destinationPath,
                 unsigned minutes, unsigned days, std::vector<std::string> listed, platform::Object context,
                 std::shared_ptr<PassProgress> progress) {
    std::string refusal;
    auto job = CopyJob::onDisk(engine, sourcePath, destinationPath, &refusal);
    if (!job) {
        platform::log(refusal);
        CopyJob unstarted;
        unstarted.context = std::move(context);
        return unstarted.notStarted();
    }
    job->minutes = minutes;
    job->days = days;
    job->listed = std::move(listed);
    job->context = std::move(context);
    job->progress = std::move(progress);
    CopyJob::start(std::move(*job));
}

} // namespace

void KLVR_Task::synchronize(CopyJob job) {
    const platform::Date start = std::chrono::system_clock::now();
    logf("copies replaced by this pass are kept in %s", SynchronizationPolicy::keptFolder(job.target, start).c_str());
    // Counted whether or not the caller shows it: one way to run the walk.
    if (!job.progress) job.progress = std::make_shared<PassProgress>();
    auto run = std::make_shared<CopyJob>(std::move(job));
    const FindRequest request =
        synchronizationRequest(run->source, run->target, run->minutes, run->days, run->context, start);
    platform::startWorker([run, request, start] { runCounted(*run, request, start); },
                          [run](const std::string& why) {
                              logf("the pass from %s failed: %s", run->source.c_str(), why.c_str());
                              run->notStarted();
                          });
}

void KLVR_Task::synchronizeFileItemsAtFolderPath(const std::string& sourcePath, const std::string& destinationPath,
                                                 unsigned minutes, unsigned days, platform::Object context,
                                                 std::shared_ptr<PassProgress> progress) {
    startOnDisk(CopyJob::Engine::PerFile, sourcePath, destinationPath, minutes, days, {}, std::move(context),
                std::move(progress));
}

void KLVR_Task::synchronizeFileItemsBatchedAtFolderPath(const std::string& sourcePath,
                                                        const std::string& destinationPath, unsigned minutes,
                                                        unsigned days, platform::Object context,
                                                        std::shared_ptr<PassProgress> progress) {
    startOnDisk(CopyJob::Engine::Fast, sourcePath, destinationPath, minutes, days, {}, std::move(context),
                std::move(progress));
}

void KLVR_Task::synchronizeListedFileItemsAtFolderPath(const std::string& sourcePath,
                                                       const std::string& destinationPath,
                                                       std::vector<std::string> relativeFiles,
                                                       platform::Object context,
                                                       std::shared_ptr<PassProgress> progress) {
    startOnDisk(CopyJob::Engine::Listed, sourcePath, destinationPath, 0, SynchronizationPolicy::kDeletionOffDays,
                std::move(relativeFiles), std::move(context), std::move(progress));
}

void KLVR_Task::findAtPath(const std::string& path, const std::optional<std::string>& fileType,
                           const std::vector<std::string>& patterns, std::optional<unsigned> daysOld,
                           std::optional<unsigned> maxDepth, const Command& command, platform::Object context) {
    findAtPath(path, fileType, patterns, daysOld, std::nullopt, maxDepth, command, std::move(context));
}

void KLVR_Task::findAtPath(const std::string& path, const std::optional<std::string>& fileType,
                           const std::vector<std::string>& patterns, std::optional<unsigned> daysOld,
                           std::optional<unsigned> minModTime, std::optional<unsigned> maxDepth,
                           const Command& command, platform::Object context) {
    launchFind(FindRequest{path, fileType, patterns, daysOld, minModTime, maxDepth, command, std::move(context)});
}

FindRequest KLVR_Task::removeFilesRequest(const std::string& path, const std::vector<std::string>& patterns,
                                          std::optional<unsigned> daysOld, std::optional<unsigned> maxDepth,
                                          platform::Object context) {
    return FindRequest{path, "f", patterns, daysOld, std::nullopt, maxDepth, std::string("rm"), std::move(context)};
}

FindRequest KLVR_Task::removeSubdirectoriesRequest(const std::string& path, const std::vector<std::string>& patterns,
                                                   std::optional<unsigned> daysOld, std::optional<unsigned> maxDepth,
                                                   platform::Object context) {
    return FindRequest{path, "d", patterns, daysOld, std::nullopt, maxDepth, std::string("rmdir"), std::move(context)};
}

FindRequest KLVR_Task::synchronizationRequest(const std::string& source, const std::string& destination,
                                              unsigned minutes, unsigned days, platform::Object context) {
    return synchronizationRequest(source, destination, minutes, days, std::move(context),
                                  std::chrono::system_clock::now());
}

FindRequest KLVR_Task::synchronizationRequest(const std::string& source, const std::string& destination,
                                              unsigned minutes, unsigned days, platform::Object context,
                                              platform::Date start) {
    return SynchronizationPolicy::perFileRequest(source, destination, minutes, days, std::move(context), start);
}

namespace {

std::string parentFolder(const std::string& path) {
    return std::filesystem::path(path).parent_path().string();
}

} // namespace

std::optional<std::string> KLVR_Task::synchronizationRefusal(const std::string& sourcePath,
                                                             const std::string& destinationPath) {
    const std::string source = PathString::standardizing(sourcePath);
    const std::string destination = PathString::standardizing(destinationPath);
    // bfs puts each file's path in place of "{}" inside every -exec
    // argument, so such a folder would send copies, and comparisons, elsewhere.
    if (source.find("{}") != std::string::npos || destination.find("{}") != std::string::npos)
        return "ERROR: source and destination Paths must NOT contain \"{}\", which the find tool replaces by each "
               "file's path";
    if (PathString::isWithin(destination, source)) return "ERROR: destination Path must NOT be a child of SourcePath";
    if (!destination.starts_with('/')) return "ERROR: destination Path must be passed as an absolute path";
    if (!source.starts_with('/')) return "ERROR: source Path must be passed as an absolute path";
    if (PathString::isWithin(source, destination))
        return "ERROR: source Path must NOT be the destination Path or inside it";
    // The destination's folder holds the other sources' archive folders and
    // the kept versions: a walk there would archive archives, and delete them.
    if (PathString::isWithin(source, parentFolder(destination)))
        return "ERROR: source Path must NOT lie inside the folder that holds the destination Path";
    return std::nullopt;
}

void KLVR_Task::launchFind(const FindRequest& request) {
    launchFind(request, std::chrono::system_clock::now());
}

void KLVR_Task::launchFind(const FindRequest& request, platform::Date now) {
    CompletionRecord record{kFindToolPath, request};
    if (request.path.empty()) {
        // Without a folder the walk, and whatever it performs, would run in
        // the application's own current directory.
        logf("find request without a path: nothing started");
        completeFindRun(record,
                        platform::Task::Termination{.pid = -1, .status = 127, .signaled = false, .started = false});
        return;
    }
    launchToolAtPath(kFindToolPath, request.arguments(now), request.path,
                     [record](const platform::Task::Termination& end) { completeFindRun(record, end); });
}
