// Event-to-archived latency of a watched folder: a source slot is watched
// with a settle time of 0 minutes, one file at a time is written into it,
// and the time until its copy stands in the destination is measured, with
// the CPU time (this process and its children) per event. For comparison,
// mode 2 is a bare inotify loop that copies each closed file at once.
//
//   WatcherLatencyBench [EVENTS=50] [FILES_ALREADY_ARCHIVED=0] [MODE=0 per-file|1 fast|2 bare inotify]

#include "BenchSupport.h"
#include "core/ArchiveDestination.h"
#include "core/CommonHeader.h"
#include "platform/runtime/NotificationCenter.h"
#include "platform/preferences/UserDefaults.h"
#include "watch/WatcherNSObject.h"

#include <sys/inotify.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
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

// What a tool that only watches does: copy each file once it is closed.
class BareInotifyLoop {
public:
    BareInotifyLoop(fs::path source, fs::path destination) : source_(std::move(source)), destination_(std::move(destination)) {
        fd_ = inotify_init1(IN_CLOEXEC);
        inotify_add_watch(fd_, source_.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO);
        thread_ = std::thread([this] { run(); });
    }
    ~BareInotifyLoop() {
        stop_ = true;
        std::ofstream(source_ / ".stop") << "";
        thread_.join();
        close(fd_);
    }

private:
    void run() {
        alignas(inotify_event) char buffer[65536];
        while (!stop_) {
            const ssize_t n = read(fd_, buffer, sizeof buffer);
            for (ssize_t off = 0; off < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + off);
                if (event->len) {
                    std::error_code ec;
                    fs::copy_file(source_ / event->name, destination_ / event->name,
                                  fs::copy_options::overwrite_existing, ec);
                }
                off += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    }
    fs::path source_, destination_;
    int fd_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace

int main(int argc, char** argv) {
    const int events = argc > 1 ? std::atoi(argv[1]) : 50;
    const int existing = argc > 2 ? std::atoi(argv[2]) : 0;
    const int mode = argc > 3 ? std::atoi(argv[3]) : 0;
    const bool batched = mode == 1;
    const bool bare = mode == 2;

    fs::path root = bench::makeTempHome();
    fs::path dest = root / "Backup", src = root / "Shoot/Main";
    fs::create_directories(dest);
    fs::create_directories(src);
    for (int i = 0; i < existing; ++i) writeFile(src / ("old/" + std::to_string(i) + ".jpg"), 20 * 1024);
    // Keep the benchmark's own log lines out of the figures' way.
    if (!freopen((root / "log.txt").c_str(), "w", stderr)) return 1;

    auto& prefs = platform::UserDefaults::standard();
    bench::chooseFolder(prefs, 0, dest);
    // Passes archive only into the folder whose marker proves it the archive.
    if (auto why = ArchiveDestination::choose(dest.string())) {
        std::fprintf(stdout, "%s\n", why->c_str());
        return 1;
    }
    bench::chooseFolder(prefs, 1, src);
    prefs.setInteger(kPrefBackupSourceImagesAfterMinutesOld, 0);
    prefs.setBool(kPrefUseBatchedSynchronization, batched);

    auto watcher = WatcherNSObject::create();
    watcher->set_index(1);
    watcher->set_Param(CommonHeader::slotParameters(1));
    watcher->setupObservers();
    std::unique_ptr<BareInotifyLoop> loop;
    if (bare) {
        fs::create_directories(dest / "Main");
        loop = std::make_unique<BareInotifyLoop>(src, dest / "Main");
    } else {
        // Archive what is already there before the clock starts.
        platform::NotificationCenter::defaultCenter().post(kWatcherItemChanged, std::make_shared<int>(0));
        while (watcher->_insideFoundItemLoop()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        watcher->setupWatcher();
        while (!watcher->_CFRunLoopRef()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        // The first pass after switching on walks the whole folder; the
        // figures are of the passes after it.
        writeFile(src / "warm-up.jpg", 1);
        if (!waitFor(dest / "Main" / "warm-up.jpg", std::chrono::seconds(600))) return 1;
    }

    std::vector<double> latencies;
    double cpu = 0;
    for (int i = 0; i < events; ++i) {
        // Let the previous pass end so every file starts from a quiet watcher.
        while (watcher->_insideFoundItemLoop()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        while (watcher->_insideFoundItemLoop()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const double cpuBefore = bench::applicationCpuSeconds();
        const std::string name = "new" + std::to_string(i) + ".jpg";
        auto start = Clock::now();
        writeFile(src / name, 20 * 1024);
        if (!waitFor(dest / "Main" / name, std::chrono::seconds(120))) {
            std::printf("file %d was not archived within 120 s\n", i);
            return 1;
        }
        latencies.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        while (watcher->_insideFoundItemLoop()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        cpu += bench::applicationCpuSeconds() - cpuBefore;
    }
    loop.reset();
    watcher->unloadWatcher();
    while (watcher->_insideFoundItemLoop()) std::this_thread::sleep_for(std::chrono::milliseconds(5));

    std::sort(latencies.begin(), latencies.end());
    const char* engine = bare ? "bare inotify loop" : batched ? "fast" : "per-file rsync";
    std::printf("engine: %s, files already archived: %d, events: %d\n", engine, existing, events);
    std::printf("event-to-archived latency: min %.3f s, p50 %.3f s, p90 %.3f s, max %.3f s; CPU per event %.1f ms\n",
                latencies.front(), latencies[latencies.size() / 2], latencies[latencies.size() * 9 / 10],
                latencies.back(), 1000.0 * cpu / events);
    std::error_code ec;
    fs::remove_all(root, ec);
    return 0;
}
