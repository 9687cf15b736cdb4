#pragma once
// One copy run as its engine is given it, made once per pass: the source,
// where the copies go (a disk's archive folder reached through the marker
// of the folder that holds it, or a folder on a server), the engine and the
// settings it runs with, the files it lists, its progress, and who hears of
// its end. This is the one place that tells a disk from a server and
// reaches through the marker; the engines take the job as it is.
//
// Exactly one end reaches `ended` (on the thread that ends the run), and
// then "KLVVR_TASK_DONE" with `context` goes to any other listener.

#include "core/RemoteDestination.h"
#include "engines/PassProgress.h"
#include "engines/RunEnd.h"
#include "platform/runtime/NotificationCenter.h"
#include "platform/runtime/Task.h"

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct CopyJob {
    // PerFile: one rsync and one cmp per file of a walk; Fast: one walk
    // feeding batched rsync runs; Listed: the listed files only, no walk,
    // no deletion.
    enum class Engine { PerFile, Fast, Listed };

    Engine engine = Engine::PerFile;
    std::string source; // resolved and accepted
    // Where the copies go, as the tools take it: a path on a disk, or
    // "login:/path" on a server.
    std::string target;
    std::optional<RemoteDestination> server; // the server, when the target is on one
    unsigned minutes = 0;                    // a file is copied once unmodified this long
    unsigned days = 0;                       // and deleted once its copy is proven and it is this old
    std::vector<std::string> listed;         // Engine::Listed: "./"-relative or absolute paths
    std::shared_ptr<PassProgress> progress;
    platform::Object context; // carried by "KLVVR_TASK_DONE"
    RunEnded ended;           // the run's owner
    // Shared by the job's copies: whichever path ends the run first tells it.
    std::shared_ptr<std::atomic<bool>> told = std::make_shared<std::atomic<bool>>(false);

    // A job onto a disk from the folders as chosen: both resolved and
    // checked (KLVR_Task::synchronizationRefusal), the archive then reached
    // through its marker. nullopt, and the refusal in *why, when refused.
    static std::optional<CopyJob> onDisk(Engine engine, const std::string& source, const std::string& archiveFolder,
                                         std::string* why);
    // A job onto a server: the archive folder is "login:/path/Name", reached
    // through the marker there, which the pass's check proved.
    static std::optional<CopyJob> onServer(Engine engine, const std::string& source, const RemoteDestination& archive,
                                           std::string* why);

    bool toServer() const { return server.has_value(); }

    // Starts the run with its engine and returns at once; a run that
    // cannot begin is ended before the call returns.
    static void start(CopyJob job);

    // The run's end, told to the owner and then to listeners; only the first counts.
    void finish(const RunEnd& end) const;
    void finish(const platform::Task::Termination& end, const std::optional<PassCounts>& counts) const;
    void notStarted() const { finish(RunEnd{}); }
};
