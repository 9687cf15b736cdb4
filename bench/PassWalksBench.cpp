// What the walks after a full pass cost on a disk where every copy is in
// place: the look for files with their copy's size and time but other
// bytes (ReplacedOriginals::find, which reads none of them here) and the
// look for young files and photos dated ahead (SettleTime::youngFiles).
//
//   PassWalksBench [FILES=20000] [RUNS=3]

#include "BenchSupport.h"
#include "pass/ReplacedOriginals.h"
#include "core/SettleTime.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    const int files = argc > 1 ? std::atoi(argv[1]) : 20000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    const fs::path root = bench::makeTempHome();
    const auto hourAgo = fs::file_time_type::clock::now() - std::chrono::hours(1);
    for (int i = 0; i < files; ++i) {
        const fs::path relative = "d" + std::to_string(i % 100) + "/" + std::to_string(i) + ".jpg";
        for (const char* side : {"Main", "Backup/Main"}) {
            fs::create_directories((root / side / relative).parent_path());
            std::ofstream(root / side / relative) << "p";
            fs::last_write_time(root / side / relative, hourAgo);
        }
    }
    std::vector<double> replaced, young;
    for (int run = 0; run < runs; ++run) {
        const auto t0 = std::chrono::steady_clock::now();
        ReplacedOriginals::find(root / "Main", root / "Backup/Main", 5, 0, std::chrono::system_clock::now());
        const auto t1 = std::chrono::steady_clock::now();
        SettleTime::youngFiles(root / "Main", 5, std::chrono::system_clock::now());
        const auto t2 = std::chrono::steady_clock::now();
        replaced.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        young.push_back(std::chrono::duration<double, std::milli>(t2 - t1).count());
    }
    std::printf("%d files, every copy in place: ReplacedOriginals::find %.0f ms, youngFiles %.0f ms (medians of %d)\n",
                files, bench::median(replaced), bench::median(young), runs);
    fs::remove_all(root);
    return 0;
}
