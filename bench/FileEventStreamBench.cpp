// What watching a large folder tree costs: the time to set up a stream on
// it, the memory the process gains, how fast a change or a moved-in tree
// is delivered, and the processor time used while nothing changes.
//   FileEventStreamBench [IDLE_SECONDS [FOLDERS]]    defaults: 60, 10000
#include "platform/fileevents/FileEventStream.h"
#include "platform/runtime/RunLoop.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace fs = std::filesystem;
using platform::FileEventStream;
using platform::RunLoop;
using Clock = std::chrono::steady_clock;

namespace {

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

long residentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Counted from the kernel's own listing, not from the stream's bookkeeping.
long inotifyWatchesOfProcess() {
    long watches = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/fdinfo")) {
        std::ifstream info(entry.path());
        std::string line;
        while (std::getline(info, line))
            if (line.rfind("inotify wd:", 0) == 0) ++watches;
    }
    return watches;
}

// Top folders with equal numbers of subfolders; returns the folder count.
long makeTree(const fs::path& root, long folders) {
    const long top = folders >= 10000 ? 100 : 10;
    const long perTop = std::max(0L, (folders - top) / top);
    for (long i = 0; i < top; ++i)
        for (long j = 0; j < std::max(perTop, 1L); ++j)
            fs::create_directories(root / ("d" + std::to_string(i)) / (perTop ? "s" + std::to_string(j) : ""));
    return top + top * perTop;
}

struct Probe {
    std::shared_ptr<RunLoop> loop = std::make_shared<RunLoop>();
    int batches = 0;
    long events = 0;
};

void runUntilBatch(Probe& probe, int batchesBefore) {
    auto deadline = Clock::now() + std::chrono::seconds(30);
    while (probe.batches == batchesBefore && Clock::now() < deadline) probe.loop->runOnce(RunLoop::Seconds(0.01));
}

} // namespace

int main(int argc, char** argv) {
    const double idleSeconds = argc > 1 ? std::atof(argv[1]) : 60.0;
    const long wanted = argc > 2 ? std::atol(argv[2]) : 10000;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    std::string pattern = (fs::temp_directory_path() / "tolv-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return 1;
    const fs::path temp = pattern;
    const fs::path root = temp / "watched";
    const long folders = makeTree(root, wanted);
    std::printf("tree: %ld folders below %s\n", folders, root.c_str());

    Probe probe;
    const long rssBefore = residentKiB();
    auto start = Clock::now();
    auto stream = FileEventStream::create(root.string(), FileEventStream::kDefaultLatency,
                                          [&](const std::vector<FileEventStream::Event>& batch) {
                                              ++probe.batches;
                                              probe.events += long(batch.size());
                                          });
    if (!stream || !stream->scheduleWithRunLoop(probe.loop) || !stream->start()) return 1;
    std::printf("set-up: %.1f ms for %ld watches\n", millisecondsSince(start), inotifyWatchesOfProcess());
    std::printf("resident memory: %ld KiB before, %ld KiB after (+%ld KiB)\n", rssBefore, residentKiB(),
                residentKiB() - rssBefore);

    const fs::path deep = root / "d42" / "s7";
    start = Clock::now();
    std::ofstream(deep / "flushed.jpg") << "x";
    stream->flushSync();
    std::printf("change to callback with a flush: %.3f ms\n", millisecondsSince(start));

    start = Clock::now();
    std::ofstream(deep / "waited.jpg") << "x";
    runUntilBatch(probe, probe.batches);
    std::printf("change to callback by the latency (%.1f s): %.1f ms\n", FileEventStream::kDefaultLatency,
                millisecondsSince(start));

    const long movedFolders = makeTree(temp / "incoming", 1000);
    const long eventsBefore = probe.events;
    start = Clock::now();
    fs::rename(temp / "incoming", root / "incoming");
    stream->flushSync();
    std::printf("moved-in tree of %ld folders watched and delivered: %.1f ms (%ld events)\n", movedFolders,
                millisecondsSince(start), probe.events - eventsBefore);

    const double cpuBefore = cpuSeconds();
    probe.loop->addTimer(RunLoop::Seconds(idleSeconds), RunLoop::Seconds(0), [&] { probe.loop->stop(); });
    probe.loop->run();
    const double cpuUsed = cpuSeconds() - cpuBefore;
    std::printf("idle for %.0f s: %.3f s of processor time (%.4f %%)\n", idleSeconds, cpuUsed,
                idleSeconds > 0 ? 100.0 * cpuUsed / idleSeconds : 0.0);

    start = Clock::now();
    stream.reset();
    std::printf("tear-down: %.1f ms\n", millisecondsSince(start));

    fs::remove_all(temp);
    return 0;
}
