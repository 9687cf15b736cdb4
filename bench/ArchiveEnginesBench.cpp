// What an archive pass costs with each engine: the per-file synchronization
// and the one-run synchronization, both through KLVR_Task as the watcher
// calls them (20 minutes, deletion off), beside a plain `rsync -a SRC/ DEST/`.
// Two sets of files in ten folders: SMALL files of 20 KiB and LARGE files of
// 5 MiB, all settled. Each round runs every engine on every set into an
// empty destination (the first pass) and once more (the no-change pass),
// the engines in rotating order; figures are medians over the rounds.
//
//   ArchiveEnginesBench [ROUNDS=5] [SMALL=2000] [LARGE=200] [PER_FILE_ROUNDS=1] [scratch-folder]
//
// The per-file engine costs about 35 ms a file here, so it takes part only
// in the first PER_FILE_ROUNDS rounds; ask for as many as ROUNDS for its
// median of all of them (2,000 small files: about 70 s a pass).
//
//   ArchiveEnginesBench no-change [ROUNDS=5] [COUNTS=2000,20000,100000] [scratch-folder]
//
// The no-change pass alone, at each count of already-archived files of
// 4 KiB in ten folders: the fast engine against `rsync -a` of the same
// tree, each into its own archive made beforehand, in rotating order;
// medians of ROUNDS and their ratio. A third figure is what the fast
// engine's rsync runs cost when every name goes to rsync (as when no copy
// can be taken as in place, e.g. owners that differ): the walk, then every
// name in argument batches.

#include "BenchSupport.h"
#include "platform/runtime/SearchPath.h"
#include "platform/runtime/Task.h"
#include "engines/KLVR_Task.h"
#include "engines/RsyncBatches.h"
#include "engines/SynchronizationPolicy.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr unsigned kMinutes = 20;
constexpr unsigned kDaysWhenDeletionIsOff = SynchronizationPolicy::kDeletionOffDays;

enum class Engine { perFile, oneRun, rsyncA };
constexpr Engine kEngines[] = {Engine::perFile, Engine::oneRun, Engine::rsyncA};

const char* nameOf(Engine e) {
    switch (e) {
    case Engine::perFile:
        return "per-file";
    case Engine::oneRun:
        return "fast";
    case Engine::rsyncA:
        return "rsync -a";
    }
    return "?";
}

struct FileSet {
    std::string name;
    int files;
    size_t bytes;
    fs::path source;
};

void buildSource(const FileSet& set) { bench::buildSource(set.source, set.files, set.bytes); }

size_t countFiles(const fs::path& root) {
    size_t n = 0;
    for (const auto& entry : fs::recursive_directory_iterator(root)) n += entry.is_regular_file() ? 1 : 0;
    return n;
}

class Bench {
public:
    Bench(std::string rsync, fs::path scratch) : rsync_(std::move(rsync)), scratch_(std::move(scratch)) {}

    // Seconds for one pass of the engine from the set's source into destination.
    double pass(Engine engine, const FileSet& set, const fs::path& destination) {
        auto start = Clock::now();
        if (engine == Engine::rsyncA) {
            auto out = platform::Task::runCapturingOutput(
                {.path = rsync_,
                 .arguments = {"-a", set.source.string() + "/", destination.string() + "/"},
                 .workingDirectory = std::nullopt});
            if (out.termination.status != 0) std::fprintf(stdout, "rsync -a ended with %d\n", out.termination.status);
        } else {
            throughKLVR_Task_.run(engine == Engine::oneRun, set.source, destination, kMinutes, kDaysWhenDeletionIsOff);
        }
        return std::chrono::duration<double>(Clock::now() - start).count();
    }

    // A first pass into an empty destination and a pass with nothing to copy.
    void round(Engine engine, const FileSet& set) {
        fs::path destination = scratch_ / ("backup " + std::string(nameOf(engine))) / set.name;
        fs::remove_all(destination);
        fs::create_directories(destination.parent_path());
        // Write-back of earlier runs must not land in this one.
        ::sync();
        double first = pass(engine, set, destination);
        if (countFiles(destination) != static_cast<size_t>(set.files)) {
            std::printf("%s copied %zu of %d files of %s\n", nameOf(engine), countFiles(destination), set.files,
                        set.name.c_str());
            std::exit(1);
        }
        ::sync();
        double again = pass(engine, set, destination);
        std::printf("  %-9s %-8s first %9.3f s   no change %9.3f s\n", set.name.c_str(), nameOf(engine), first, again);
        std::fflush(stdout);
        firstPasses_[{set.name, engine}].push_back(first);
        noChangePasses_[{set.name, engine}].push_back(again);
        fs::remove_all(destination);
    }

