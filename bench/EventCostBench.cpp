// What watch events cost: a watched source folder with fast archiving and a
// settle time of 0 minutes, beside lsyncd (default.rsync, delay 1, rsync
// archive) on the same trees, one after the other.
//
//   flat:  FLAT_FILES photos of 20 KiB in one folder (a camera's DCIM), all
//          archived; then FLAT_EVENTS times one new photo in that folder:
//          the time until its copy stands in the archive, and the CPU time
//          the event cost.
//   burst: a tree of BURST_TREE small photos in 100 folders, all archived;
//          then BURST_PHOTOS new photos at an even pace over BURST_SECONDS
//          into ten of those folders: the CPU time until every copy stands
//          and the archiver is quiet again, and the wall time until the
//          last copy stood.
//
//   EventCostBench [SCENARIO=all|flat|burst] [numbers of that scenario]
//   EventCostBench flat [FLAT_FILES=20000] [FLAT_EVENTS=20]
//   EventCostBench burst [BURST_TREE=100000] [BURST_PHOTOS=1000] [BURST_SECONDS=10]
//   EventCostBench all [FLAT_FILES] [FLAT_EVENTS] [BURST_TREE] [BURST_PHOTOS] [BURST_SECONDS]
//
// Our CPU time is this process's and its children's, less the bench's main
// thread, which writes the photos and polls for their copies. lsyncd's is
// read from /proc/<pid>/stat (its own time and that of the rsync runs it has
// waited for), which counts in clock ticks (10 ms here). Without lsyncd in
// the PATH only our figures are printed. TOLV_BENCH_KEEP keeps the scratch
// folder.

#include "BenchSupport.h"
#include "core/ArchiveDestination.h"
#include "core/CommonHeader.h"
#include "platform/preferences/UserDefaults.h"
#include "platform/runtime/NotificationCenter.h"
#include "watch/WatcherNSObject.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

constexpr size_t kPhotoBytes = 20 * 1024;
// The burst's tree is only there to be large: small files keep writing and
// archiving 100,000 of them to a minute or two.
constexpr size_t kTreePhotoBytes = 1024;
constexpr int kTreeFolders = 100;
constexpr int kBurstFolders = 10;

// open/write/close: an ofstream per file makes writing 100,000 of them slow.
bool writePhoto(const fs::path& path, const std::string& contents) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < contents.size()) {
        const ssize_t n = ::write(fd, contents.data() + done, contents.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    return ::close(fd) == 0 && done == contents.size();
}

double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

bool waitUntil(const std::function<bool()>& done, Clock::duration timeout, Clock::duration step = 1ms) {
    const auto end = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(step);
    }
    return true;
}

// Seconds from writing the photo until its copy stands; nullopt, said,
// after two minutes without it.
std::optional<double> timeUntilCopied(const fs::path& photo, const std::string& contents, const fs::path& copy) {
    const auto start = Clock::now();
    writePhoto(photo, contents);
    if (waitUntil([&] { return fs::exists(copy); }, 120s)) return since(start);
    std::printf("  %s was not copied within 120 s\n", photo.filename().c_str());
    return std::nullopt;
}

