// Event-to-archived latency of a watched folder: a source slot is watched
// with a settle time of 0 minutes, one file at a time is written into it,
// and the time until its copy stands in the destination is measured.
//
//   WatcherLatencyBench [EVENTS=50] [FILES_ALREADY_ARCHIVED=0] [batched=0|1]

#include "core/CommonHeader.h"
#include "platform/runtime/NotificationCenter.h"
#include "platform/preferences/UserDefaults.h"
#include "watch/WatcherNSObject.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

fs::path makeTempRoot() {
    std::string pattern = (fs::temp_directory_path() / "tolv-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::exit(1);
    return pattern;
}

void writeFile(const fs::path& p, size_t size) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << std::string(size, 'x');
}

bool waitFor(const fs::path& p, std::chrono::seconds timeout) {
    auto end = Clock::now() + timeout;
    while (!fs::exists(p)) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void choose(platform::UserDefaults& prefs, int slot, const fs::path& folder) {
    auto p = CommonHeader::slotParameters(slot);
    prefs.setObject(p[sPrefCameraFolderPathKey], folder.string());
    prefs.setBool(p[sPrefCameraFolderPathAliasDataIsValidKey], true);
    prefs.setBool(p[sPrefCameraFolderPathEnableKey], true);
}

} // namespace

int main(int argc, char** argv) {
    const int events = argc > 1 ? std::atoi(argv[1]) : 50;
    const int existing = argc > 2 ? std::atoi(argv[2]) : 0;
    const bool batched = argc > 3 && std::atoi(argv[3]) != 0;

    fs::path root = makeTempRoot();
    setenv("HOME", (root / "home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root / "home/.config").c_str(), 1);
    fs::create_directories(root / "home/.config");
    fs::path dest = root / "Backup", src = root / "Shoot/Main";
    fs::create_directories(dest);
    fs::create_directories(src);
    for (int i = 0; i < existing; ++i) writeFile(src / ("old/" + std::to_string(i) + ".jpg"), 20 * 1024);
    // Keep the benchmark's own log lines out of the figures' way.
    if (!freopen((root / "log.txt").c_str(), "w", stderr)) return 1;

    auto& prefs = platform::UserDefaults::standard();
    choose(prefs, 0, dest);
    choose(prefs, 1, src);
    prefs.setInteger(kPrefBackupSourceImagesAfterMinutesOld, 0);
    prefs.setBool(kPrefUseBatchedSynchronization, batched);

    auto watcher = WatcherNSObject::create();
    watcher->set_index(1);
    watcher->set_Param(CommonHeader::slotParameters(1));
    watcher->setupObservers();
    // Archive what is already there before the clock starts.
    platform::NotificationCenter::defaultCenter().post(kWatcherItemChanged, std::make_shared<int>(0));
    while (watcher->_insideFoundItemLoop()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    watcher->setupWatcher();
    while (!watcher->_CFRunLoopRef()) std::this_thread::sleep_for(std::chrono::milliseconds(5));

    std::vector<double> latencies;
    for (int i = 0; i < events; ++i) {
        // Let the previous pass end so every file starts from a quiet watcher.
        while (watcher->_insideFoundItemLoop()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const std::string name = "new" + std::to_string(i) + ".jpg";
        auto start = Clock::now();
        writeFile(src / name, 20 * 1024);
        if (!waitFor(dest / "Main" / name, std::chrono::seconds(120))) {
            std::printf("file %d was not archived within 120 s\n", i);
            return 1;
        }
        latencies.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    watcher->unloadWatcher();
    while (watcher->_insideFoundItemLoop()) std::this_thread::sleep_for(std::chrono::milliseconds(5));

    std::sort(latencies.begin(), latencies.end());
    std::printf("engine: %s, files already archived: %d, events: %d\n", batched ? "batched" : "per-file rsync",
                existing, events);
    std::printf("event-to-archived latency: min %.3f s, median %.3f s, max %.3f s\n", latencies.front(),
                latencies[latencies.size() / 2], latencies.back());
    std::error_code ec;
    fs::remove_all(root, ec);
    return 0;
}
