#pragma once
// The fast archive pass. A bfs walk in the source lists the settled files,
// NUL-separated, to a thread of the pass, which hands rsync every file
// whose copy is not already in place (ArchivedCopies), as arguments, in as
// few runs as the argument-size limit allows (RsyncBatches), each run
// copying while the walk goes on. Then, when the
// days can delete anything and the copies are whole (every run succeeded,
// or only some of its files failed or vanished: 23, 24), a second walk
// deletes the old files whose copies compare equal byte for byte. Only the
// walk's -mmin test selects, so a file younger than the settle time is never
// copied, even one made while the pass runs. The arguments of every child
// come from SynchronizationPolicy, and rsync keeps every copy it replaces
// in the pass's kept folder.
//
// Exactly one end (CopyJob) follows once every child the pass started has
// ended: started is false when the
// walk or rsync could not run; the status is that of the first rsync run
// that did not succeed, else 0, also when no file needed copying. A pass
// that started carries its counts (PassCounts): the names handed to rsync
// are looked at before and after the runs (CopyOutcomes), so a pass that
// hands rsync nothing looks at nothing more, and the deletion walk prints
// the files it deleted.

#include "platform/runtime/DateFormat.h"
#include "platform/runtime/NotificationCenter.h"
#include "platform/runtime/Task.h"
#include "engines/CopyJob.h"
#include "engines/PassCounts.h"
#include "engines/PassProgress.h"
#include "engines/RsyncBatches.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class ArchivedCopies;
class CopyOutcomes;

class BatchedSynchronization : public std::enable_shared_from_this<BatchedSynchronization> {
public:
    struct Tools {
        std::string find;  // absolute path of bfs
        std::string rsync; // absolute path; empty when none was found
        RsyncBatches::Limits limits{};
    };
    // bfs, and the rsync of the search path.
    static Tools defaultTools();

    // A job of the fast or the listed engine onto a disk. Returns at once;
    // a run that cannot begin at all (no rsync, no thread) is logged and
    // ended before the call returns. The listed engine copies the listed
    // files, already selected by the caller, with the same in-place check
    // and rsync runs; no walk, no deletion. Names are relative to the
    // source and begin "./" (one that does not is given the prefix). An
    // empty list has nothing to copy: it ends at once as a run that ran and
    // succeeded (started, status 0).
    static void start(CopyJob job, const Tools& tools = defaultTools());

    BatchedSynchronization(const BatchedSynchronization&) = delete;
    BatchedSynchronization& operator=(const BatchedSynchronization&) = delete;

private:
    BatchedSynchronization(CopyJob job, Tools tools);
    bool canCopy();

    // On the pass's thread.
    void synchronize();
    void copyListed(std::vector<std::string> names);
    platform::Task::Termination walkAndCopy(RsyncBatches& batches, CopyOutcomes& outcomes);
    void hand(std::string name, ArchivedCopies& copies, CopyOutcomes& outcomes, RsyncBatches& batches);
    static void finishCopies(RsyncBatches& batches, const ArchivedCopies& copies);
    void deleteVerified(const platform::Task::Termination& copyOutcome);
    void finish(const platform::Task::Termination& copyOutcome);

    CopyJob job_;
    const Tools tools_;
    const platform::Date start_; // names the run's kept folder
    PassCounts counts_;          // on the pass's thread
};
