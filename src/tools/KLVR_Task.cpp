#include "tools/KLVR_Task.h"

#include "core/CommonHeader.h"
#include "platform/runtime/Log.h"
#include "tools/BatchedSynchronization.h"
#include "tools/PathString.h"
#include "tools/SynchronizationPolicy.h"

#include <chrono>

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
    platform::NotificationCenter::defaultCenter().postWithContext(kKLVVR_TASK_DONE, record.request.context);
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
        platform::NotificationCenter::defaultCenter().postWithContext(kKLVVR_TASK_DONE, context);
        return std::nullopt;
    }
    return paths;
}

} // namespace

void KLVR_Task::synchronizeFileItemsAtFolderPath(const std::string& sourcePath, const std::string& destinationPath,
                                                 unsigned minutes, unsigned days, platform::Object context) {
    auto paths = acceptedPaths(sourcePath, destinationPath, context);
    if (!paths) return;
    launchFind(synchronizationRequest(paths->source, paths->destination, minutes, days, std::move(context)));
}

void KLVR_Task::synchronizeFileItemsBatchedAtFolderPath(const std::string& sourcePath,
                                                        const std::string& destinationPath, unsigned minutes,
                                                        unsigned days, platform::Object context) {
    auto paths = acceptedPaths(sourcePath, destinationPath, context);
    if (!paths) return;
    BatchedSynchronization::start(paths->source, paths->destination, minutes, days, std::move(context));
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
    return SynchronizationPolicy::perFileRequest(source, destination, minutes, days, std::move(context));
}

std::optional<std::string> KLVR_Task::synchronizationRefusal(const std::string& source, const std::string& destination) {
    if (!source.empty() && destination.starts_with(source))
        return "ERROR: destination Path must NOT be a child of SourcePath";
    if (!destination.starts_with('/')) return "ERROR: destination Path must be passed as an absolute path";
    if (!source.starts_with('/')) return "ERROR: source Path must be passed as an absolute path";
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
        completeFindRun(record, platform::Task::Termination{.pid = -1, .status = 127, .signaled = false, .started = false});
        return;
    }
    launchToolAtPath(kFindToolPath, request.arguments(now), request.path,
                     [record](const platform::Task::Termination& end) { completeFindRun(record, end); });
}
