// Every original a pass deletes has its copy on the disk first, with either
// engine: the pass runs under strace, which lists the flushes and the
// deletions of the pass and all its children in the order they happened.
#include "core/ArchiveRecord.h"
#include "support/ChildrenInTheFuture.h"
#include "support/TempHome.h"
#include "platform/runtime/Task.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

namespace fs = std::filesystem;

namespace {

struct Trace {
    int deletions = 0;
    int deletionsBeforeTheirFlush = 0;
};

// A copy's bytes are flushed by an fsync of it (per-file engine) or a
// syncfs of the archive's disk (fast engine); its name, which rsync gives
// it by a rename after the fsync, only by a syncfs. Each unlink must have
// as many flushes of both before it as originals deleted up to then (the
// per-file engine), or one syncfs after all copies (the fast engine).
// A call another process interrupted is written in two lines, "<pid>
// unlinkat(..., AT_REMOVEDIR <unfinished ...>" and "<pid> <... unlinkat
// resumed>) = 0": joined, in the place of the second, when it returned.
std::optional<std::string> joined(std::string line, std::map<std::string, std::string>& unfinished) {
    const std::string pid = line.substr(0, line.find(' '));
    if (const auto cut = line.find(" <unfinished ...>"); cut != std::string::npos) {
        unfinished[pid] = line.substr(0, cut);
        return std::nullopt;
    }
    const auto resumed = line.find(" resumed>");
    if (line.find("<... ") == std::string::npos || resumed == std::string::npos) return line;
    line = unfinished[pid] + line.substr(resumed + std::string(" resumed>").size());
    unfinished.erase(pid);
    return line;
}

Trace read(const fs::path& file, bool flushedEach) {
    Trace trace;
    int fsyncs = 0;
    int syncfs = 0;
    std::ifstream in(file);
    std::map<std::string, std::string> unfinished;
    for (std::string raw; std::getline(in, raw);) {
        const auto whole = joined(raw, unfinished);
        if (!whole) continue;
        const std::string& line = *whole;
        // The probe of how the archive's disk keeps times is no original.
        if (line.find(" = 0") == std::string::npos || line.find("time-probe") != std::string::npos) continue;
        if (line.find("syncfs(") != std::string::npos)
            ++syncfs;
        else if (line.find("fsync(") != std::string::npos || line.find("fdatasync(") != std::string::npos)
            ++fsyncs;
        // The record's own marker of a run under way is no original.
        else if (line.find("unlink") != std::string::npos && line.find("AT_REMOVEDIR") == std::string::npos &&
                 line.find(ArchiveRecord::kFolderName) == std::string::npos) {
            ++trace.deletions;
            const bool bytes = flushedEach ? fsyncs >= trace.deletions : syncfs > 0;
            const bool names = flushedEach ? syncfs >= trace.deletions : syncfs > 0;
            if (!bytes || !names) ++trace.deletionsBeforeTheirFlush;
        }
    }
    return trace;
}

} // namespace

TEST(DurableDeletionTest, AnOriginalGoesOnlyOnceItsCopyIsOnTheDisk) {
    if (!fs::exists("/usr/bin/strace")) GTEST_SKIP() << "strace is not installed";
    constexpr int kPhotos = 12;
    for (const char* engine : {"per-file", "fast"}) {
        SCOPED_TRACE(engine);
        testing_support::TempHome home;
        for (int i = 0; i < kPhotos; ++i)
            home.writeFile("Main/d" + std::to_string(i % 3) + "/" + std::to_string(i) + ".jpg", "p");
        const fs::path archive = home.makeFolder("Backup") / "Main";
        testing_support::ChildrenInTheFuture future(3); // bfs takes the photos for three days old
        if (!future.active()) GTEST_SKIP() << "libfaketime is not installed";
        const fs::path trace = home.path() / "trace";
        const auto run = platform::Task::runCapturingOutput(
            {.path = "/usr/bin/strace",
             .arguments = {"-f", "-qq", "-o", trace.string(), "-e", "trace=fsync,fdatasync,syncfs,unlink,unlinkat",
                           testing_support::testProgram("synchronizeonce").string(), (home.path() / "Main").string(),
                           archive.string(), "0", "1", engine},
             .workingDirectory = {}});
        ASSERT_EQ(run.termination.status, 0) << run.standardOutput;
        EXPECT_EQ(run.standardOutput, "copied 12 failed 0 deleted 12\n");
        const Trace seen = read(trace, engine == std::string("per-file"));
        EXPECT_EQ(seen.deletions, kPhotos);
        EXPECT_EQ(seen.deletionsBeforeTheirFlush, 0);
        EXPECT_EQ(testing_support::readFile(archive / "d1/4.jpg"), "p");
    }
}
