// What one synchronization of a source folder costs, through KLVR_Task and
// with the same bfs command run by hand: 500 files of 20 KB in 10 folders,
// a first pass into an empty destination and a pass with nothing to copy.
// Medians of REPEATS runs, alternating the two ways of starting. Last, the
// cost of the launch itself: a walk of an empty folder, 50 times each way.
//
//   KLVR_TaskBench [FILES [REPEATS [scratch-folder]]]   (default 500 5 $TMPDIR or /tmp)

#include "app/CommonHeader.h"
#include "platform/NotificationCenter.h"
#include "tools/KLVR_Task.h"

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
constexpr unsigned kDaysWhenDeletionIsOff = 36500;

void buildSource(const fs::path& source, int files) {
    std::string contents(20 * 1024, 'p');
    for (int i = 0; i < files; ++i) {
        fs::path file = source / ("folder " + std::to_string(i % 10)) / ("IMG_" + std::to_string(i) + ".jpg");
        fs::create_directories(file.parent_path());
        contents[0] = static_cast<char>('a' + i % 26);
        std::ofstream(file, std::ios::binary) << contents;
        fs::last_write_time(file, fs::file_time_type::clock::now() - std::chrono::hours(1));
    }
}

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Starts a synchronization through KLVR_Task and waits for its notification.
class ThroughLauncher {
public:
    ThroughLauncher() {
        platform::NotificationCenter::defaultCenter().addObserver(this, kKLVVR_TASK_DONE, [this](const platform::Notification& n) {
            std::lock_guard lock(mutex_);
            if (n.context == context_) done_ = true;
            ended_.notify_all();
        });
    }
    ~ThroughLauncher() { platform::NotificationCenter::defaultCenter().removeObserver(this); }

    double run(const fs::path& source, const fs::path& destination) {
        {
            std::lock_guard lock(mutex_);
            context_ = std::make_shared<int>(0);
            done_ = false;
        }
        auto start = Clock::now();
        KLVR_Task::synchronizeFileItemsAtFolderPath(source, destination, kMinutes, kDaysWhenDeletionIsOff, context_);
        std::unique_lock lock(mutex_);
        ended_.wait(lock, [&] { return done_; });
        return millisecondsSince(start);
    }

private:
    std::mutex mutex_;
    std::condition_variable ended_;
    platform::Object context_;
    bool done_ = false;
};

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
    double l = median(launcher), h = median(hand);
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
    buildSource(source, files);
    std::printf("%d files of 20 KB, %d runs each, median\n", files, repeats);

    ThroughLauncher launcher;
    std::vector<double> firstLauncher, firstHand, againLauncher, againHand;
    for (int i = 0; i < repeats; ++i) {
        fs::remove_all(launcherCopy);
        fs::remove_all(handCopy);
        // Alternate which goes first, so neither always finds the cache warmer.
        if (i % 2 == 0) {
            firstLauncher.push_back(launcher.run(source, launcherCopy));
            firstHand.push_back(byHand(source, handCopy));
        } else {
            firstHand.push_back(byHand(source, handCopy));
            firstLauncher.push_back(launcher.run(source, launcherCopy));
        }
        if (i % 2 == 0) {
            againHand.push_back(byHand(source, handCopy));
            againLauncher.push_back(launcher.run(source, launcherCopy));
        } else {
            againLauncher.push_back(launcher.run(source, launcherCopy));
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
        launchLauncher.push_back(launcher.run(empty, emptyCopy));
        launchHand.push_back(byHand(empty, emptyCopy));
    }
    std::printf("%-22s KLVR_Task %8.2f ms   by hand %8.2f ms   difference %+.2f ms\n", "empty folder (launch)",
                median(launchLauncher), median(launchHand), median(launchLauncher) - median(launchHand));
    fs::remove_all(scratch);
    return 0;
}
