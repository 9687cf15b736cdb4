// What watching a large folder tree costs: the time to set up a stream on
// it, the memory the process gains, how fast a change or a moved-in tree
// is delivered, and the processor time used while nothing changes. Then,
// on each LARGE tree, what the set-up costs (wall, processor time, peak
// memory) and how soon a set-up stopped halfway ends (medians of RUNS).
//   FileEventStreamBench [IDLE_SECONDS [FOLDERS [LARGE [RUNS]]]]
//   defaults: 60, 10000, 50000,100000 (comma-separated; 0 for none), 5
#include "platform/fileevents/FileEventStream.h"
#include "platform/fileevents/StreamCancel.h"
#include "platform/runtime/RunLoop.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <malloc.h>
#include <memory>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using platform::FileEventStream;
using platform::RunLoop;
using Clock = std::chrono::steady_clock;

namespace {

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

long statusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(status, line))
        if (line.rfind(prefix, 0) == 0) return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
    return -1;
}

long residentKiB() { return statusKiB("VmRSS"); }

// Memory freed by earlier rounds goes back to the system first, so that a
// round's peak is its own.
void resetPeakResident() {
    malloc_trim(0);
    std::ofstream("/proc/self/clear_refs") << "5";
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n == 0 ? 0.0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
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

struct SetUpCost {
    double wallMs = 0, cpuMs = 0, peakGainKiB = 0, keptKiB = 0;
};

SetUpCost measureSetUp(const fs::path& root) {
    resetPeakResident();
    const long before = residentKiB();
    const double cpuBefore = cpuSeconds();
    const auto start = Clock::now();
    auto stream = FileEventStream::create(root.string(), FileEventStream::kDefaultLatency, nullptr);
    SetUpCost cost{millisecondsSince(start), 1000.0 * (cpuSeconds() - cpuBefore), 0, 0};
    cost.peakGainKiB = double(statusKiB("VmHWM") - before);
    cost.keptKiB = double(residentKiB() - before);
    if (!stream) std::printf("  set-up failed\n");
    return cost;
}

struct StopDuringSetUp {
    double afterStopMs = 0; // from the request to create() returning
    bool returnedNull = false;
    bool endedBeforeStop = false;
    long watchesLeft = 0;
};

// Starts a set-up on a thread of its own, as the watcher does, and stops it
// after the delay: by its token, or by stopping the loop the token was made with.
StopDuringSetUp stopDuringSetUp(const fs::path& root, double delayMs, bool throughLoop) {
    auto loop = std::make_shared<RunLoop>();
    auto cancel =
        throughLoop ? std::make_shared<platform::StreamCancel>(loop) : std::make_shared<platform::StreamCancel>();
    std::unique_ptr<FileEventStream> stream;
    Clock::time_point returned;
    std::thread setUp([&] {
        stream = FileEventStream::create(root.string(), FileEventStream::kDefaultLatency, nullptr, cancel);
        returned = Clock::now();
    });
    std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(delayMs));
    const auto stopAt = Clock::now();
    if (throughLoop)
        loop->stop();
    else
        cancel->cancel();
    setUp.join();
    StopDuringSetUp result;
    result.afterStopMs = std::chrono::duration<double, std::milli>(returned - stopAt).count();
    result.endedBeforeStop = returned < stopAt;
    result.returnedNull = !stream;
    stream.reset();
    result.watchesLeft = inotifyWatchesOfProcess();
    return result;
}

void benchLargeTree(const fs::path& temp, long wanted, int runs) {
    const fs::path root = temp / ("large-" + std::to_string(wanted));
    const long folders = makeTree(root, wanted);
    std::printf("tree: %ld folders\n", folders);

    std::vector<double> wall, cpu, peak, kept;
    for (int i = 0; i < runs; ++i) {
        auto cost = measureSetUp(root);
        wall.push_back(cost.wallMs);
        cpu.push_back(cost.cpuMs);
        peak.push_back(cost.peakGainKiB / 1024);
        kept.push_back(cost.keptKiB / 1024);
    }
    std::printf("  set-up: %.0f ms, %.0f ms of processor time, peak memory +%.1f MiB, "
                "+%.1f MiB while watching (medians of %d)\n",
                median(wall), median(cpu), median(peak), median(kept), runs);

    for (bool throughLoop : {false, true}) {
        std::vector<double> afterStop;
        int nulls = 0, early = 0;
        long leftMax = 0;
        for (int i = 0; i < runs; ++i) {
            auto stop = stopDuringSetUp(root, median(wall) / 2, throughLoop);
            if (stop.endedBeforeStop)
                ++early;
            else
                afterStop.push_back(stop.afterStopMs);
            nulls += stop.returnedNull;
            leftMax = std::max(leftMax, stop.watchesLeft);
        }
        std::printf("  %s halfway through the set-up: create returns %.1f ms later (median, max %.1f); "
                    "%d of %d null, %d ended before the stop, at most %ld watches left\n",
                    throughLoop ? "loop stopped" : "cancelled", median(afterStop),
                    afterStop.empty() ? 0.0 : *std::max_element(afterStop.begin(), afterStop.end()), nulls, runs,
                    early, leftMax);
    }
    fs::remove_all(root);
}

std::vector<long> parseSizes(const std::string& list) {
    std::vector<long> sizes;
    std::stringstream in(list);
    for (std::string item; std::getline(in, item, ',');)
        if (long size = std::atol(item.c_str()); size > 0) sizes.push_back(size);
    return sizes;
}

} // namespace

int main(int argc, char** argv) {
    const double idleSeconds = argc > 1 ? std::atof(argv[1]) : 60.0;
    const long wanted = argc > 2 ? std::atol(argv[2]) : 10000;
    const std::vector<long> large = parseSizes(argc > 3 ? argv[3] : "50000,100000");
    const int runs = std::max(1, argc > 4 ? std::atoi(argv[4]) : 5);
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
    fs::remove_all(root);

    for (long size : large) benchLargeTree(temp, size, runs);
    fs::remove_all(temp);
    return 0;
}