// Until busy() has been false for `quiet` without a break: a follow-up run
// can start shortly after the last one ended.
bool waitQuiet(const std::function<bool()>& busy, Clock::duration quiet, Clock::duration timeout) {
    const auto end = Clock::now() + timeout;
    auto quietSince = Clock::now();
    while (Clock::now() - quietSince < quiet) {
        if (Clock::now() > end) return false;
        if (busy()) quietSince = Clock::now();
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// One scenario's folders: the source slot's folder, our archive (copies land
// in Backup/Main/...) and lsyncd's target, laid out the same way.
struct Folders {
    explicit Folders(const fs::path& base)
        : base(base), source(base / "Shoot/Main"), archive(base / "Backup"), lsyncdTarget(base / "lsyncd/Main") {}
    fs::path base, source, archive, lsyncdTarget;
    fs::path ourCopy(const fs::path& relative) const { return archive / "Main" / relative; }
    fs::path lsyncdCopy(const fs::path& relative) const { return lsyncdTarget / relative; }
};

// The watcher of slot 1 with fast archiving, everything already in the
// source archived, and watching on.
class OurWatcher {
public:
    static std::unique_ptr<OurWatcher> start(const Folders& folders) {
        fs::create_directories(folders.archive);
        auto& prefs = platform::UserDefaults::standard();
        bench::chooseFolder(prefs, 0, folders.archive);
        // Passes archive only into the folder whose marker proves it the archive.
        if (auto why = ArchiveDestination::choose(folders.archive.string())) {
            std::printf("  our archive cannot be chosen: %s\n", why->c_str());
            return nullptr;
        }
        bench::chooseFolder(prefs, 1, folders.source);
        prefs.setInteger(kPrefBackupSourceImagesAfterMinutesOld, 0);
        prefs.setBool(kPrefUseBatchedSynchronization, true);

        std::unique_ptr<OurWatcher> ours(new OurWatcher);
        auto& watcher = ours->watcher_;
        watcher->set_index(1);
        watcher->set_Param(CommonHeader::slotParameters(1));
        watcher->setupObservers();

        auto started = Clock::now();
        platform::NotificationCenter::defaultCenter().post(kWatcherItemChanged, std::make_shared<int>(0));
        if (!waitUntil([&] { return !watcher->_insideFoundItemLoop(); }, 30min, 5ms)) {
            std::printf("  our first pass did not end within 30 minutes\n");
            return nullptr;
        }
        std::printf("  ours: first pass %.1f s\n", since(started));

        watcher->setupWatcher();
        waitUntil([&] { return watcher->_CFRunLoopRef() != nullptr; }, 5min, 5ms);
        // The first pass after switching on walks the whole folder; the
        // figures are of the passes after it.
        writePhoto(folders.source / "warm-up.jpg", "w");
        if (!waitUntil([&] { return fs::exists(folders.ourCopy("warm-up.jpg")); }, 30min)) {
            std::printf("  the warm-up photo was not archived within 30 minutes\n");
            return nullptr;
        }
        ours->waitIdle();
        return ours;
    }
    ~OurWatcher() {
        watcher_->unloadWatcher();
        waitIdle();
    }
    OurWatcher(const OurWatcher&) = delete;
    OurWatcher& operator=(const OurWatcher&) = delete;

    bool busy() const { return watcher_->_insideFoundItemLoop(); }
    void waitIdle() const {
        while (busy()) std::this_thread::sleep_for(5ms);
    }

private:
    OurWatcher() : watcher_(WatcherNSObject::create()) {}
    std::shared_ptr<WatcherNSObject> watcher_;
};

std::optional<fs::path> findLsyncd() {
    const char* path = std::getenv("PATH");
    std::stringstream folders(path ? path : "/usr/bin:/bin");
    for (std::string folder; std::getline(folders, folder, ':');) {
        const fs::path candidate = fs::path(folder.empty() ? "." : folder) / "lsyncd";
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return std::nullopt;
}

std::string luaString(const std::string& text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

// lsyncd as a user would run it for the same folders, started as our child.
class Lsyncd {
public:
    static std::unique_ptr<Lsyncd> start(const fs::path& binary, const Folders& folders) {
        fs::create_directories(folders.lsyncdTarget);
        const fs::path config = folders.base / "lsyncd.conf.lua";
        std::ofstream(config) << "settings {\n"
                              << "    nodaemon = true,\n"
                              << "    logfile = " << luaString((folders.base / "lsyncd.log").string()) << ",\n"
                              << "}\n"
                              << "sync {\n"
                              << "    default.rsync,\n"
                              << "    source = " << luaString(folders.source.string()) << ",\n"
                              << "    target = " << luaString(folders.lsyncdTarget.string()) << ",\n"
                              << "    delay = 1,\n"
                              << "    rsync = { archive = true },\n"
                              << "}\n";
        const fs::path output = folders.base / "lsyncd-output.txt";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        const std::string binaryText = binary.string(), configText = config.string();
        char* argv[] = {const_cast<char*>(binaryText.c_str()), const_cast<char*>("-nodaemon"),
                        const_cast<char*>(configText.c_str()), nullptr};
        pid_t pid = 0;
        const int error = posix_spawn(&pid, binaryText.c_str(), &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        if (error != 0) {
            std::printf("  lsyncd could not be started: %s\n", std::strerror(error));
            return nullptr;
        }
        return std::unique_ptr<Lsyncd>(new Lsyncd(pid));
    }
    ~Lsyncd() {
        if (ended_) return;
        ::kill(pid_, SIGTERM);
        while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    Lsyncd(const Lsyncd&) = delete;
    Lsyncd& operator=(const Lsyncd&) = delete;

    bool running() {
        if (!ended_ && ::waitpid(pid_, nullptr, WNOHANG) == pid_) ended_ = true;
        return !ended_;
    }

    // Its own time and its reaped children's; lsyncd waits for each rsync
    // run, so a run's time lands here once the run has been reaped.
    double cpuSeconds() const {
        std::ifstream file("/proc/" + std::to_string(pid_) + "/stat");
        std::string line;
        std::getline(file, line);
        const auto close = line.rfind(')');
        if (close == std::string::npos) return 0;
        // After the name: state is field 3; utime, stime, cutime and cstime are fields 14 to 17.
        std::istringstream fields(line.substr(close + 1));
        std::vector<std::string> field(15);
        for (auto& f : field) fields >> f;
        const double ticks = std::stod(field[11]) + std::stod(field[12]) + std::stod(field[13]) + std::stod(field[14]);
        return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
    }

    // An rsync run of its not yet reaped (a finished but unreaped one is
    // still listed, and its time is not yet in cutime).
    bool busy() const {
        std::error_code ec;
        for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid_) + "/task", ec)) {
            std::ifstream children(task.path() / "children");
            std::string any;
            if (children >> any) return true;
        }
        return false;
    }

private:
    explicit Lsyncd(pid_t pid) : pid_(pid) {}
    pid_t pid_;
    bool ended_ = false;
};

// Starts lsyncd and waits for its first full synchronization: the sentinel,
// written last, has its copy, and no rsync run has been alive for a second.
std::unique_ptr<Lsyncd> startLsyncd(const fs::path& binary, const Folders& folders) {
    writePhoto(folders.source / "lsyncd-sentinel.jpg", "s");
    const auto started = Clock::now();
    auto lsyncd = Lsyncd::start(binary, folders);
    if (!lsyncd) return nullptr;
    const bool copied = waitUntil(
        [&] { return fs::exists(folders.lsyncdCopy("lsyncd-sentinel.jpg")) || !lsyncd->running(); }, 30min, 10ms);
    if (!copied || !lsyncd->running() || !waitQuiet([&] { return lsyncd->busy(); }, 1s, 30min) || !lsyncd->running()) {
        std::printf("  lsyncd's first synchronization did not end; see %s\n", (folders.base / "lsyncd.log").c_str());
        return nullptr;
    }
    std::printf("  lsyncd: first synchronization %.1f s\n", since(started) - 1.0);
    return lsyncd;
}

struct EventFigures {
    std::vector<double> latencies;
    double cpu = 0;     // the events' CPU time, summed
    double spanCpu = 0; // from before the first event to after the last (lsyncd)
    double perEvent() const { return latencies.empty() ? 0 : cpu / static_cast<double>(latencies.size()); }
    double p(double q) const {
        auto sorted = latencies;
        std::sort(sorted.begin(), sorted.end());
        return sorted[std::min(sorted.size() - 1, static_cast<size_t>(static_cast<double>(sorted.size()) * q))];
    }
};

void printEvents(const char* who, const EventFigures& figures) {
    std::printf("  %-7s latency p50 %.3f s, p90 %.3f s, min %.3f s, max %.3f s; CPU per event %.1f ms\n", who,
                figures.p(0.5), figures.p(0.9), figures.p(0), figures.p(1), 1000 * figures.perEvent());
}

// FLAT_FILES photos in DCIM, then FLAT_EVENTS new photos, one at a time, into DCIM.
bool runFlat(const fs::path& base, int files, int events, const std::optional<fs::path>& lsyncdBinary) {
    const Folders folders(base);
    const fs::path dcim = folders.source / "DCIM";
    std::printf("flat: %d photos of 20 KiB in one folder, %d new photos written one at a time\n", files, events);
    auto started = Clock::now();
    fs::create_directories(dcim);
    std::string contents(kPhotoBytes, 'p');
    char name[64];
    for (int i = 0; i < files; ++i) {
        std::snprintf(name, sizeof name, "IMG_%06d.jpg", i);
        contents[0] = static_cast<char>('a' + i % 26);
        if (!writePhoto(dcim / name, contents)) {
            std::printf("  %s could not be written\n", (dcim / name).c_str());
            return false;
        }
    }
    std::printf("  tree written in %.1f s\n", since(started));

    EventFigures ours;
    {
        auto watcher = OurWatcher::start(folders);
        if (!watcher) return false;
        for (int i = 0; i < events; ++i) {
            // Every photo starts from a quiet watcher.
            watcher->waitIdle();
            std::this_thread::sleep_for(200ms);
            watcher->waitIdle();
            const double cpuBefore = bench::applicationCpuSeconds();
            const std::string photo = "ours-" + std::to_string(i) + ".jpg";
            const auto latency = timeUntilCopied(dcim / photo, contents, folders.ourCopy("DCIM") / photo);
            if (!latency) return false;
            ours.latencies.push_back(*latency);
            watcher->waitIdle();
            ours.cpu += bench::applicationCpuSeconds() - cpuBefore;
        }
    }
    printEvents("ours:", ours);

    if (!lsyncdBinary) {
        std::printf("  lsyncd: not installed (not in the PATH), its figures skipped\n");
        return true;
    }
    auto lsyncd = startLsyncd(*lsyncdBinary, folders);
    if (!lsyncd) return false;
    EventFigures theirs;
    const double spanBefore = lsyncd->cpuSeconds();
    for (int i = 0; i < events; ++i) {
        if (!waitQuiet([&] { return lsyncd->busy(); }, 200ms, 120s)) return false;
        const double cpuBefore = lsyncd->cpuSeconds();
        const std::string photo = "lsyncd-" + std::to_string(i) + ".jpg";
        const auto latency = timeUntilCopied(dcim / photo, contents, folders.lsyncdCopy("DCIM") / photo);
        if (!latency) return false;
        theirs.latencies.push_back(*latency);
        // Its rsync run reaped, so that its time is in lsyncd's cutime.
        if (!waitQuiet([&] { return lsyncd->busy(); }, 300ms, 120s)) return false;
        theirs.cpu += lsyncd->cpuSeconds() - cpuBefore;
    }
    theirs.spanCpu = lsyncd->cpuSeconds() - spanBefore;
    printEvents("lsyncd:", theirs);
    std::printf("  lsyncd's CPU from before the first event to after the last: %.1f ms per event "
                "(its CPU is counted in clock ticks of %.0f ms)\n",
                1000 * theirs.spanCpu / events, 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK)));
    if (theirs.cpu > 0)
        std::printf("  CPU per event, ours / lsyncd: %.2f; latency p50, ours / lsyncd: %.2f\n",
                    ours.perEvent() / theirs.perEvent(), ours.p(0.5) / theirs.p(0.5));
    else
        std::printf("  lsyncd's CPU per event was below its clock tick; no ratio\n");
    return true;
}

struct BurstFigures {
    double cpu = 0;
    double wall = 0; // from the first write until the last copy stood
};

// BURST_PHOTOS photos at an even pace into ten of the tree's folders; the
// main thread writes and polls, so neither is in our figures.
std::optional<BurstFigures> burst(const Folders& folders, const std::vector<fs::path>& targets, const char* prefix,
                                  int photos, double overSeconds,
                                  const std::function<fs::path(const fs::path&)>& copyOf,
                                  const std::function<bool()>& busy, Clock::duration quiet,
                                  const std::function<double()>& cpu) {
    const std::string contents(kPhotoBytes, 'b');
    auto photo = [&](int i) {
        return targets[static_cast<size_t>(i) % targets.size()] / (prefix + std::to_string(i) + ".jpg");
    };
    const double cpuBefore = cpu();
    const auto start = Clock::now();
    const auto pace = std::chrono::duration<double>(overSeconds / photos);
    int written = 0, copied = 0;
    const auto end = start + std::chrono::duration_cast<Clock::duration>(pace * photos) + 10min;
    while (copied < photos) {
        if (Clock::now() > end) {
            std::printf("  %d of %d photos were copied within 10 minutes of the last write\n", copied, photos);
            return std::nullopt;
        }
        bool acted = false;
        if (written < photos && Clock::now() >= start + std::chrono::duration_cast<Clock::duration>(pace * written)) {
            writePhoto(folders.source / photo(written), contents);
            ++written;
            acted = true;
        }
        while (copied < written && fs::exists(copyOf(photo(copied)))) {
            ++copied;
            acted = true;
        }
        if (!acted) std::this_thread::sleep_for(1ms);
    }
    BurstFigures figures;
    figures.wall = since(start);
    if (!waitQuiet(busy, quiet, 10min)) {
        std::printf("  did not become quiet within 10 minutes of the last copy\n");
        return std::nullopt;
    }
    figures.cpu = cpu() - cpuBefore;
    return figures;
}

// BURST_TREE photos in 100 folders (day D/card C), then the burst.
bool runBurst(const fs::path& base, int treePhotos, int photos, double overSeconds,
              const std::optional<fs::path>& lsyncdBinary) {
    const Folders folders(base);
    std::printf("burst: %d photos of 1 KiB in %d folders, %d new photos of 20 KiB over %.1f s into %d of them\n",
                treePhotos, kTreeFolders, photos, overSeconds, kBurstFolders);
    std::vector<fs::path> treeFolders, targets;
    for (int f = 0; f < kTreeFolders; ++f) {
        treeFolders.push_back(fs::path("day " + std::to_string(f / 10)) / ("card " + std::to_string(f % 10)));
        fs::create_directories(folders.source / treeFolders.back());
    }
    for (int f = 0; f < kBurstFolders; ++f)
        targets.push_back(treeFolders[static_cast<size_t>(f * kTreeFolders / kBurstFolders)]);

    auto started = Clock::now();
    std::string contents(kTreePhotoBytes, 't');
    char name[64];
    for (int i = 0; i < treePhotos; ++i) {
        std::snprintf(name, sizeof name, "IMG_%06d.jpg", i);
        contents[0] = static_cast<char>('a' + i % 26);
        const fs::path file = folders.source / treeFolders[static_cast<size_t>(i % kTreeFolders)] / name;
        if (!writePhoto(file, contents)) {
            std::printf("  %s could not be written\n", file.c_str());
            return false;
        }
    }
    std::printf("  tree written in %.1f s\n", since(started));

    std::optional<BurstFigures> ours;
    {
        auto watcher = OurWatcher::start(folders);
        if (!watcher) return false;
        // Past the stream's coalescing latency (1 s), so that a pass its
        // last events still ask for is counted too.
        ours = burst(
            folders, targets, "ours-", photos, overSeconds, [&](const fs::path& p) { return folders.ourCopy(p); },
            [&] { return watcher->busy(); }, 1500ms, bench::applicationCpuSeconds);
        if (!ours) return false;
    }
    std::printf("  ours:   CPU %.3f s (%.2f ms a photo), all archived after %.2f s\n", ours->cpu,
                1000 * ours->cpu / photos, ours->wall);

    if (!lsyncdBinary) {
        std::printf("  lsyncd: not installed (not in the PATH), its figures skipped\n");
        return true;
    }
    auto lsyncd = startLsyncd(*lsyncdBinary, folders);
    if (!lsyncd) return false;
    // Two seconds without an rsync run: past its delay of 1 s, and its last
    // run reaped.
    auto theirs = burst(
        folders, targets, "lsyncd-", photos, overSeconds, [&](const fs::path& p) { return folders.lsyncdCopy(p); },
        [&] { return lsyncd->busy(); }, 2s, [&] { return lsyncd->cpuSeconds(); });
    if (!theirs) return false;
    std::printf("  lsyncd: CPU %.3f s (%.2f ms a photo), all copied after %.2f s\n", theirs->cpu,
                1000 * theirs->cpu / photos, theirs->wall);
    if (theirs->cpu > 0) std::printf("  CPU, ours / lsyncd: %.2f\n", ours->cpu / theirs->cpu);
    return true;
}

int usage() {
    std::printf("usage: EventCostBench [all|flat|burst] [numbers of that scenario]\n"
                "  EventCostBench flat [FLAT_FILES=20000] [FLAT_EVENTS=20]\n"
                "  EventCostBench burst [BURST_TREE=100000] [BURST_PHOTOS=1000] [BURST_SECONDS=10]\n"
                "  EventCostBench all [FLAT_FILES] [FLAT_EVENTS] [BURST_TREE] [BURST_PHOTOS] [BURST_SECONDS]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    const std::string scenario = argc > 1 ? argv[1] : "all";
    const bool runsFlat = scenario == "all" || scenario == "flat";
    const bool runsBurst = scenario == "all" || scenario == "burst";
    if (!runsFlat && !runsBurst) return usage();
    // The numbers after the scenario are its own; after "all", flat's then burst's.
    std::vector<double> numbers;
    for (int i = 2; i < argc; ++i) {
        char* end = nullptr;
        numbers.push_back(std::strtod(argv[i], &end));
        if (*end || !(numbers.back() > 0)) return usage();
    }
    auto number = [&](size_t i, double fallback) { return i < numbers.size() ? numbers[i] : fallback; };
    const size_t burstFirst = scenario == "all" ? 2 : 0;
    const int flatFiles = static_cast<int>(number(0, 20000)), flatEvents = static_cast<int>(number(1, 20));
    const int burstTree = static_cast<int>(number(burstFirst, 100000));
    const int burstPhotos = static_cast<int>(number(burstFirst + 1, 1000));
    const double burstSeconds = number(burstFirst + 2, 10);
    if (numbers.size() > (scenario == "all" ? 5u : runsFlat ? 2u : 3u) || flatEvents < 1 || burstPhotos < 1)
        return usage();

    // Each figure as it comes, also into a file or a pipe.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const auto lsyncd = findLsyncd();
    const fs::path root = bench::makeTempHome();
    // Keep the benchmark's own log lines out of the figures' way.
    if (!freopen((root / "log.txt").c_str(), "w", stderr)) return 1;
    std::printf("scratch folder %s; lsyncd: %s\n", root.c_str(), lsyncd ? lsyncd->c_str() : "not installed");

    bool ok = true;
    std::error_code ec;
    if (runsFlat) {
        ok = runFlat(root / "flat", flatFiles, flatEvents, lsyncd);
        // The next scenario needs the room more than anyone needs these copies.
        if (ok && runsBurst) fs::remove_all(root / "flat", ec);
    }
    if (ok && runsBurst) ok = runBurst(root / "burst", burstTree, burstPhotos, burstSeconds, lsyncd);

    // A failed run keeps its logs (ours, lsyncd's) for a look.
    if (!ok) {
        std::printf("kept %s\n", root.c_str());
    } else if (!std::getenv("TOLV_BENCH_KEEP")) {
        // Hundreds of thousands of files: this can take minutes on a slow disk.
        const auto removing = Clock::now();
        fs::remove_all(root, ec);
        std::printf("scratch folder removed in %.1f s\n", since(removing));
    }
    return ok ? 0 : 1;
}