    void report(const FileSet& set) const {
        std::printf("\n%d files of %s, medians (runs)\n", set.files, set.bytes >= (1u << 20) ? "5 MiB" : "20 KiB");
        line("first pass", set, firstPasses_);
        line("no-change pass", set, noChangePasses_);
    }

private:
    using Runs = std::map<std::pair<std::string, Engine>, std::vector<double>>;

    static void line(const char* what, const FileSet& set, const Runs& runs) {
        std::map<Engine, double> m;
        std::printf("  %-15s", what);
        for (Engine e : kEngines) {
            auto it = runs.find({set.name, e});
            if (it == runs.end()) continue;
            m[e] = bench::median(it->second);
            std::printf("  %s %.3f s (%zu)", nameOf(e), m[e], it->second.size());
        }
        std::printf("\n  %-15s  fast / rsync -a = %.2f", "", m[Engine::oneRun] / m[Engine::rsyncA]);
        if (m.count(Engine::perFile)) std::printf("   per-file / fast = %.1f", m[Engine::perFile] / m[Engine::oneRun]);
        std::printf("\n");
    }

    std::string rsync_;
    fs::path scratch_;
    bench::ThroughKLVR_Task throughKLVR_Task_;
    Runs firstPasses_, noChangePasses_;
};

// Seconds for one `rsync -a SRC/ DEST/`.
double rsyncA(const std::string& rsync, const fs::path& source, const fs::path& destination) {
    auto start = Clock::now();
    auto out =
        platform::Task::runCapturingOutput({.path = rsync,
                                            .arguments = {"-a", source.string() + "/", destination.string() + "/"},
                                            .workingDirectory = std::nullopt});
    if (out.termination.status != 0) std::fprintf(stdout, "rsync -a ended with %d\n", out.termination.status);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Seconds for the walk and every name it lists in the fast engine's rsync runs.
double everyNameToRsync(const std::string& rsync, const fs::path& source, const fs::path& destination) {
    auto start = Clock::now();
    auto walk = platform::Task::runCapturingOutput({.path = KLVR_Task::kFindToolPath,
                                                    .arguments = SynchronizationPolicy::walkArguments(kMinutes),
                                                    .workingDirectory = source.string()});
    RsyncBatches batches(rsync, source.string(), destination.string(), std::chrono::system_clock::now(), {});
    const std::string& names = walk.standardOutput;
    for (size_t at = 0, nul; (nul = names.find('\0', at)) != std::string::npos; at = nul + 1)
        batches.add(names.substr(at, nul - at));
    batches.finish();
    if (batches.outcome().status != 0) std::printf("rsync ended with %d\n", batches.outcome().status);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::vector<int> counts(const char* list) {
    std::vector<int> values;
    for (const char* at = list; *at;) {
        char* end = nullptr;
        long value = std::strtol(at, &end, 10);
        if (end == at) break;
        if (value > 0) values.push_back(static_cast<int>(value));
        at = *end == ',' ? end + 1 : end;
    }
    return values;
}

int noChangePasses(const std::string& rsync, const fs::path& scratch, int rounds, const std::vector<int>& sizes) {
    std::printf("no-change pass, medians of %d; each line one round\n", rounds);
    bench::ThroughKLVR_Task throughKLVR_Task;
    std::vector<std::string> summary;
    for (int files : sizes) {
        const fs::path source = scratch / ("source " + std::to_string(files));
        const fs::path fast = scratch / "fast" / std::to_string(files);
        const fs::path plain = scratch / "rsync-a" / std::to_string(files);
        bench::buildSource(source, files, 4u << 10);
        // Settled folders too: rsync leaves a folder's time alone while it is
        // of the current second, and the next pass would set it.
        for (const auto& entry : fs::recursive_directory_iterator(source))
            if (entry.is_directory())
                fs::last_write_time(entry.path(), fs::file_time_type::clock::now() - std::chrono::hours(1));
        fs::last_write_time(source, fs::file_time_type::clock::now() - std::chrono::hours(1));
        fs::create_directories(fast.parent_path());
        fs::create_directories(plain.parent_path());
        throughKLVR_Task.run(true, source, fast, kMinutes, kDaysWhenDeletionIsOff);
        rsyncA(rsync, source, plain);
        if (countFiles(fast) != static_cast<size_t>(files)) {
            std::printf("the fast pass copied %zu of %d files\n", countFiles(fast), files);
            return 1;
        }
        ::sync();
        std::vector<double> fastRuns, plainRuns, everyNameRuns;
        const std::function<void()> passes[] = {
            [&] {
                auto start = Clock::now();
                throughKLVR_Task.run(true, source, fast, kMinutes, kDaysWhenDeletionIsOff);
                fastRuns.push_back(std::chrono::duration<double>(Clock::now() - start).count());
            },
            [&] { plainRuns.push_back(rsyncA(rsync, source, plain)); },
            [&] { everyNameRuns.push_back(everyNameToRsync(rsync, source, fast)); },
        };
        for (int r = 0; r < rounds; ++r) {
            // Rotate who goes first, so none always meets the warmest cache.
            for (int k = 0; k < 3; ++k) passes[(r + k) % 3]();
            std::printf("  %7d files   fast %8.3f s   rsync -a %8.3f s   every name to rsync %8.3f s\n", files,
                        fastRuns.back(), plainRuns.back(), everyNameRuns.back());
            std::fflush(stdout);
        }
        const double f = bench::median(fastRuns), p = bench::median(plainRuns), e = bench::median(everyNameRuns);
        char line[300];
        std::snprintf(line, sizeof line,
                      "  %7d files   fast %8.3f s   rsync -a %8.3f s   fast / rsync -a = %.2f"
                      "   every name to rsync %8.3f s = %.2f x rsync -a",
                      files, f, p, f / p, e, e / p);
        summary.push_back(line);
        fs::remove_all(source);
        fs::remove_all(fast);
        fs::remove_all(plain);
    }
    std::printf("\nmedians\n");
    for (const auto& line : summary) std::printf("%s\n", line.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "no-change") {
        const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
        const std::vector<int> sizes = counts(argc > 3 ? argv[3] : "2000,20000,100000");
        const char* tmp = std::getenv("TMPDIR");
        const fs::path scratch =
            fs::path(argc > 4 ? argv[4] : (tmp ? tmp : "/tmp")) / ("engines-bench-" + std::to_string(getpid()));
        auto rsync = platform::SearchPath::find("rsync");
        if (!rsync) {
            std::printf("rsync is not in the search path\n");
            return 1;
        }
        fs::create_directories(scratch);
        if (!std::freopen((scratch / "log.txt").c_str(), "w", stderr)) return 1;
        const int status = noChangePasses(*rsync, scratch, rounds, sizes);
        fs::remove_all(scratch);
        return status;
    }
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const int small = argc > 2 ? std::atoi(argv[2]) : 2000;
    const int large = argc > 3 ? std::atoi(argv[3]) : 200;
    const int perFileRounds = argc > 4 ? std::atoi(argv[4]) : 1;
    const char* tmp = std::getenv("TMPDIR");
    const fs::path scratch =
        fs::path(argc > 5 ? argv[5] : (tmp ? tmp : "/tmp")) / ("engines-bench-" + std::to_string(getpid()));
    auto rsync = platform::SearchPath::find("rsync");
    if (!rsync) {
        std::printf("rsync is not in the search path\n");
        return 1;
    }

    fs::create_directories(scratch);
    std::vector<FileSet> sets;
    if (small > 0) sets.push_back({"small", small, 20u << 10, scratch / "small"});
    if (large > 0) sets.push_back({"large", large, 5u << 20, scratch / "large"});
    for (const auto& set : sets) buildSource(set);
    // The children's and the launcher's log lines go to a file, out of the figures' way.
    if (!std::freopen((scratch / "log.txt").c_str(), "w", stderr)) return 1;
    std::printf("%d rounds, the per-file engine in the first %d; each line one round\n", rounds,
                std::min(rounds, perFileRounds));

    Bench bench(*rsync, scratch);
    for (int r = 0; r < rounds; ++r) {
        for (const auto& set : sets) {
            // Rotate who goes first, so no engine always meets the warmest cache.
            for (int k = 0; k < 3; ++k) {
                Engine engine = kEngines[(r + k) % 3];
                if (engine == Engine::perFile && r >= perFileRounds) continue;
                bench.round(engine, set);
            }
        }
    }
    for (const auto& set : sets) bench.report(set);
    fs::remove_all(scratch);
    return 0;
}
