// What one synchronization of a source folder costs, through KLVR_Task and
// with the same bfs command run by hand: 500 files of 20 KB in 10 folders,
// a first pass into an empty destination and a pass with nothing to copy.
// Medians of REPEATS runs, alternating the two ways of starting. Last, the
// cost of the launch itself: a walk of an empty folder, 50 times each way.
//
//   KLVR_TaskBench [FILES [REPEATS [scratch-folder]]]   (default 500 5 $TMPDIR or /tmp)

#include "BenchSupport.h"
#include "engines/KLVR_Task.h"
#include "engines/SynchronizationPolicy.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

extern char** environ;

namespace {

constexpr unsigned kMinutes = 20;
constexpr unsigned kDaysWhenDeletionIsOff = SynchronizationPolicy::kDeletionOffDays;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Milliseconds for one synchronization through KLVR_Task.
double timed(bench::ThroughKLVR_Task& launcher, const fs::path& source, const fs::path& destination) {
    auto start = Clock::now();
    launcher.run(false, source, destination, kMinutes, kDaysWhenDeletionIsOff);
    return millisecondsSince(start);
}

// The same vector, spawned and waited for directly.
double byHand(const fs::path& source, const fs::path& destination) {
    FindRequest request = KLVR_Task::synchronizationRequest(source, destination, kMinutes, kDaysWhenDeletionIsOff, nullptr);
    std::vector<std::string> args = request.arguments(std::chrono::system_clock::now());
    args.insert(args.begin(), KLVR_Task::kFindToolPath);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, source.c_str());
    auto start = Clock::now();
    pid_t pid = -1;
    if (posix_spawn(&pid, KLVR_Task::kFindToolPath, &actions, nullptr, argv.data(), environ) != 0) {
        std::perror("posix_spawn");
        std::exit(1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    double elapsed = millisecondsSince(start);
    posix_spawn_file_actions_destroy(&actions);
    return elapsed;
}

void printRuns(const char* way, const std::vector<double>& runs) {
    std::printf("    %-10s", way);
    for (double ms : runs) std::printf(" %8.1f", ms);
    std::printf("\n");
}

void report(const char* what, int files, const std::vector<double>& launcher, const std::vector<double>& hand) {
    double l = bench::median(launcher), h = bench::median(hand);
    std::printf("%-22s KLVR_Task %8.1f ms   by hand %8.1f ms   ratio %.3f   per file %.2f ms\n", what, l, h, l / h,
                l / files);
    printRuns("KLVR_Task", launcher);
    printRuns("by hand", hand);
}

} // namespace

int main(int argc, char** argv) {
    int files = argc > 1 ? std::atoi(argv[1]) : 500;
    int repeats = argc > 2 ? std::atoi(argv[2]) : 5;
    const char* tmp = std::getenv("TMPDIR");
    fs::path scratch = fs::path(argc > 3 ? argv[3] : (tmp ? tmp : "/tmp")) / ("klvr-bench-" + std::to_string(getpid()));
    fs::path source = scratch / "photos", launcherCopy = scratch / "backup-a" / "photos",
             handCopy = scratch / "backup-b" / "photos";
    fs::create_directories(launcherCopy.parent_path());
    fs::create_directories(handCopy.parent_path());
    bench::buildSource(source, files, 20 * 1024);
    std::printf("%d files of 20 KB, %d runs each, median\n", files, repeats);

    bench::ThroughKLVR_Task launcher;
    std::vector<double> firstLauncher, firstHand, againLauncher, againHand;
    for (int i = 0; i < repeats; ++i) {
        fs::remove_all(launcherCopy);
        fs::remove_all(handCopy);
        // Alternate which goes first, so neither always finds the cache warmer.
        if (i % 2 == 0) {
            firstLauncher.push_back(timed(launcher, source, launcherCopy));
            firstHand.push_back(byHand(source, handCopy));
        } else {
            firstHand.push_back(byHand(source, handCopy));
            firstLauncher.push_back(timed(launcher, source, launcherCopy));
        }
        if (i % 2 == 0) {
            againHand.push_back(byHand(source, handCopy));
            againLauncher.push_back(timed(launcher, source, launcherCopy));
        } else {
            againLauncher.push_back(timed(launcher, source, launcherCopy));
            againHand.push_back(byHand(source, handCopy));
        }
    }
    report("first pass", files, firstLauncher, firstHand);
    report("pass with no change", files, againLauncher, againHand);

    fs::path empty = scratch / "empty", emptyCopy = scratch / "backup-c" / "empty";
    fs::create_directories(empty);
    fs::create_directories(emptyCopy);
    std::vector<double> launchLauncher, launchHand;
    for (int i = 0; i < 50; ++i) {
        launchLauncher.push_back(timed(launcher, empty, emptyCopy));
        launchHand.push_back(byHand(empty, emptyCopy));
    }
    std::printf("%-22s KLVR_Task %8.2f ms   by hand %8.2f ms   difference %+.2f ms\n", "empty folder (launch)",
                bench::median(launchLauncher), bench::median(launchHand), bench::median(launchLauncher) - bench::median(launchHand));
    fs::remove_all(scratch);
    return 0;
}
