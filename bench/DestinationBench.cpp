// What proving the destination costs, and how soon the photos that waited
// for an unplugged backup disk are archived once it is back.
//
//  1. Per pass: ArchiveDestination::locate() on a marked destination,
//     beside the folder validation alone that a pass made before; median
//     and 90th percentile of ITERATIONS calls each.
//  2. As root, with loop devices: an ext4 disk is archived into, unplugged,
//     PHOTOS new photos are written and a scan is refused, and the disk is
//     mounted again. Measured from the mount: until the destination monitor
//     clears the error, and until the last of the backlog stands archived
//     (FAST 0: the per-file engine, 1: fast archiving). RUNS times.
//
//   DestinationBench [ITERATIONS=2000] [PHOTOS=50] [RUNS=5] [FAST=0]

#include "BenchSupport.h"
#include "core/ArchiveDestination.h"
#include "pass/DestinationCheck.h"
#include "core/CommonHeader.h"
#include "core/MyAliasKit.h"
#include "core/validateFolderPrefWithParam.h"
#include "platform/preferences/UserDefaults.h"
#include "platform/runtime/NotificationCenter.h"
#include "watch/DestinationMonitor.h"
#include "pass/PassResult.h"
#include "watch/WatcherNSObject.h"

#include <sys/mount.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

void choose(int slot, const fs::path& folder) {
    auto& prefs = platform::UserDefaults::standard();
    auto p = CommonHeader::slotParameters(slot);
    prefs.setObject(p[sPrefCameraFolderPathKey], folder.string());
    prefs.setBool(p[sPrefCameraFolderPathAliasDataIsValidKey], true);
    prefs.setBool(p[sPrefCameraFolderPathEnableKey], true);
    MyAliasKit::savePath(folder.string(), p[sPrefCameraFolderPathAliasDataKey]);
    if (slot == CommonHeader::kDestinationSlot) ArchiveDestination::choose(folder.string());
}

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(p * (values.size() - 1))];
}

void timeCalls(const char* what, int iterations, const std::function<void()>& call) {
    std::vector<double> us;
    for (int i = 0; i < iterations; ++i) {
        const auto start = Clock::now();
        call();
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::printf("%-44s median %7.1f us   p90 %7.1f us\n", what, percentile(us, 0.5), percentile(us, 0.9));
}

bool waitUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
    const auto end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

std::string run(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[256];
        while (fgets(buffer, sizeof buffer, pipe)) out += buffer;
        pclose(pipe);
    }
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

void writePhotos(const fs::path& folder, const std::string& prefix, int count) {
    fs::create_directories(folder);
    for (int i = 0; i < count; ++i) std::ofstream(folder / (prefix + std::to_string(i) + ".jpg")) << std::string(20000, 'p');
}

void scanAndWait(const std::shared_ptr<WatcherNSObject>& watcher) {
    platform::NotificationCenter::defaultCenter().post(kWatcherItemChanged, std::make_shared<int>(0));
    waitUntil([&] { return !watcher->_insideFoundItemLoop(); }, std::chrono::seconds(120));
}

void measureReturn(const fs::path& root, int photos, int runs, bool fast) {
    const fs::path image = root / "disk.img", dest = root / "Backup", src = root / "Shoot/Main";
    fs::create_directories(dest);
    run("mkfs.ext4 -q -F " + image.string() + " 64M 2>&1");
    const std::string device = run("losetup -f --show " + image.string() + " 2>/dev/null");
    if (device.empty() || mount(device.c_str(), dest.c_str(), "ext4", 0, nullptr) != 0) {
        std::printf("return after unplugging: skipped (needs root and a loop device)\n");
        return;
    }
    writePhotos(src, "first", 200);
    choose(CommonHeader::kDestinationSlot, dest);
    choose(1, src);
    auto& prefs = platform::UserDefaults::standard();
    prefs.setInteger(kPrefBackupSourceImagesAfterMinutesOld, 0);
    prefs.setInteger(kPrefMinimumFreeSpaceMB, 0); // a 64 MB disk is below the usual floor
    prefs.setBool(kPrefUseBatchedSynchronization, fast);
    auto watcher = WatcherNSObject::create();
    watcher->set_index(1);
    watcher->set_Param(CommonHeader::slotParameters(1));
    watcher->setupObservers();
    scanAndWait(watcher);
    DestinationMonitor monitor;
    std::vector<double> cleared, archived;
    for (int r = 0; r < runs; ++r) {
        umount2(dest.c_str(), 0);
        const std::string prefix = "late" + std::to_string(r) + "-";
        writePhotos(src, prefix, photos);
        scanAndWait(watcher);
        waitUntil([&] { return monitor.current() && !monitor.current()->ready(); }, std::chrono::seconds(120));
        const auto start = Clock::now();
        mount(device.c_str(), dest.c_str(), "ext4", 0, nullptr);
        waitUntil([&] { return monitor.current()->ready(); }, std::chrono::seconds(120));
        cleared.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        const fs::path last = dest / "Main" / (prefix + std::to_string(photos - 1) + ".jpg");
        waitUntil([&] { return fs::exists(last) && !watcher->_insideFoundItemLoop(); }, std::chrono::seconds(120));
        archived.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        const auto result = PassResult::load(1);
        if (!result || !result->error.empty()) std::printf("run %d: the pass after the return failed\n", r);
    }
    std::printf("disk back -> error cleared (%d runs)          median %7.1f ms   max %7.1f ms\n", runs,
                percentile(cleared, 0.5), percentile(cleared, 1.0));
    std::printf("disk back -> %d waiting photos archived        median %7.1f ms   max %7.1f ms\n", photos,
                percentile(archived, 0.5), percentile(archived, 1.0));
    watcher.reset();
    umount2(dest.c_str(), MNT_DETACH);
    run("losetup -d " + device);
}

} // namespace

int main(int argc, char** argv) {
    const int iterations = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int photos = argc > 2 ? std::atoi(argv[2]) : 50;
    const int runs = argc > 3 ? std::atoi(argv[3]) : 5;
    const bool fast = argc > 4 && std::atoi(argv[4]) != 0;
    const fs::path root = bench::makeTempHome();
    platform::UserDefaults::resetStandard();
    // Keep the log lines out of the figures' way.
    if (!freopen((root / "log.txt").c_str(), "w", stderr)) return 1;

    const fs::path marked = root / "Archive";
    fs::create_directories(marked);
    choose(CommonHeader::kDestinationSlot, marked);
    const ParamDictionary reference =
        CommonHeader::folderReferenceParameters(CommonHeader::slotParameters(CommonHeader::kDestinationSlot));
    timeCalls("validation alone (what a pass did before)", iterations, [&] { validatedFolderPath(reference); });
    timeCalls("validation and identity (locate)", iterations, [] { ArchiveDestination::locate(); });
    timeCalls("the same on the bounded lane, with free space", iterations, [] { DestinationCheck::locate(); });
    fs::remove_all(marked / ".tolv-archiver-destination");
    timeCalls("locate, destination not mounted", iterations, [] { ArchiveDestination::locate(); });

    measureReturn(root, photos, runs, fast);
    if (!std::getenv("TOLV_BENCH_KEEP")) fs::remove_all(root);
    return 0;
}
