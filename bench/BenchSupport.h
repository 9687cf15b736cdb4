#pragma once
// What the synchronization benchmarks share: a settled source tree, medians,
// and a synchronization started through KLVR_Task and waited for.

#include "core/CommonHeader.h"
#include "platform/preferences/UserDefaults.h"
#include "platform/runtime/NotificationCenter.h"
#include "engines/KLVR_Task.h"

#include <algorithm>
#include <cstdlib>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include <sys/resource.h>

namespace bench {

// A fresh folder under the temporary folder, holding the home (HOME and
// XDG_CONFIG_HOME point into it) of a bench that runs watchers.
inline std::filesystem::path makeTempHome() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tolv-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::exit(1);
    const std::filesystem::path root = pattern;
    setenv("HOME", (root / "home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root / "home/.config").c_str(), 1);
    std::filesystem::create_directories(root / "home/.config");
    return root;
}

// `files` files of `bytes` each in ten folders, all modified an hour ago.
inline void buildSource(const std::filesystem::path& source, int files, size_t bytes) {
    std::string contents(bytes, 'p');
    for (int i = 0; i < files; ++i) {
        auto file = source / ("folder " + std::to_string(i % 10)) / ("IMG_" + std::to_string(i) + ".jpg");
        std::filesystem::create_directories(file.parent_path());
        contents[0] = static_cast<char>('a' + i % 26);
        std::ofstream(file, std::ios::binary) << contents;
        std::filesystem::last_write_time(file, std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
    }
}

inline double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Starts a synchronization through KLVR_Task and waits for its notification.
class ThroughKLVR_Task {
public:
    ThroughKLVR_Task() {
        platform::NotificationCenter::defaultCenter().addObserver(this, kKLVVR_TASK_DONE,
                                                                  [this](const platform::Notification& n) {
                                                                      std::lock_guard lock(mutex_);
                                                                      if (n.context == context_) done_ = true;
                                                                      ended_.notify_all();
                                                                  });
    }
    ~ThroughKLVR_Task() { platform::NotificationCenter::defaultCenter().removeObserver(this); }
    ThroughKLVR_Task(const ThroughKLVR_Task&) = delete;
    ThroughKLVR_Task& operator=(const ThroughKLVR_Task&) = delete;

    void run(bool oneRun, const std::filesystem::path& source, const std::filesystem::path& destination,
             unsigned minutes, unsigned days) {
        {
            std::lock_guard lock(mutex_);
            context_ = std::make_shared<int>(0);
            done_ = false;
        }
        // With the progress a watcher's pass counts, so its cost is in the figures.
        auto progress = std::make_shared<PassProgress>();
        if (oneRun)
            KLVR_Task::synchronizeFileItemsBatchedAtFolderPath(source, destination, minutes, days, context_, progress);
        else
            KLVR_Task::synchronizeFileItemsAtFolderPath(source, destination, minutes, days, context_, progress);
        std::unique_lock lock(mutex_);
        ended_.wait(lock, [&] { return done_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable ended_;
    platform::Object context_;
    bool done_ = false;
};

// A source or destination slot set to the folder, enabled, as a row leaves it.
inline void chooseFolder(platform::UserDefaults& prefs, int slot, const std::filesystem::path& folder) {
    auto p = CommonHeader::slotParameters(slot);
    prefs.setObject(p[sPrefCameraFolderPathKey], folder.string());
    prefs.setBool(p[sPrefCameraFolderPathAliasDataIsValidKey], true);
    prefs.setBool(p[sPrefCameraFolderPathEnableKey], true);
}

inline double seconds(const rusage& usage) {
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The CPU time of the application's side: this process and its children,
// less the calling thread, the bench's own, which makes files and polls.
inline double applicationCpuSeconds() {
    double total = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage usage{};
        getrusage(who, &usage);
        total += seconds(usage);
    }
    rusage own{};
    getrusage(RUSAGE_THREAD, &own);
    return total - seconds(own);
}

} // namespace bench
