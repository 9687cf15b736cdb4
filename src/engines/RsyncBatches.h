#pragma once
// Copies names relative to the source folder ("./"-prefixed, so none reads
// as an option or a remote path) to the same places below the destination,
// with the fast engine's rsync options, in as few rsync runs as the
// argument-size limit allows. rsync reads a --files-from list one byte at a
// time with a poll before each read, which costs it several times what the
// copying does; names given as arguments cost nothing of the kind. A name
// too long for one argument goes into a last run that reads its names from
// a list instead, so no name is left out.
//
// A run starts as soon as its batch is full and copies while the caller
// goes on adding names (a walk goes on walking); the next run starts once
// it has ended, never beside it, since runs set the same folders' times.
// A run that fails in a way other than some files failing (23, 24) stops
// the copying, and the names after it are dropped.

#include "platform/runtime/DateFormat.h"
#include "platform/runtime/Task.h"
#include "engines/PassProgress.h"

#include <cstddef>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class RsyncBatches {
public:
    // The kernel's limit for one argument (MAX_ARG_STRLEN), its NUL included.
    static constexpr std::size_t kLongestArgument = 32 * 4096;

    struct Limits {
        // What the names of one run may take of the argument space, each
        // with its NUL and its pointer; 0: argumentQuarters quarters of
        // ARG_MAX, less the environment and the run's other arguments.
        std::size_t argumentBytes = 0;
        // Longer names, NUL included, go into the run that reads a list.
        std::size_t longestArgument = kLongestArgument;
        // The share of ARG_MAX that argumentBytes 0 stands for: a run to a
        // server costs a login's worth more than one here, so fewer, larger
        // runs pay there.
        std::size_t argumentQuarters = 1;
    };

    RsyncBatches(std::string rsync, std::string source, std::string destination, platform::Date start, Limits limits);
    RsyncBatches(const RsyncBatches&) = delete;
    RsyncBatches& operator=(const RsyncBatches&) = delete;

    // Every run's standard output goes to fd (-1, as before: inherited).
    void sendOutputTo(int fd) { outputFd_ = fd; }
    // Every name taken adds to the progress's total, every run's names to
    // what is done (unless the caller counts that from the runs' output).
    void reportTo(std::shared_ptr<PassProgress> progress, bool runsTellDone = true) {
        progress_ = std::move(progress);
        runsTellDone_ = runsTellDone;
    }

    // Takes the name into the current batch, running that batch first when
    // the name would not fit in it.
    void add(std::string name);
    // Runs the last batch, then the list run when a name needs it, and
    // waits for them. With no name at all, an empty list still makes a
    // missing destination folder, as rsync always did.
    void finish();

    // The first run that did not succeed, else a success (pid -1 when no
    // run was needed).
    platform::Task::Termination outcome() const;
    // Every run ended by itself with success or with only some files
    // failing or vanishing: what did get copied is whole.
    bool copiesComplete() const;
    std::size_t runs() const { return runs_; }

private:
    void startBatch();
    void runList();
    // Waits for the run under way, if any, and takes its end.
    void awaitRun();
    void ended(const platform::Task::Termination& end);
    std::size_t budget() const;

    const std::string rsync_;
    const std::string source_;
    const std::string destination_;
    const std::vector<std::string> options_;
    const std::vector<std::string> listArguments_;
    const Limits limits_;
    const std::size_t budget_;

    std::vector<std::string> batch_;
    std::size_t batchBytes_ = 0;
    std::vector<std::string> listed_;
    bool anyName_ = false;

    int outputFd_ = -1;
    std::shared_ptr<PassProgress> progress_;
    bool runsTellDone_ = true;
    std::optional<std::future<platform::Task::Termination>> running_;
    std::size_t runs_ = 0;
    std::optional<platform::Task::Termination> failure_;
    bool stopped_ = false;
};
