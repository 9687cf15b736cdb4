#include "engines/RemoteSynchronization.h"

#include "core/RemoteArchive.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/MemoryFile.h"
#include "platform/runtime/SearchPath.h"
#include "platform/runtime/Worker.h"
#include "engines/FileStamp.h"
#include "engines/FindRequest.h"
#include "engines/NameWalk.h"
#include "engines/RemoteListing.h"
#include "engines/RsyncBatches.h"
#include "engines/SynchronizationPolicy.h"
#include "engines/TaskDone.h"
#include "engines/ToolLauncher.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stop_token>
#include <string_view>
#include <exception>
#include <filesystem>
#include <system_error>
#include <thread>
#include <unordered_map>

using platform::logf;
using platform::Task;

namespace {

const Task::Termination kNothingStarted{
    .pid = -1, .status = TaskDone::kNotStartedStatus, .signaled = false, .started = false};

bool succeeded(const Task::Termination& end) { return end.started && !end.signaled && end.status == 0; }

// Success, or only some files failed or vanished (23, 24): what rsync told is whole.
bool toldWhole(const Task::Termination& end) {
    return end.started && !end.signaled && (end.status == 0 || end.status == 23 || end.status == 24);
}

Task::Termination runToEnd(const Task::Options& options) {
    const Task::Termination result = Task::run(options);
    logf("%s [%d] did complete with exit status %d", options.path.c_str(), static_cast<int>(result.pid),
         result.status);
    return result;
}

std::string nulList(const std::vector<std::string>& names) {
    std::string list;
    for (const auto& name : names) list.append(name).push_back('\0');
    return list;
}

std::string withoutDotSlash(const std::string& name) { return name.starts_with("./") ? name.substr(2) : name; }

// One rsync run over the names (its standard input, NUL-separated): how it
// ended, and what it told.
struct Told {
    Task::Termination end;
    std::vector<RemoteListing::Entry> entries;
};

Told runOverNames(const std::string& rsync, std::vector<std::string> arguments, const std::string& source,
                  const std::vector<std::string>& names) {
    std::string why;
    auto input = platform::MemoryFile::withContents(nulList(names), &why);
    auto output = platform::MemoryFile::withContents("", &why);
    if (!input || !output) {
        logf("no file list for rsync in %s: %s", source.c_str(), why.c_str());
        return {kNothingStarted, {}};
    }
    const Task::Termination end = runToEnd({.path = rsync,
                                            .arguments = std::move(arguments),
                                            .workingDirectory = source,
                                            .stdinFd = input->fd(),
                                            .stdoutFd = output->fd()});
    return {end, RemoteListing::parse(output->contents())};
}

// A dry run over the names: what rsync told, or how the run ended when it
// could not tell all of it.
struct Comparison {
    std::vector<RemoteListing::Entry> entries;
    std::optional<Task::Termination> failure;
};

Comparison compared(const std::string& rsync, const std::string& source, const std::string& destination,
                    const std::vector<std::string>& names, bool byContent) {
    Told told = runOverNames(rsync, SynchronizationPolicy::remoteComparison(destination, byContent), source, names);
    if (!toldWhole(told.end)) {
        logf("the copies in %s could not be compared (rsync status %d)", destination.c_str(), TaskDone::status(told.end));
        return {{}, told.end};
    }
    return {std::move(told.entries), std::nullopt};
}

std::int64_t transfers(const std::vector<RemoteListing::Entry>& entries) {
    return std::count_if(entries.begin(), entries.end(), [](const auto& entry) { return entry.transfers(); });
}

// How many files the whole lines of rsync's report tell of (every one it is
// through with: -ii); *used: the bytes those lines take.
std::int64_t filesTold(std::string_view output, std::size_t* used) {
    std::int64_t files = 0;
    *used = 0;
    for (std::size_t end; (end = output.find('\n', *used)) != std::string_view::npos; *used = end + 1) {
        const std::string_view line = output.substr(*used, end - *used);
        if (line.size() > 2 && line[1] == 'f') ++files;
    }
    return files;
}

// While the runs copy, the pass's progress follows what they have told so
// far, twice a second, reading only what came since; the copies to a server
// take one long run, whose end alone would say nothing until the pass is over.
class ToldSoFar {
public:
    ToldSoFar(const platform::MemoryFile& told, std::shared_ptr<PassProgress> progress) {
        if (!progress) return;
        thread_ = std::jthread([&told, progress](std::stop_token stop) {
            std::mutex mutex;
            std::condition_variable_any tick;
            std::size_t read = 0;
            std::int64_t files = 0;
            for (;;) {
                std::size_t used = 0;
                files += filesTold(told.contents(read), &used);
                read += used;
                progress->raiseDoneTo(files);
                std::unique_lock lock(mutex);
                if (tick.wait_for(lock, stop, std::chrono::milliseconds(500), [] { return false; }) ||
                    stop.stop_requested())
                    return;
            }
        });
    }

private:
    std::jthread thread_; // stopped and joined first, before what it reads goes
};

} // namespace

