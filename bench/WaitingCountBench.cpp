// What the count of files nobody archives costs (UnarchivedFiles::count):
// a slot that is not watched, or whose destination is away, walks its
// source once a minute with it. Wall and CPU time of one count, on a
// folder of settled photos of which none has changed since the last pass
// (the common case), and of which all have (a card never archived).
//
//   WaitingCountBench [FILES=100000] [RUNS=3]

#include "BenchSupport.h"
#include "pass/UnarchivedFiles.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>

namespace fs = std::filesystem;

namespace {

double cpuMilliseconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    const int files = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    const fs::path root = bench::makeTempHome();
    const auto hourAgo = fs::file_time_type::clock::now() - std::chrono::hours(1);
    for (int i = 0; i < files; ++i) {
        const fs::path file = root / "Main" / ("d" + std::to_string(i % 200)) / (std::to_string(i) + ".jpg");
        fs::create_directories(file.parent_path());
        std::ofstream(file) << "p";
        fs::last_write_time(file, hourAgo);
    }
    const auto now = std::chrono::system_clock::now();
    struct Case {
        const char* name;
        std::optional<platform::Date> archivedFrom;
    } cases[] = {{"archived since, none changed after", now + std::chrono::minutes(30)},
                 {"never archived, all waiting", std::nullopt}};
    for (const Case& c : cases) {
        std::vector<double> wall, cpu;
        std::int64_t counted = 0;
        for (int run = 0; run < runs; ++run) {
            const double cpu0 = cpuMilliseconds();
            const auto t0 = std::chrono::steady_clock::now();
            const auto count = UnarchivedFiles::count(root / "Main", 20, c.archivedFrom);
            wall.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
            cpu.push_back(cpuMilliseconds() - cpu0);
            counted = count ? count->files : -1;
        }
        std::printf("%d files, %s: %lld counted, %.0f ms wall, %.0f ms CPU (medians of %d)\n", files, c.name,
                    static_cast<long long>(counted), bench::median(wall), bench::median(cpu), runs);
    }
    fs::remove_all(root);
    return 0;
}
