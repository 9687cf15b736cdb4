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

#include "BenchSupport.h"
#include "platform/runtime/SearchPath.h"
#include "platform/runtime/Task.h"
#include "tools/KLVR_Task.h"
#include "tools/SynchronizationPolicy.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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
    case Engine::perFile: return "per-file";
    case Engine::oneRun: return "fast";
    case Engine::rsyncA: return "rsync -a";
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

} // namespace

int main(int argc, char** argv) {
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
