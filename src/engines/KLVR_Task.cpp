#include "engines/KLVR_Task.h"

#include "core/DestinationMarker.h"
#include "platform/runtime/Log.h"
#include "engines/BatchedSynchronization.h"
#include "engines/NameWalk.h"
#include "core/PathString.h"
#include "engines/PerFileCensus.h"
#include "engines/SynchronizationPolicy.h"
#include "engines/TaskDone.h"

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

void completeFindRun(const CompletionRecord& record, const platform::Task::Termination& end,
                     const std::optional<PassCounts>& counts = std::nullopt, bool endLogged = false) {
    if (!endLogged)
        logf("%s [%d] did complete with exit status %d", record.toolPath.c_str(), static_cast<int>(end.pid),
             end.status);
    logf("toolName = %s", record.request.describeCommand().c_str());
    if (record.request.isRemoval()) return;
    TaskDone::post(record.request.context, end, counts);
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

struct ResolvedPaths {
    std::string source;
    std::string destination;
};

// Both engines take the same paths: resolved, then checked. A refusal is
// logged and reported at once, since the caller waits for that
// notification to end its pass.
std::optional<ResolvedPaths> acceptedPaths(const std::string& sourcePath, const std::string& destinationPath,
                                           const platform::Object& context) {
    ResolvedPaths paths{PathString::resolvingSymlinks(sourcePath), PathString::resolvingSymlinks(destinationPath)};
    if (auto refusal = KLVR_Task::synchronizationRefusal(paths.source, paths.destination)) {
        platform::log(*refusal);
        TaskDone::postNotStarted(context);
        return std::nullopt;
    }
    // After the checks, which resolve "..": a disk that goes during the run
    // then takes the tools' way into the archive with it.
    paths.destination = DestinationMarker::reachedThroughMarker(paths.destination);
    return paths;
}

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

// Runs the walk on this thread, counting each file it prints as done.
void findCounting(const std::shared_ptr<PerFileCensus>& census, const FindRequest& request,
                  const std::shared_ptr<PassProgress>& progress) {
    progress->addTotal(census->settledFiles());
    CompletionRecord record{KLVR_Task::kFindToolPath, request};
    const auto end =
        NameWalk::run(record.toolPath, printingEachCopied(request.arguments(std::chrono::system_clock::now())),
                      request.path, [&progress](std::string) { progress->addDone(1); });
    if (!end) {
        logf("no pipe for the walk of %s: nothing copied", request.path.c_str());
        return TaskDone::postNotStarted(request.context);
    }
    if (!end->started) return completeFindRun(record, *end, std::nullopt, true);
    completeFindRun(record, *end, census->lookAfter(), true);
}

void launchCensusAndFind(const std::shared_ptr<PerFileCensus>& census, const FindRequest& request,
                         const std::shared_ptr<PassProgress>& progress) {
    try {
        census->lookBefore();
    } catch (const std::exception& e) {
        logf("the pass from %s failed: %s", request.path.c_str(), e.what());
        return TaskDone::postNotStarted(request.context);
    }
    findCounting(census, request, progress);
}

// The per-file vector is fixed, so the run's counts come from looking at the
// source before and after it (PerFileCensus). The look before reads every
// file, so it and the launch after it run on a thread of the run's own: the
// caller may be the GUI thread.
void synchronizeCounting(std::shared_ptr<PerFileCensus> census, FindRequest request,
                         std::shared_ptr<PassProgress> progress) {
    try {
        std::thread([census, request, progress] { launchCensusAndFind(census, request, progress); }).detach();
    } catch (const std::system_error& e) {
        logf("no thread for the pass from %s: %s", request.path.c_str(), e.what());
        TaskDone::postNotStarted(request.context);
    }
}

} // namespace

void KLVR_Task::synchronizeFileItemsAtFolderPath(const std::string& sourcePath, const std::string& destinationPath,
                                                 unsigned minutes, unsigned days, platform::Object context,
                                                 std::shared_ptr<PassProgress> progress) {
    auto paths = acceptedPaths(sourcePath, destinationPath, context);
    if (!paths) return;
    const platform::Date start = std::chrono::system_clock::now();
    logf("copies replaced by this pass are kept in %s",
         SynchronizationPolicy::keptFolder(paths->destination, start).c_str());
    // Counted whether or not the caller shows it: one way to run the walk.
    if (!progress) progress = std::make_shared<PassProgress>();
    synchronizeCounting(
        std::make_shared<PerFileCensus>(paths->source, paths->destination, minutes, days),
        synchronizationRequest(paths->source, paths->destination, minutes, days, std::move(context), start),
        std::move(progress));
}

void KLVR_Task::synchronizeFileItemsBatchedAtFolderPath(const std::string& sourcePath,
                                                        const std::string& destinationPath, unsigned minutes,
                                                        unsigned days, platform::Object context,
                                                        std::shared_ptr<PassProgress> progress) {
    auto paths = acceptedPaths(sourcePath, destinationPath, context);
    if (!paths) return;
    BatchedSynchronization::start(paths->source, paths->destination, minutes, days, std::move(context),
                                  BatchedSynchronization::defaultTools(), std::move(progress));
}

void KLVR_Task::synchronizeListedFileItemsAtFolderPath(const std::string& sourcePath,
                                                       const std::string& destinationPath,
                                                       std::vector<std::string> relativeFiles,
                                                       platform::Object context,
                                                       std::shared_ptr<PassProgress> progress) {
    auto paths = acceptedPaths(sourcePath, destinationPath, context);
    if (!paths) return;
    BatchedSynchronization::startListed(paths->source, paths->destination, std::move(relativeFiles), std::move(context),
                                        BatchedSynchronization::defaultTools(), std::move(progress));
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