RemoteSynchronization::RemoteSynchronization(CopyJob job, std::string rsync)
    : job_(std::move(job)), names_(job_.listed), rsync_(std::move(rsync)), start_(std::chrono::system_clock::now()) {}

void RemoteSynchronization::start(CopyJob job) {
    const std::string rsync = platform::SearchPath::find("rsync").value_or("");
    if (rsync.empty()) {
        logf("rsync was not found in the search path: nothing copied from %s", job.source.c_str());
        return job.notStarted();
    }
    std::shared_ptr<RemoteSynchronization> run(new RemoteSynchronization(std::move(job), rsync));
    logf("copies replaced by this pass are kept in %s on the server",
         SynchronizationPolicy::keptFolder(run->job_.target, run->start_).c_str());
    platform::startWorker([run] { run->synchronize(); },
                          [run](const std::string& why) {
                              logf("the pass from %s failed: %s", run->job_.source.c_str(), why.c_str());
                              run->finish(kNothingStarted);
                          });
}

void RemoteSynchronization::synchronize() {
    std::string why;
    auto told = platform::MemoryFile::withContents("", &why);
    if (!told) {
        logf("no room for rsync's report of %s: %s; nothing copied", job_.source.c_str(), why.c_str());
        return finish(kNothingStarted);
    }
    bool complete = false;
    Task::Termination end;
    {
        ToldSoFar live(*told, job_.progress);
        end = job_.engine == CopyJob::Engine::PerFile ? runPerFile(told->fd()) : copy(told->fd(), &complete);
    }
    const std::string report = told->contents();
    std::size_t used = 0;
    if (job_.progress) job_.progress->raiseDoneTo(filesTold(report, &used));
    if (!end.started) return finish(end);
    counts_.copied += transfers(RemoteListing::parse(report));
    // Copies that cannot be looked at are not taken for made: the pass
    // ends as the look did, and the destination is looked at for why.
    if (const auto unknown = countFailed(end); unknown && succeeded(end)) return finish(*unknown);
    // The per-file walk says nothing of its runs; the comparison by content
    // decides each file alone.
    if (job_.engine == CopyJob::Engine::PerFile) complete = true;
    if (!SynchronizationPolicy::deletes(job_.days)) return finish(end);
    if (!complete) {
        logf("rsync for %s ended with status %d: no source file is deleted in this pass", job_.source.c_str(),
             TaskDone::status(end));
        return finish(end);
    }
    deleteOld();
    finish(end);
}

Task::Termination RemoteSynchronization::copy(int outputFd, bool* complete) {
    RsyncBatches::Limits limits;
    limits.argumentQuarters = 3; // a quarter stays free for the environment to grow
    RsyncBatches batches(rsync_, job_.source, job_.target, start_, limits);
    batches.sendOutputTo(outputFd);
    batches.reportTo(job_.progress, false); // done: from what the runs tell as they go
    if (job_.engine == CopyJob::Engine::Listed) {
        for (auto name : names_) {
            // Never read as an option, nor as a path outside the source.
            batches.add(name.starts_with("./") ? name : "./" + name);
        }
    } else {
        const auto walk = NameWalk::run(ToolLauncher::kFindToolPath, SynchronizationPolicy::walkArguments(job_.minutes),
                                        job_.source, [&](std::string name) {
                                            names_.push_back(name);
                                            batches.add(std::move(name));
                                        });
        if (!walk || !walk->started) {
            logf("the walk of %s did not run: nothing copied", job_.source.c_str());
            return kNothingStarted;
        }
    }
    batches.finish();
    *complete = batches.copiesComplete();
    return batches.outcome();
}

Task::Termination RemoteSynchronization::runPerFile(int outputFd) {
    // The walk that runs rsync for each file cannot say how many there are
    // before it ends: a walk of the names first tells the total.
    if (job_.progress)
        if (const auto names = NameWalk::collect(ToolLauncher::kFindToolPath,
                                                 SynchronizationPolicy::walkArguments(job_.minutes), job_.source))
            job_.progress->addTotal(static_cast<std::int64_t>(names->size()));
    const FindRequest request =
        SynchronizationPolicy::perFileRequest(job_.source, job_.target, job_.minutes, job_.days, nullptr, start_);
    return runToEnd({.path = ToolLauncher::kFindToolPath,
                     .arguments = request.arguments(std::chrono::system_clock::now()),
                     .workingDirectory = job_.source,
                     .stdoutFd = outputFd});
}

