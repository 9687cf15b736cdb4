// From a card's insertion to its last photo archived: a source slot is a
// card's mount point, watched; the card is pulled (the slot goes into error),
// then a card with PHOTOS photos of 20 KiB is mounted at the same place, and
// the time until the last copy stands in the destination is measured. Needs
// root (tmpfs mounts); the card is prepared in a folder first and moved in
// by a bind mount, so the clock measures the insertion, not the writing.
//
//   CardInsertionBench [PHOTOS=300] [MODE=0 per-file|1 fast] [RUNS=3]

#include "BenchSupport.h"
#include "core/ArchiveDestination.h"
#include "core/CommonHeader.h"
#include "core/MyAliasKit.h"
#include "platform/preferences/UserDefaults.h"
#include "watch/WatcherNSObject.h"

#include <sys/mount.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

bool mountTmpfs(const fs::path& at) { return mount("tmpfs", at.c_str(), "tmpfs", 0, "size=64m") == 0; }
bool bindMount(const fs::path& from, const fs::path& at) { return mount(from.c_str(), at.c_str(), nullptr, MS_BIND, nullptr) == 0; }

std::size_t countFiles(const fs::path& folder) {
    std::error_code ec;
    std::size_t n = 0;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        n += it->is_regular_file(ec);
    return n;
}

} // namespace

int main(int argc, char** argv) {
    const int photos = argc > 1 ? std::atoi(argv[1]) : 300;
    const bool fast = argc > 2 && std::atoi(argv[2]) == 1;
    const int runs = argc > 3 ? std::atoi(argv[3]) : 3;
    const fs::path root = bench::makeTempHome();
    const fs::path dest = root / "Backup", card = root / "Card", prepared = root / "Prepared";
    fs::create_directories(dest);
    fs::create_directories(card);
    if (!freopen((root / "log.txt").c_str(), "w", stderr)) return 1;
    if (!mountTmpfs(card)) {
        std::printf("cannot mount a tmpfs here (root is needed)\n");
        return 1;
    }
    std::ofstream(card / "first.jpg") << "first card";
    auto& prefs = platform::UserDefaults::standard();
    bench::chooseFolder(prefs, 0, dest);
    if (auto why = ArchiveDestination::choose(dest.string())) return std::printf("%s\n", why->c_str()), 1;
    bench::chooseFolder(prefs, 1, card);
    MyAliasKit::savePath(card.string(), CommonHeader::param(CommonHeader::slotParameters(1), sPrefCameraFolderPathAliasDataKey));
    prefs.setInteger(kPrefBackupSourceImagesAfterMinutesOld, 0);
    prefs.setBool(kPrefUseBatchedSynchronization, fast);
    prefs.synchronize();
    auto watcher = WatcherNSObject::create();
    watcher->set_index(1);
    watcher->set_Param(CommonHeader::slotParameters(1));
    watcher->setupObservers();
    watcher->switchOn();
    const auto idle = [&] {
        while (watcher->_insideFoundItemLoop()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    };
    std::this_thread::sleep_for(std::chrono::seconds(2));
    idle();

    std::vector<double> seconds;
    for (int run = 0; run < runs; ++run) {
        fs::remove_all(prepared);
        fs::create_directories(prepared / "DCIM");
        for (int i = 0; i < photos; ++i)
            std::ofstream(prepared / ("DCIM/IMG_" + std::to_string(run) + "_" + std::to_string(i) + ".JPG"))
                << std::string(20 * 1024, static_cast<char>('a' + i % 26));
        umount2(card.c_str(), MNT_DETACH); // pulled
        std::this_thread::sleep_for(std::chrono::seconds(3));
        idle();
        const std::size_t before = countFiles(dest / "Card");
        const auto start = Clock::now();
        if (!bindMount(prepared, card)) return std::printf("cannot mount the card\n"), 1;
        while (countFiles(dest / "Card") < before + static_cast<std::size_t>(photos)) {
            if (Clock::now() - start > std::chrono::minutes(5)) return std::printf("not archived within 5 min\n"), 1;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        seconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        idle();
    }
    watcher->unloadWatcher();
    idle();
    umount2(card.c_str(), MNT_DETACH);
    std::printf("%s engine, %d photos: insertion to last photo archived, median %.2f s (min %.2f, max %.2f, %d runs)\n",
                fast ? "fast" : "per-file", photos, bench::median(seconds),
                *std::min_element(seconds.begin(), seconds.end()), *std::max_element(seconds.begin(), seconds.end()),
                runs);
    fs::remove_all(root);
    return 0;
}
