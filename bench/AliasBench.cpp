// Figures for alias records: how long finding a moved folder takes in a
// tree of about 100,000 entries (median of 5, warm cache), and what
// validating an unchanged folder reference costs.
//
//   AliasBench [scratch-folder]      (default: $TMPDIR or /tmp)

#include "core/CommonHeader.h"
#include "core/MyAliasKit.h"
#include "core/validateFolderPrefWithParam.h"
#include "platform/alias/Alias.h"
#include "platform/preferences/UserDefaults.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kFanOut = 10;      // three levels of 10 folders: 1,110 folders
constexpr int kFilesPerLeaf = 99; // 99,000 files below the 1,000 leaf folders

fs::path leaf(const fs::path& tree, int n) {
    return tree / std::to_string(n / 100) / std::to_string(n / 10 % 10) / std::to_string(n % 10);
}

std::size_t buildTree(const fs::path& tree) {
    std::size_t entries = 0;
    for (int n = 0; n < kFanOut * kFanOut * kFanOut; ++n) {
        fs::create_directories(leaf(tree, n));
        for (int f = 0; f < kFilesPerLeaf; ++f) std::ofstream(leaf(tree, n) / ("IMG_" + std::to_string(f) + ".jpg"));
        entries += kFilesPerLeaf;
    }
    return entries + kFanOut + kFanOut * kFanOut + kFanOut * kFanOut * kFanOut;
}

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void benchMovedFolder(const fs::path& tree) {
    const fs::path home = leaf(tree, 0) / "photos";
    fs::create_directory(home);
    const auto data = platform::Alias::make(home.string());
    if (!data) {
        std::printf("could not make a record of %s\n", home.c_str());
        return;
    }
    const int destinations[] = {999, 555, 909, 123, 990};
    std::vector<double> times;
    for (int to : destinations) {
        const fs::path moved = leaf(tree, to) / "photos";
        fs::rename(home, moved);
        const auto start = Clock::now();
        const auto res = platform::Alias::resolve(*data);
        times.push_back(millisecondsSince(start));
        std::printf("  moved to %-28s %s after %zu entries, %.1f ms\n", fs::relative(moved, tree).c_str(),
                    res.resolved && res.path == moved.string() ? "found" : "NOT FOUND", res.entriesVisited,
                    times.back());
        fs::rename(moved, home);
    }
    std::sort(times.begin(), times.end());
    std::printf("resolution of a moved folder: median %.1f ms (min %.1f, max %.1f)\n", times[2], times.front(),
                times.back());
}

template <typename F>
double microsecondsPerCall(int calls, F&& f) {
    const auto start = Clock::now();
    for (int i = 0; i < calls; ++i) f();
    return millisecondsSince(start) * 1000.0 / calls;
}

void benchUnchangedFolder(const fs::path& scratch) {
    const fs::path folder = scratch / "unchanged";
    fs::create_directories(folder);
    const auto params = CommonHeader::folderReferenceParameters(CommonHeader::slotParameters(1));
    auto& defaults = platform::UserDefaults::standard();
    defaults.setObject(CommonHeader::param(params, sPrefFolderNameKey), platform::Value(folder.string()));
    MyAliasKit::savePath(folder.string(), CommonHeader::param(params, sPrefFolderAliasDataKey));
    const auto data = *platform::Alias::make(folder.string());

    // The validation logs a line per call; time it into /dev/null.
    fflush(stderr);
    const int savedStderr = dup(2);
    const int devNull = open("/dev/null", O_WRONLY);
    dup2(devNull, 2);
    constexpr int kCalls = 20000;
    bool allValid = true;
    const double validate = microsecondsPerCall(kCalls, [&] { allValid = validateFolderPrefWithParam(params) && allValid; });
    dup2(savedStderr, 2);
    close(devNull);
    close(savedStderr);

    const double compare = microsecondsPerCall(kCalls, [&] { platform::Alias::compareVolume(data, folder.string()); });
    const double resolve = microsecondsPerCall(2000, [&] { platform::Alias::resolve(data); });
    std::printf("validating an unchanged folder: %.2f us per call (%s; of which the volume check %.2f us)\n", validate,
                allValid ? "all YES" : "SOME NO", compare);
    std::printf("resolving an unchanged record: %.1f us per call\n", resolve);
}

} // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const char* tmp = std::getenv("TMPDIR");
    const fs::path base = argc > 1 ? fs::path(argv[1]) : fs::path(tmp ? tmp : "/tmp");
    std::string pattern = (base / "alias-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path scratch = fs::canonical(pattern);
    setenv("HOME", scratch.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (scratch / ".config").c_str(), 1);
    platform::UserDefaults::resetStandard();

    const auto start = Clock::now();
    const std::size_t entries = buildTree(scratch / "tree");
    std::printf("tree of %zu entries built in %.0f ms\n", entries, millisecondsSince(start));
    benchMovedFolder(scratch / "tree");
    benchUnchangedFolder(scratch);

    platform::UserDefaults::resetStandard();
    std::error_code ignored;
    fs::remove_all(scratch, ignored);
    return 0;
}