std::optional<Task::Termination> RemoteSynchronization::countFailed(const Task::Termination& copyEnd) {
    // Every run succeeded: every name handed is in place.
    if (job_.engine != CopyJob::Engine::PerFile && succeeded(copyEnd)) return std::nullopt;
    if (job_.engine == CopyJob::Engine::PerFile) {
        auto walked = NameWalk::collect(ToolLauncher::kFindToolPath, SynchronizationPolicy::walkArguments(job_.minutes),
                                        job_.source);
        names_ = walked ? std::move(*walked) : std::vector<std::string>{};
    }
    if (names_.empty()) return std::nullopt;
    const Comparison comparison = compared(rsync_, job_.source, job_.target, names_, false);
    if (comparison.failure) return comparison.failure;
    const auto now = std::chrono::system_clock::now();
    for (const auto& entry : comparison.entries) {
        if (!entry.transfers()) continue;
        const auto file = FileStamp::of(job_.source + "/" + entry.name);
        if (!file || !file->isRegularFile() || !file->settled(job_.minutes, now)) continue;
        ++counts_.failed;
        counts_.largestFailedBytes = std::max<std::uint64_t>(counts_.largestFailedBytes, file->size());
        if (!counts_.oldestFailed || file->modified() < *counts_.oldestFailed) {
            counts_.oldestFailed = file->modified();
            counts_.oldestFailedName = entry.name;
        }
    }
    return std::nullopt;
}

void RemoteSynchronization::deleteOld() {
    // Only copies on the server's disk may let an original go.
    const auto server = RemoteDestination::parse(job_.target);
    std::string why = "it is not a folder on a server";
    if (!server || !RemoteArchive::flush(*server, &why)) {
        logf("the copies of %s could not be put on the server's disk (%s): no source file is deleted in this pass",
             job_.source.c_str(), why.c_str());
        return;
    }
    const auto old = NameWalk::collect(ToolLauncher::kFindToolPath,
                                       SynchronizationPolicy::candidateArguments(job_.minutes, job_.days), job_.source);
    if (!old) return logf("the walk for old files of %s did not run: nothing deleted", job_.source.c_str());
    // An old file still unlike its copy is not the photo archived under its
    // name (a card numbering from the start again, a file rewritten with its
    // size and time kept): rsync's quick check would never copy it.
    std::vector<std::string> unlike;
    counts_.deleted = deleteVerified(rsync_, job_.source, job_.target, *old, &unlike);
    if (!unlike.empty()) copyAgain(unlike);
}

void RemoteSynchronization::copyAgain(const std::vector<std::string>& names) {
    std::vector<std::string> relative;
    for (const auto& name : names) relative.push_back("./" + name);
    auto arguments = SynchronizationPolicy::copyArguments(job_.target, start_);
    arguments.insert(arguments.begin(), "--ignore-times");
    const Told told = runOverNames(rsync_, std::move(arguments), job_.source, relative);
    const std::int64_t copied = transfers(told.entries);
    counts_.copied += copied;
    logf("%zu file(s) of %s unlike their copies of the same name: %lld copied again (status %d), the copies there kept "
         "in %s",
         names.size(), job_.source.c_str(), static_cast<long long>(copied), TaskDone::status(told.end),
         SynchronizationPolicy::keptFolder(job_.target, start_).c_str());
}

void RemoteSynchronization::cleanUp(const std::string& source, const std::string& destination, unsigned minutes) {
    const std::string rsync = platform::SearchPath::find("rsync").value_or("");
    if (rsync.empty()) return;
    platform::startWorker(
        [=] {
            const auto hidden =
                NameWalk::collect(ToolLauncher::kFindToolPath, SynchronizationPolicy::hiddenFileArguments(minutes), source);
            if (!hidden || hidden->empty()) return;
            const auto deleted = deleteVerified(rsync, source, destination, *hidden);
            logf("clean-up of %s: %lld hidden file(s) deleted", source.c_str(), static_cast<long long>(deleted));
        },
        [source](const std::string& why) { logf("the clean-up of %s failed: %s", source.c_str(), why.c_str()); });
}

std::int64_t RemoteSynchronization::deleteVerified(const std::string& rsync, const std::string& source,
                                                   const std::string& destination,
                                                   const std::vector<std::string>& names,
                                                   std::vector<std::string>* unlike) {
    // Each file as it was when its copy was compared.
    std::unordered_map<std::string, FileStamp> before;
    std::vector<std::string> files;
    for (const auto& name : names) {
        auto stamp = FileStamp::of(source + "/" + name);
        if (!stamp || !stamp->isRegularFile()) continue;
        before.emplace(withoutDotSlash(name), *stamp);
        files.push_back(name);
    }
    if (files.empty()) return 0;
    const Comparison comparison = compared(rsync, source, destination, files, true);
    if (comparison.failure) return 0;
    std::int64_t deleted = 0;
    for (const auto& entry : comparison.entries) {
        const auto it = before.find(entry.name);
        if (it == before.end()) continue;
        const std::string path = source + "/" + entry.name;
        const auto now = FileStamp::of(path);
        const bool unchanged =
            now && now->isSameFileAs(it->second) && now->matches(it->second) && now->size() == it->second.size();
        if (!entry.unchanged()) {
            if (unlike && unchanged) unlike->push_back(entry.name);
            continue;
        }
        if (!unchanged) {
            logf("%s changed while its copy was compared: kept", path.c_str());
            continue;
        }
        std::error_code ec;
        if (std::filesystem::remove(path, ec)) ++deleted;
        else if (ec) logf("%s could not be deleted: %s", path.c_str(), ec.message().c_str());
    }
    return deleted;
}

void RemoteSynchronization::finish(const Task::Termination& end) { job_.finish(end, counts_); }
