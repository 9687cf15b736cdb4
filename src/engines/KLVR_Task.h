#pragma once
// Runs the find tool (and through it rsync, cmp, rm and rmdir), or a walk
// that feeds one rsync run, as child processes. Nothing waits for a run. A
// synchronization's end goes to its job's owner as a RunEnd (CopyJob) and
// then as the notification "KLVVR_TASK_DONE" with the caller's context,
// whether the run's tool started, with what status it ended and, for one
// that started, what it copied, failed to copy and deleted (TaskDone,
// PassCounts); a find run ends with the notification alone, a removal run
// silently. The class holds no state; every run carries its own.

#include "platform/runtime/NotificationCenter.h"
#include "platform/runtime/Task.h"
#include "engines/CopyJob.h"
#include "engines/FindRequest.h"
#include "engines/PassProgress.h"
#include "engines/ToolLauncher.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

// launchToolAtPath and kFindToolPath come with the launcher it extends.
class KLVR_Task : public ToolLauncher {
public:
    using Command = FindRequest::Command;

    KLVR_Task() = delete;

    // Deletes the regular files below path that match (hidden files, for one).
    static void removeFilesInDirectory(const std::string& path, const std::vector<std::string>& patterns,
                                       std::optional<unsigned> daysOld, std::optional<unsigned> maxDepth,
                                       platform::Object context);
    // Removes the folders below path that match and are empty; rmdir refuses the others.
    static void removeSubdirectoriesAtPath(const std::string& path, const std::vector<std::string>& patterns,
                                           std::optional<unsigned> daysOld, std::optional<unsigned> maxDepth,
                                           platform::Object context);
    // Copies every regular file below source that was modified more than
    // `minutes` ago to the same relative path below destination, and deletes
    // a source file whose copy succeeded and proved identical once it was born
    // more than `days` ago (0: never). A copy that the run replaces, or
    // removes to make way for a folder, is first moved to the run's kept
    // folder (SynchronizationPolicy::keptFolder). Refused paths are logged
    // and reported at once, before the call returns. The run's counts come
    // from looking at the source before and after it (PerFileCensus), on a
    // thread of the run's own, from which it is launched.
    // The progress's total is the settled files the look before found, and
    // the walk prints each file once its rsync has run, which counts it done.
    static void synchronizeFileItemsAtFolderPath(const std::string& sourcePath, const std::string& destinationPath,
                                                 unsigned minutes, unsigned days, platform::Object context,
                                                 std::shared_ptr<PassProgress> progress = nullptr);
    // The per-file engine on a disk, for a job already made: the run above.
    static void synchronize(CopyJob job);
    // The same copy and deletion with one walk, whose files not already in
    // place go to rsync in as few runs as the argument limit allows, and a
    // second walk for the deletion once those runs copied all they could
    // (status 0, or 23/24: cmp decides per file), when the days can delete
    // anything (not 0, below the deletion-off value). The same checks,
    // refusals and single completion as the operation above.
    static void synchronizeFileItemsBatchedAtFolderPath(const std::string& sourcePath,
                                                        const std::string& destinationPath, unsigned minutes,
                                                        unsigned days, platform::Object context,
                                                        std::shared_ptr<PassProgress> progress = nullptr);
    // Copies exactly the listed files ("./" + the path below the source),
    // which the caller has selected, with the fast engine's copy run: no
    // walk, no deletion. The same checks, refusals and single completion.
    static void synchronizeListedFileItemsAtFolderPath(const std::string& sourcePath,
                                                       const std::string& destinationPath,
                                                       std::vector<std::string> relativeFiles,
                                                       platform::Object context,
                                                       std::shared_ptr<PassProgress> progress = nullptr);
    // The find request without a modification-time test.
    static void findAtPath(const std::string& path, const std::optional<std::string>& fileType,
                           const std::vector<std::string>& patterns, std::optional<unsigned> daysOld,
                           std::optional<unsigned> maxDepth, const Command& command, platform::Object context);
    // The full find request.
    static void findAtPath(const std::string& path, const std::optional<std::string>& fileType,
                           const std::vector<std::string>& patterns, std::optional<unsigned> daysOld,
                           std::optional<unsigned> minModTime, std::optional<unsigned> maxDepth,
                           const Command& command, platform::Object context);
    // The requests behind the operations above, built without running anything.
    static FindRequest removeFilesRequest(const std::string& path, const std::vector<std::string>& patterns,
                                          std::optional<unsigned> daysOld, std::optional<unsigned> maxDepth,
                                          platform::Object context);
    static FindRequest removeSubdirectoriesRequest(const std::string& path, const std::vector<std::string>& patterns,
                                                   std::optional<unsigned> daysOld, std::optional<unsigned> maxDepth,
                                                   platform::Object context);
    // For paths already resolved and accepted; made by SynchronizationPolicy,
    // for a run that begins now or at `start`.
    static FindRequest synchronizationRequest(const std::string& source, const std::string& destination,
                                              unsigned minutes, unsigned days, platform::Object context);
    static FindRequest synchronizationRequest(const std::string& source, const std::string& destination,
                                              unsigned minutes, unsigned days, platform::Object context,
                                              platform::Date start);
    // The message that refuses a pair of resolved paths, or nullopt. Refused:
    // relative paths, a destination that is the source or inside it, a
    // source that is the destination or inside the destination's parent
    // folder, and any path holding "{}".
    static std::optional<std::string> synchronizationRefusal(const std::string& source, const std::string& destination);

    // Starts the find run of a request, its birth-time limit placed relative to now.
    static void launchFind(const FindRequest& request, platform::Date now);
    static void launchFind(const FindRequest& request);
};
