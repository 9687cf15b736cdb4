#pragma once
// An archive pass into a folder on another machine ("login:/path/Name"),
// for both engines. The per-file engine runs its find vector with the
// server as rsync's target; the fast engine hands its walk's names to rsync
// in batches (RsyncBatches); an incremental pass hands its listed names.
// Every rsync run goes through ssh (SynchronizationPolicy::remoteTransport)
// and tells each file it sent, which is what the pass counts as copied. A
// file still not in place afterwards is found by a dry run over the pass's
// names (needed only when a run did not succeed, and always for the
// per-file engine, whose walk says nothing of its runs).
//
// cmp cannot read a server, so deletion works from a list: the old settled
// files (or, for the clean-up, the hidden ones) are compared with their
// copies by content in one rsync dry run with --checksum, after the server
// has put the copies on its disk, and only files told identical go, and
// only when they are still the very file that was compared. A copy changed
// on the server in the same second and size is caught by its bytes.
//
// Exactly one end (CopyJob) ends a pass, as for the local engines; the
// clean-up ends silently.

#include "platform/runtime/DateFormat.h"
#include "platform/runtime/NotificationCenter.h"
#include "platform/runtime/Task.h"
#include "engines/CopyJob.h"
#include "engines/PassCounts.h"
#include "engines/PassProgress.h"

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class RemoteSynchronization : public std::enable_shared_from_this<RemoteSynchronization> {
public:
    // A job onto a server, of any engine. Returns at once; a pass that
    // cannot begin is ended before the call returns.
    static void start(CopyJob job);
    // Deletes the settled hidden files whose copies are identical.
    static void cleanUp(const std::string& source, const std::string& destination, unsigned minutes);

    // Of the names (as a walk prints them, "./"-prefixed), deletes those
    // whose copy below destination has the same bytes and which are still
    // the files compared; returns how many went. The names whose copy
    // differs, the file unchanged meanwhile, go to unlike when given.
    // Blocks the calling thread.
    static std::int64_t deleteVerified(const std::string& rsync, const std::string& source,
                                       const std::string& destination, const std::vector<std::string>& names,
                                       std::vector<std::string>* unlike = nullptr);

    RemoteSynchronization(const RemoteSynchronization&) = delete;
    RemoteSynchronization& operator=(const RemoteSynchronization&) = delete;

private:
    RemoteSynchronization(CopyJob job, std::string rsync);

    // On the pass's own thread.
    void synchronize();
    platform::Task::Termination copy(int outputFd, bool* complete);
    platform::Task::Termination runPerFile(int outputFd);
    // Counts the files still without their copy; how the look ended when it could not.
    std::optional<platform::Task::Termination> countFailed(const platform::Task::Termination& copyEnd);
    void deleteOld();
    // Copies the names again whatever their sizes and times say, the
    // copies there kept as any replaced copy is.
    void copyAgain(const std::vector<std::string>& names);
    void finish(const platform::Task::Termination& end);

    CopyJob job_;
    std::vector<std::string> names_; // listed, or walked by the fast engine
    const std::string rsync_;
    const platform::Date start_; // names the run's kept folder
    PassCounts counts_;
};
