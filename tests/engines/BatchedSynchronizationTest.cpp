// The one-rsync-run synchronization against real trees with the real bfs,
// rsync and cmp, side by side with the per-file one it must match.
#include "engines/BatchedSynchronization.h"

#include "core/CommonHeader.h"
#include "platform/runtime/SearchPath.h"
#include "platform/runtime/Task.h"
#include "support/ChildProcesses.h"
#include "support/ChildrenInTheFuture.h"
#include "support/FileContents.h"
#include "support/ScopedMount.h"
#include "support/SlowWriter.h"
#include "support/StderrCapture.h"
#include "support/TaskDoneRecorder.h"
#include "support/TempHome.h"
#include "support/RecordingTool.h"
#include "support/UnwritableFolder.h"
#include "engines/KLVR_Task.h"
#include "core/PathString.h"

#include "support/DiskJob.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::ChildrenInTheFuture;
using testing_support::recordingTool;
using testing_support::started;
using testing_support::expectNothingLost;
using testing_support::FileContents;
using testing_support::fileContents;
using testing_support::StderrCapture;
using testing_support::TaskDoneRecorder;
using testing_support::TempHome;
using testing_support::UnwritableFolder;

namespace {

constexpr int kDaysAhead = 40;

// Relative path -> what a copy must keep of it: kind, mode, owner, group,
// modification time to the nanosecond, and contents (or link target).
using Tree = std::map<std::string, std::string>;

std::string describe(const fs::path& item) {
    struct stat st {};
    if (::lstat(item.c_str(), &st) != 0) return "unreadable";
    std::string text = S_ISDIR(st.st_mode) ? "folder" : S_ISLNK(st.st_mode) ? "link" : "file";
    text += " mode " + std::to_string(st.st_mode & 07777) + " owner " + std::to_string(st.st_uid) + ":" +
            std::to_string(st.st_gid) + " mtime " + std::to_string(st.st_mtim.tv_sec) + "." +
            std::to_string(st.st_mtim.tv_nsec);
    if (S_ISREG(st.st_mode)) text += " contents " + testing_support::readFile(item);
    if (S_ISLNK(st.st_mode)) text += " target " + fs::read_symlink(item).string();
    return text;
}

// Every item below root, root itself left out.
Tree tree(const fs::path& root) {
    Tree items;
    if (!fs::exists(root)) return items;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        items[entry.path().lexically_relative(root).string()] = describe(entry.path());
    return items;
}

Tree without(Tree items, const std::set<std::string>& names) {
    for (const auto& name : names) items.erase(name);
    return items;
}

void setAge(const fs::path& item, std::chrono::minutes age) {
    fs::last_write_time(item, fs::file_time_type::clock::now() - age);
}

enum class Engine { perFile, oneRun };

// Runs one synchronization and waits for its notification, after which
// nothing it started may still be running or unreaped.
void synchronize(Engine engine, const fs::path& source, const fs::path& destination, unsigned minutes, unsigned days) {
    TaskDoneRecorder done;
    platform::Object context = std::make_shared<int>(1);
    if (engine == Engine::perFile)
        KLVR_Task::synchronizeFileItemsAtFolderPath(source.string(), destination.string(), minutes, days, context);
    else
        KLVR_Task::synchronizeFileItemsBatchedAtFolderPath(source.string(), destination.string(), minutes, days,
                                                           context);
    ASSERT_TRUE(done.waitFor(1));
    EXPECT_EQ(done.posts()[0].context, context);
    EXPECT_EQ(testing_support::childProcesses(), std::vector<pid_t>{});
    EXPECT_EQ(done.count(), 1u);
}

// Whether a line reports the end of a child of `tool` with this status.
bool loggedEnd(const StderrCapture& log, const std::string& tool, int status) {
    const std::string end = "] did complete with exit status " + std::to_string(status);
    for (const auto& line : log.lines()) {
        auto at = line.find(" " + tool + " [");
        if (at != std::string::npos && line.ends_with(end)) return true;
    }
    return false;
}

// The relative paths of the regular files below root.
std::set<std::string> fileNames(const fs::path& root) {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file()) names.insert(entry.path().lexically_relative(root).string());
    return names;
}

std::string rsyncPath() { return platform::SearchPath::find("rsync").value_or("rsync"); }

// The kept folder a run below this destination root logged, or "".
std::string loggedKeptFolder(const StderrCapture& log, const fs::path& destinationRoot) {
    const std::string announced = "copies replaced by this pass are kept in ";
    const std::string root = PathString::resolvingSymlinks(destinationRoot.string()) + "/";
    for (const auto& line : log.lines()) {
        auto at = line.find(announced);
        if (at != std::string::npos && line.compare(at + announced.size(), root.size(), root) == 0)
            return line.substr(at + announced.size());
    }
    return "";
}

// The folders below a destination root that runs kept replaced copies in.
std::vector<fs::path> keptRuns(const fs::path& destinationRoot) {
    std::vector<fs::path> runs;
    std::error_code ec;
    for (auto it = fs::directory_iterator(destinationRoot / kKeptFolderName, ec); !ec && it != fs::directory_iterator();
         it.increment(ec))
        runs.push_back(it->path());
    return runs;
}

const char* nameOf(Engine engine) { return engine == Engine::perFile ? "per-file" : "one-run"; }

// Points TMPDIR, which the children inherit, at a folder of the test's own.
class PrivateTemporaryFolder {
public:
    explicit PrivateTemporaryFolder(fs::path folder) : folder_(std::move(folder)) {
        if (const char* old = std::getenv("TMPDIR")) saved_ = old;
        fs::create_directories(folder_);
        setenv("TMPDIR", folder_.c_str(), 1);
    }
    ~PrivateTemporaryFolder() {
        if (saved_)
            setenv("TMPDIR", saved_->c_str(), 1);
        else
            unsetenv("TMPDIR");
    }
    const fs::path& path() const { return folder_; }

private:
    fs::path folder_;
    std::optional<std::string> saved_;
};

class BatchedSynchronizationTest : public ::testing::Test {
protected:
    TempHome home;
    fs::path source = home.makeFolder("photos");
    fs::path destination = home.makeFolder("backup") / "photos";

    // Settled files with awkward names, permissions and folders, two files
    // too young to copy and a link; returns the items no copy may hold.
    std::set<std::string> buildAwkwardTree() {
        const std::vector<std::string> names{"plain.jpg",          "with space.jpg",     "new\nline.jpg",
                                             "-leading-dash.jpg",  "colon:name.jpg",     "Ærø Ünïcødé.jpg",
                                             ".DS_Store",          "a/b/c/deep.jpg",     "folder with space/inner.jpg",
                                             "-dash folder/x.jpg", "line\nfolder/y.jpg", "private/z.jpg"};
        for (const auto& name : names) setAge(home.writeFile("photos/" + name, "contents of " + name), 60min);
        fs::permissions(source / "plain.jpg", fs::perms(0640), fs::perm_options::replace);
        fs::permissions(source / "a/b/c/deep.jpg", fs::perms(0755), fs::perm_options::replace);
        fs::permissions(source / "private", fs::perms(0700), fs::perm_options::replace);
        home.writeFile("photos/fresh.jpg", "still being edited");
        home.writeFile("photos/a/fresh too.jpg", "still being edited");
        fs::create_symlink("plain.jpg", source / "link.jpg");
        // Folder times an rsync run can only match by setting them.
        for (const auto& entry : fs::recursive_directory_iterator(source))
            if (entry.is_directory() && !entry.is_symlink()) setAge(entry.path(), 120min);
        return {"fresh.jpg", "a/fresh too.jpg", "link.jpg"};
    }
};

} // namespace

TEST_F(BatchedSynchronizationTest, CopiesTheSameTreeAsThePerFileRunsAndLeavesNothingBehind) {
    const std::set<std::string> leftOut = buildAwkwardTree();
    // Neither destination exists yet, so top-level files test how rsync makes it.
    const fs::path perFile = home.makeFolder("per-file") / "photos";
    const fs::path oneRun = home.makeFolder("one-run") / "photos";
    StderrCapture log;
    PrivateTemporaryFolder tmp(home.path() / "tmp");

    synchronize(Engine::perFile, source, perFile, 20, 0);
    synchronize(Engine::oneRun, source, oneRun, 20, 0);

    const Tree expected = without(tree(source), leftOut);
    EXPECT_EQ(tree(oneRun), expected);
    EXPECT_EQ(tree(perFile), expected);
    EXPECT_TRUE(fs::is_empty(tmp.path()));

    // Every child is logged as the launcher logs it, and with no days to
    // keep there is no deletion walk.
    const std::string folder = PathString::resolvingSymlinks(oneRun.string()) + "/";
    const std::string kept = loggedKeptFolder(log, oneRun.parent_path());
    EXPECT_TRUE(kept.ends_with("/photos")) << log.text();
    EXPECT_TRUE(log.contains("starting task /usr/bin/bfs . -type f -mmin +20 -mindepth 1 -print0\n")) << log.text();
    EXPECT_TRUE(log.contains("starting task " + rsyncPath() + " -lptogRq --timeout=120 --backup --backup-dir=" + kept +
                             " [")) << log.text();
    EXPECT_FALSE(log.contains("--files-from")) << "no name needs a list, nor does the archive folder's time";
    EXPECT_TRUE(log.contains("started task " + rsyncPath() + " ["));
    EXPECT_TRUE(loggedEnd(log, rsyncPath(), 0)) << log.text();
    EXPECT_TRUE(loggedEnd(log, "/usr/bin/bfs", 0)) << log.text();
    EXPECT_FALSE(log.contains("-exec cmp -s {} " + folder));
}

TEST_F(BatchedSynchronizationTest, DeletesTheSameFilesAsThePerFileRuns) {
    ChildrenInTheFuture future(kDaysAhead);
    if (!future.active()) GTEST_SKIP() << "libfaketime is not installed";
    const fs::file_time_type copiedAt = fs::file_time_type::clock::now() - 60min;
    for (const std::string side : {"one", "two"}) {
        for (const std::string name : {"a.jpg", "sub/b.jpg", ".hidden", "deep/er/c.jpg", "-dash\nname.jpg"})
            home.writeFile(side + "/photos/" + name, name);
        // Modified a minute before the children's clock: old by birth, not settled.
        fs::path fresh = home.writeFile(side + "/photos/fresh.jpg", "f");
        fs::last_write_time(fresh, fs::file_time_type::clock::now() + std::chrono::days(kDaysAhead) - 1min);
        // A copy with the source's size and time but other bytes: rsync's
        // quick check passes it by, and only the comparison keeps the source.
        fs::last_write_time(home.writeFile(side + "/photos/stale.jpg", "new!"), copiedAt);
        fs::last_write_time(home.writeFile(side + "/backup/photos/stale.jpg", "old!"), copiedAt);
    }

    synchronize(Engine::perFile, home.path() / "one/photos", home.path() / "one/backup/photos", 20, 30);
    synchronize(Engine::oneRun, home.path() / "two/photos", home.path() / "two/backup/photos", 20, 30);

    const auto left = fileContents(home.path() / "two/photos");
    EXPECT_EQ(left, fileContents(home.path() / "one/photos"));
    EXPECT_EQ(fileContents(home.path() / "two/backup/photos"), fileContents(home.path() / "one/backup/photos"));
    EXPECT_EQ(left, (std::map<std::string, std::string>{{"fresh.jpg", "f"}, {"stale.jpg", "new!"}}));
}

TEST_F(BatchedSynchronizationTest, FailedCopiesDeleteNothing) {
    ChildrenInTheFuture future(kDaysAhead);
    if (!future.active()) GTEST_SKIP() << "libfaketime is not installed";
    home.writeFile("photos/a.jpg", "a");
    home.writeFile("photos/blocked/c.jpg", "c");
    home.writeFile("photos/blocked/e.jpg", "e");
    home.writeFile("photos/locked/d.jpg", "d");
    // A full folder where the copy of c.jpg belongs, which rsync will not remove.
    home.writeFile("backup/photos/blocked/c.jpg/inside", "in the way");
    UnwritableFolder locked(home.makeFolder("backup/photos/locked"));
    const auto before = fileContents(source);
    StderrCapture log;
    TaskDoneRecorder done;

    KLVR_Task::synchronizeFileItemsBatchedAtFolderPath(source.string(), destination.string(), 20, 30, nullptr);
    ASSERT_TRUE(done.waitFor(1));

    // rsync reports the files it could not copy (23); the comparison keeps
    // exactly those, and one file that cannot be copied holds back no other.
    EXPECT_EQ(done.posts()[0].status, 23);
    EXPECT_EQ(fileContents(source), (FileContents{{"blocked/c.jpg", "c"}, {"locked/d.jpg", "d"}}));
    expectNothingLost(before, source, destination);
    EXPECT_TRUE(log.contains("could not make way for new regular file: blocked/c.jpg")) << log.text();
}

TEST_F(BatchedSynchronizationTest, AFileGrowingWhileCopiedStays) {
    if (!testing_support::libfaketime()) GTEST_SKIP() << "libfaketime is not installed";
    home.writeFile("photos/done.jpg", "finished long ago");
    fs::path growing = home.writeFile("photos/growing.jpg", std::string(8 << 20, 'x'));
    testing_support::SlowWriter writer(growing, 4096, 1ms, 120);
    ASSERT_TRUE(writer.started());
    const auto before = fileContents(source);
    {
        ChildrenInTheFuture future(kDaysAhead);
        TaskDoneRecorder done;
        KLVR_Task::synchronizeFileItemsBatchedAtFolderPath(source.string(), destination.string(), 20, 30, nullptr);
        ASSERT_TRUE(done.waitFor(1));
    }
    EXPECT_FALSE(writer.ended()) << "the writer must still be writing when the run ends";
    writer.stop();

    EXPECT_FALSE(fs::exists(source / "done.jpg"));
    EXPECT_TRUE(fs::exists(growing)) << "a file that grew while copied was deleted";
    expectNothingLost(before, source, destination);
}

TEST_F(BatchedSynchronizationTest, AFullDestinationDeletesNothing) {
    ChildrenInTheFuture future(kDaysAhead);
    if (!future.active()) GTEST_SKIP() << "libfaketime is not installed";
    std::string why;
    auto disk = testing_support::ScopedMount::tmpfs(home.path() / "backup", &why); // 16 MiB
    if (!disk) GTEST_SKIP() << why;
    home.writeFile("photos/small.jpg", "fits");
    for (int i = 0; i < 4; ++i) home.writeFile("photos/big" + std::to_string(i) + ".jpg", std::string(6 << 20, 'b'));
    const auto before = fileContents(source);
    StderrCapture log;

    synchronize(Engine::oneRun, source, destination, 20, 30);

    EXPECT_EQ(fileContents(source), before);
    EXPECT_TRUE(log.contains("No space left on device")) << log.text();
    EXPECT_TRUE(log.contains("no source file is deleted in this pass")) << log.text();
}

TEST_F(BatchedSynchronizationTest, ADestinationRemovedHalfWayLosesNothing) {
    ChildrenInTheFuture future(kDaysAhead);
    if (!future.active()) GTEST_SKIP() << "libfaketime is not installed";
    for (int i = 0; i < 20; ++i) home.writeFile("photos/small" + std::to_string(i) + ".jpg", "small");
    // Sparse, so it costs nothing here, yet rsync takes about a second to write it out.
    fs::path big = home.writeFile("photos/big.jpg", "");
    fs::resize_file(big, 256u << 20);
    const auto before = fileContents(source);
    StderrCapture log;
    TaskDoneRecorder done;

    KLVR_Task::synchronizeFileItemsBatchedAtFolderPath(source.string(), destination.string(), 20, 30, nullptr);
    // rsync writes into a hidden temporary file beside the copy's place.
    auto writingBig = [&] {
        std::error_code ec;
        for (auto it = fs::directory_iterator(destination, ec); !ec && it != fs::directory_iterator(); it.increment(ec))
            if (it->path().filename().string().starts_with(".big.jpg.")) return true;
        return false;
    };
    while (!writingBig() && done.count() == 0) std::this_thread::sleep_for(1ms);
    ASSERT_EQ(done.count(), 0u) << "rsync finished before the destination could be removed";
    // rsync may add an entry while the folder is being emptied.
    std::error_code ec;
    while (fs::exists(destination)) fs::remove_all(destination, ec);
    ASSERT_TRUE(done.waitFor(1));

    EXPECT_EQ(testing_support::childProcesses(), std::vector<pid_t>{});
    EXPECT_EQ(done.count(), 1u);
    // rsync counts the files it could not write as failed (23), so the
    // comparison decides file by file: only a copy that stands whole lets
    // its source go.
    EXPECT_TRUE(fs::exists(big)) << log.text();
    expectNothingLost(before, source, destination);
}

TEST_F(BatchedSynchronizationTest, RefusalsAreReportedOnceBeforeTheCallReturns) {
    struct Case {
        std::string source, destination, message;
    };
    const std::string s = source.string();
    for (const Case& c :
         {Case{s, s + "/inside", "ERROR: destination Path must NOT be a child of SourcePath"},
          Case{s, s + "-extended", "ERROR: source Path must NOT lie inside the folder that holds the destination Path"},
          Case{s, "backup/photos", "ERROR: destination Path must be passed as an absolute path"},
          Case{"photos", destination.string(), "ERROR: source Path must be passed as an absolute path"},
          Case{"", destination.string(), "ERROR: source Path must be passed as an absolute path"}}) {
        SCOPED_TRACE(c.destination);
        StderrCapture log;
        TaskDoneRecorder done;
        platform::Object context = std::make_shared<int>(2);
        KLVR_Task::synchronizeFileItemsBatchedAtFolderPath(c.source, c.destination, 0, 30, context);
        ASSERT_EQ(done.count(), 1u);
        EXPECT_EQ(done.posts()[0].context, context);
        EXPECT_TRUE(log.contains(c.message)) << log.text();
        EXPECT_FALSE(log.contains("starting task"));
    }
}

TEST_F(BatchedSynchronizationTest, ToolsThatCannotStartStillEndTheRunOnce) {
    ChildrenInTheFuture future(kDaysAhead);
    if (!future.active()) GTEST_SKIP() << "libfaketime is not installed";
    for (int i = 0; i < 200; ++i) home.writeFile("photos/f" + std::to_string(i) + ".jpg", "x");
    const auto before = fileContents(source);
    const std::string missing = (home.path() / "no such tool").string();
    struct Case {
        const char* what;
        BatchedSynchronization::Tools tools;
        const char* logged;
    };
    for (const Case& c : {Case{"no walk", {missing, rsyncPath()}, "could not start"},
                          Case{"no rsync to start", {KLVR_Task::kFindToolPath, missing}, "could not start"},
                          Case{"no rsync found", {KLVR_Task::kFindToolPath, ""}, "rsync was not found"}}) {
        SCOPED_TRACE(c.what);
        StderrCapture log;
        TaskDoneRecorder done;
        BatchedSynchronization::start(testing_support::diskJob(source.string(), destination.string(), 0, 30, nullptr),
                                      c.tools);
        ASSERT_TRUE(done.waitFor(1));
        EXPECT_EQ(testing_support::childProcesses(), std::vector<pid_t>{});
        EXPECT_EQ(done.count(), 1u);
        EXPECT_EQ(fileContents(source), before);
        EXPECT_EQ(fileContents(destination), FileContents{});
        EXPECT_TRUE(log.contains(c.logged)) << log.text();
    }
}

TEST_F(BatchedSynchronizationTest, OnlyDaysThatCanDeleteRunADeletionWalk) {
    setAge(home.writeFile("photos/a.jpg", "a"), 60min);
    setAge(home.writeFile("photos/sub/b.jpg", "b"), 60min);
    const auto before = fileContents(source);
    const fs::path record = home.path() / "children";
    const BatchedSynchronization::Tools tools{recordingTool(home, "bfs", KLVR_Task::kFindToolPath, record),
                                              recordingTool(home, "rsync", rsyncPath(), record)};
    struct Case {
        unsigned days;
        size_t walks;
    };
    // 36500 is what the caller passes with deletion switched off. Nothing is
    // old enough to go in any case, so every pass leaves the source whole.
    for (const Case& c : {Case{0, 1}, Case{30, 2}, Case{36499, 2}, Case{36500, 1}, Case{36501, 1}}) {
        SCOPED_TRACE("days " + std::to_string(c.days));
        fs::remove(record);
        TaskDoneRecorder done;
        BatchedSynchronization::start(
            testing_support::diskJob(source.string(), destination.string(), 20, c.days, nullptr), tools);
        ASSERT_TRUE(done.waitFor(1));

        // rsync runs only while copies are missing: in the first case.
        EXPECT_EQ(started(record, "bfs"), c.walks) << testing_support::readFile(record);
        EXPECT_EQ(fileContents(destination), before);
        EXPECT_EQ(fileContents(source), before);
    }
}

TEST_F(BatchedSynchronizationTest, ACopyAboutToBeReplacedIsKeptFirst) {
    for (Engine engine : {Engine::perFile, Engine::oneRun}) {
        SCOPED_TRACE(nameOf(engine));
        const std::string side = nameOf(engine);
        const fs::path photos = home.makeFolder(side + "/photos");
        const fs::path root = home.makeFolder(side + "/backup");
        const fs::path archive = root / "photos";
        setAge(home.writeFile(side + "/photos/IMG_0001.JPG", "A"), 60min);
        setAge(home.writeFile(side + "/photos/sub/X", "the file named X"), 60min);
        synchronize(engine, photos, archive, 20, 0);
        synchronize(engine, photos, archive, 20, 0);
        EXPECT_FALSE(fs::exists(root / kKeptFolderName)) << "a run that replaced nothing made a kept folder";

        // The archived photo has gone from the source as old, and the camera
        // numbers from 1 again; a folder takes the name of an archived file.
        fs::remove(photos / "IMG_0001.JPG");
        setAge(home.writeFile(side + "/photos/IMG_0001.JPG", "B, another photo"), 60min);
        fs::remove(photos / "sub/X");
        setAge(home.writeFile(side + "/photos/sub/X/a.jpg", "a"), 60min);
        StderrCapture log;
        synchronize(engine, photos, archive, 20, 0);
        synchronize(engine, photos, archive, 20, 0);

        EXPECT_EQ(fileContents(archive), (FileContents{{"IMG_0001.JPG", "B, another photo"}, {"sub/X/a.jpg", "a"}}));
        // rsync may now and then fail to keep a replaced file on the first try
        // ("make_backup ... File exists" under load), and its next pass keeps
        // it in a folder of its own: every replaced copy is kept, none twice.
        const auto runs = keptRuns(root);
        ASSERT_GE(runs.size(), 1u) << log.text();
        FileContents kept;
        for (const auto& run : runs) {
            for (const auto& [name, contents] : fileContents(run)) EXPECT_TRUE(kept.emplace(name, contents).second) << name;
            EXPECT_TRUE(log.contains("copies replaced by this pass are kept in " +
                                     PathString::resolvingSymlinks((run / "photos").string())))
                << log.text();
        }
        EXPECT_EQ(kept, (FileContents{{"photos/IMG_0001.JPG", "A"}, {"photos/sub/X", "the file named X"}}));
    }
}

TEST_F(BatchedSynchronizationTest, ADestinationHoldingBracesCopiesNothingAnywhere) {
    setAge(home.writeFile("photos/a.jpg", "a"), 60min);
    setAge(home.writeFile("photos/sub/b.jpg", "b"), 60min);
    const Tree before = tree(home.path());
    for (Engine engine : {Engine::perFile, Engine::oneRun}) {
        for (const fs::path& braced : {home.path() / "backup{}" / "photos", home.path() / "backup" / "{}"}) {
            SCOPED_TRACE(std::string(nameOf(engine)) + " into " + braced.string());
            StderrCapture log;
            synchronize(engine, source, braced, 20, 0);
            EXPECT_EQ(tree(home.path()), before);
            EXPECT_TRUE(log.contains("ERROR: source and destination Paths must NOT contain \"{}\"")) << log.text();
        }
    }
}

TEST_F(BatchedSynchronizationTest, EveryEndSaysWhetherTheCopyRanAndHowItEnded) {
    setAge(home.writeFile("photos/a.jpg", "a"), 60min);
    setAge(home.writeFile("photos/blocked/c.jpg", "c"), 60min);
    // A full folder where the copy of c.jpg belongs, which rsync will not remove.
    home.writeFile("backup/blocked/blocked/c.jpg/inside", "in the way");
    const std::string s = source.string(), d = destination.string(),
                      blocked = (home.path() / "backup/blocked").string();
    const std::string missing = (home.path() / "no such tool").string();
    using Start = std::function<void(platform::Object)>;
    auto perFile = [](std::string from, std::string to) -> Start {
        return [=](platform::Object c) { KLVR_Task::synchronizeFileItemsAtFolderPath(from, to, 20, 0, c); };
    };
    auto oneRun = [](std::string from, std::string to) -> Start {
        return [=](platform::Object c) { KLVR_Task::synchronizeFileItemsBatchedAtFolderPath(from, to, 20, 0, c); };
    };
    // Into an archive of its own, which the earlier cases have not filled:
    // a pass with nothing to copy needs no rsync at all.
    const std::string empty = (home.path() / "backup/empty").string();
    auto oneRunWith = [&](BatchedSynchronization::Tools tools) -> Start {
        return [=](platform::Object c) {
            BatchedSynchronization::start(testing_support::diskJob(s, empty, 20, 0, c), tools);
        };
    };
    struct Case {
        const char* what;
        Start start;
        bool started;
        std::int32_t status;
    };
    const Case cases[] = {
        {"per-file run", perFile(s, d), true, 0},
        {"one run", oneRun(s, d), true, 0},
        {"one run whose rsync fails", oneRun(s, blocked), true, 23},
        {"per-file run, refused", perFile(s, s + "/inside"), false, 127},
        {"one run, refused", oneRun(s, s + "/inside"), false, 127},
        {"per-file run whose walk cannot start", perFile((home.path() / "missing").string(), d), false, 127},
        {"one run whose walk cannot start", oneRunWith({missing, rsyncPath()}), false, 127},
        {"one run whose rsync cannot start", oneRunWith({KLVR_Task::kFindToolPath, missing}), false, 127},
        {"one run without rsync", oneRunWith({KLVR_Task::kFindToolPath, ""}), false, 127},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StderrCapture log;
        TaskDoneRecorder done;
        platform::Object context = std::make_shared<int>(3);
        c.start(context);
        ASSERT_TRUE(done.waitFor(1));
        const auto post = done.posts()[0];
        EXPECT_EQ(post.context, context);
        EXPECT_EQ(post.started, c.started);
        EXPECT_EQ(post.status, c.status);
    }
}

TEST_F(BatchedSynchronizationTest, AnUnchangedArchiveStartsNoRsyncAndEveryDifferenceIsSetRight) {
    const fs::path record = home.path() / "children";
    const BatchedSynchronization::Tools tools{KLVR_Task::kFindToolPath,
                                              recordingTool(home, "rsync", rsyncPath(), record)};
    auto pass = [&](const fs::path& from, const fs::path& to) {
        TaskDoneRecorder done;
        BatchedSynchronization::start(testing_support::diskJob(from.string(), to.string(), 20, 0, nullptr), tools);
        ASSERT_TRUE(done.waitFor(1));
        EXPECT_EQ(done.posts()[0].status, 0);
    };
    auto touchBack = [](const fs::path& item, std::chrono::minutes age) { setAge(item, age); };
    struct Case {
        const char* what;
        std::function<void(const fs::path& photos, const fs::path& archive)> change;
        bool copies;
    };
    const Case cases[] = {
        {"nothing changed", [](auto&, auto&) {}, false},
        {"a copy removed", [](auto&, auto& a) { fs::remove(a / "sub/b.jpg"); }, true},
        {"a copy of another size",
         [&](auto&, auto& a) {
             touchBack(home.writeFile(a.lexically_relative(home.path()) / "a.jpg", "longer"), 60min);
         },
         true},
        {"a copy's time", [&](auto&, auto& a) { touchBack(a / "a.jpg", 61min); }, true},
        {"a copy's permissions",
         [](auto&, auto& a) { fs::permissions(a / "a.jpg", fs::perms(0600), fs::perm_options::replace); }, true},
        {"a link in a copy's place",
         [](auto&, auto& a) {
             fs::remove(a / "a.jpg");
             fs::create_symlink("sub/b.jpg", a / "a.jpg");
         },
         true},
        {"a folder's time", [&](auto&, auto& a) { touchBack(a / "sub", 30min); }, true},
        {"a folder's permissions",
         [](auto&, auto& a) { fs::permissions(a / "sub/deeper", fs::perms(0700), fs::perm_options::replace); }, true},
        {"a link in a folder's place",
         [](auto&, auto& a) {
             fs::rename(a / "sub", a.parent_path() / "elsewhere");
             fs::create_symlink(a.parent_path() / "elsewhere", a / "sub");
         },
         true},
        // Set right without a run.
        {"the archive folder's time", [&](auto&, auto& a) { touchBack(a, 5min); }, false},
        {"a source file rewritten",
         [&](auto& p, auto&) { touchBack(home.writeFile(p.lexically_relative(home.path()) / "a.jpg", "A!"), 50min); },
         true},
        {"a source folder's time", [&](auto& p, auto&) { touchBack(p / "sub/deeper", 90min); }, true},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string side = "case" + std::to_string(n++);
        const fs::path photos = home.makeFolder(side + "/photos");
        const fs::path archive = home.makeFolder(side + "/backup") / "photos";
        for (const std::string name : {"a.jpg", "sub/b.jpg", "sub/deeper/c.jpg", "other/d.jpg"})
            setAge(home.writeFile(side + "/photos/" + name, "contents of " + name), 60min);
        for (const fs::path& folder : {photos / "sub/deeper", photos / "sub", photos / "other", photos})
            setAge(folder, 120min);
        pass(photos, archive);
        ASSERT_EQ(tree(archive), tree(photos));
        c.change(photos, archive);
        fs::remove(record);

        pass(photos, archive);

        EXPECT_EQ(tree(archive), tree(photos));
        EXPECT_EQ(describe(archive), describe(photos)) << "the archive folder keeps the source folder's attributes";
        EXPECT_EQ(started(record, "rsync") > 0, c.copies) << testing_support::readFile(record);
    }
}

TEST_F(BatchedSynchronizationTest, ACopyRsyncWouldPassByStaysAsItIs) {
    // The same size and time as the source, other bytes: rsync's quick check
    // passes such a copy by, and so does the pass; the comparison keeps the
    // source (see DeletesTheSameFilesAsThePerFileRuns).
    fs::file_time_type at = fs::file_time_type::clock::now() - 60min;
    fs::last_write_time(home.writeFile("photos/stale.jpg", "new!"), at);
    fs::last_write_time(home.writeFile("backup/photos/stale.jpg", "old!"), at);
    synchronize(Engine::oneRun, source, destination, 20, 0);
    EXPECT_EQ(testing_support::readFile(destination / "stale.jpg"), "old!");
}

TEST_F(BatchedSynchronizationTest, AwkwardNamesCopyThroughArgumentsInSeveralRuns) {
    const std::set<std::string> leftOut = buildAwkwardTree();
    const std::string longName(250, 'L');
    for (const std::string name : {"{}", "a{b}c.jpg", "quote's \"double\".jpg", "star*.jpg", "[x].jpg",
                                   "back\\slash.jpg", "tab\tname.jpg", "~tilde.jpg", "host:/path.jpg"})
        setAge(home.writeFile("photos/" + name, name), 60min);
    setAge(home.writeFile("photos/deep/" + longName + "/" + longName + ".jpg", "long"), 60min);
    setAge(home.writeFile("photos/" + longName.substr(0, 240) + ".jpg", "long too"), 60min);
    for (const auto& entry : fs::recursive_directory_iterator(source))
        if (entry.is_directory() && !entry.is_symlink()) setAge(entry.path(), 120min);
    setAge(source, 120min);
    const fs::path record = home.path() / "children";
    struct Case {
        const char* what;
        RsyncBatches::Limits limits;
        size_t fewestRuns;
        bool longNamesAsArguments;
    };
    // 32 names, most of about 30 bytes. With the system's limits they go in
    // one run, which also carries the archive folder's attributes. Against
    // room for 200 bytes a run, they take several runs, one name on its own when it fills one; a lower
    // limit for one argument sends the longest names through the list.
    const size_t any = RsyncBatches::kLongestArgument;
    for (const Case& c : {Case{"the system's limits", {}, 1, true}, Case{"small runs", {200, any}, 6, true},
                          Case{"long names listed", {200, 60}, 4, false}}) {
        SCOPED_TRACE(c.what);
        const fs::path archive = home.makeFolder(c.what) / "photos";
        fs::remove(record);
        TaskDoneRecorder done;
        BatchedSynchronization::start(
            testing_support::diskJob(source.string(), archive.string(), 20, 0, nullptr),
            {KLVR_Task::kFindToolPath, recordingTool(home, "rsync", rsyncPath(), record), c.limits});
        ASSERT_TRUE(done.waitFor(1));

        EXPECT_EQ(done.posts()[0].status, 0);
        EXPECT_EQ(tree(archive), without(tree(source), leftOut));
        EXPECT_EQ(describe(archive), describe(source));
        EXPECT_GE(started(record, "rsync"), c.fewestRuns) << testing_support::readFile(record);
        const std::string arguments = testing_support::readFile(record);
        EXPECT_EQ(arguments.find(" ./" + longName.substr(0, 240) + ".jpg ") != std::string::npos,
                  c.longNamesAsArguments);
        EXPECT_EQ(testing_support::childProcesses(), std::vector<pid_t>{});
    }
}

TEST_F(BatchedSynchronizationTest, HowTheCopiesEndedDecidesWhetherVerifiedFilesAreDeleted) {
    ChildrenInTheFuture future(kDaysAhead);
    if (!future.active()) GTEST_SKIP() << "libfaketime is not installed";
    const std::string missing = (home.path() / "no such tool").string();
    struct Case {
        const char* what;
        std::function<void(const fs::path& photos, const fs::path& archive)> arrange;
        std::string rsync;
        bool killRsync;
        bool deletes;
        bool started;
        std::int32_t status;
    };
    const Case cases[] = {
        // A full folder where one copy belongs, which rsync will not remove.
        {"some files failed", [](auto&, auto& a) { fs::create_directories(a / "new.jpg/inside"); }, rsyncPath(), false,
         true, true, 23},
        {"rsync killed", [](auto&, auto&) {}, rsyncPath(), true, false, true, 128 + SIGKILL},
        {"rsync not started", [](auto&, auto&) {}, missing, false, false, false, 127},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string side = "case" + std::to_string(n++);
        const fs::path photos = home.makeFolder(side + "/photos");
        const fs::path archive = home.makeFolder(side + "/backup") / "photos";
        for (const std::string name : {"a.jpg", "sub/b.jpg"}) home.writeFile(side + "/photos/" + name, name);
        synchronize(Engine::oneRun, photos, archive, 20, 0); // copied, nothing deleted
        // Something new to copy, which takes rsync about a second to write out.
        fs::path big = home.writeFile(side + "/photos/new.jpg", "");
        fs::resize_file(big, c.killRsync ? (256u << 20) : 1);
        c.arrange(photos, archive);
        const auto before = fileContents(photos);
        StderrCapture log;
        TaskDoneRecorder done;

        BatchedSynchronization::start(testing_support::diskJob(photos.string(), archive.string(), 20, 30, nullptr),
                                      {KLVR_Task::kFindToolPath, c.rsync, {}});
        if (c.killRsync) {
            auto writing = [&] {
                std::error_code ec;
                for (auto it = fs::directory_iterator(archive, ec); !ec && it != fs::directory_iterator();
                     it.increment(ec))
                    if (it->path().filename().string().starts_with(".new.jpg.")) return true;
                return false;
            };
            while (!writing() && done.count() == 0) std::this_thread::sleep_for(1ms);
            ASSERT_EQ(done.count(), 0u) << "rsync finished before it could be stopped";
            for (pid_t child : testing_support::childProcesses()) ::kill(child, SIGKILL);
        }
        ASSERT_TRUE(done.waitFor(1));

        EXPECT_EQ(done.posts()[0].started, c.started);
        EXPECT_EQ(done.posts()[0].status, c.status);
        EXPECT_TRUE(fs::exists(big));
        EXPECT_EQ(!fs::exists(photos / "a.jpg") && !fs::exists(photos / "sub/b.jpg"), c.deletes) << log.text();
        EXPECT_EQ(fs::exists(photos / "a.jpg") && fs::exists(photos / "sub/b.jpg"), !c.deletes) << log.text();
        expectNothingLost(before, photos, archive);
        EXPECT_EQ(testing_support::childProcesses(), std::vector<pid_t>{});
    }
}

TEST_F(BatchedSynchronizationTest, AListedCopyTakesExactlyTheListedFiles) {
    for (const std::string name : {"a.jpg", "b.jpg", "sub/c.jpg", "sub/d.jpg", "-dash.jpg", "new\nline.jpg"})
        setAge(home.writeFile("photos/" + name, name), 60min);
    home.writeFile("photos/young.jpg", "the caller chose it");
    StderrCapture log;
    TaskDoneRecorder done;
    platform::Object context = std::make_shared<int>(4);

    BatchedSynchronization::start(
        testing_support::listedJob(source.string(), destination.string(),
                                   {"./a.jpg", "./sub/c.jpg", "./young.jpg", "-dash.jpg", "./new\nline.jpg"}, context));
    ASSERT_TRUE(done.waitFor(1));

    EXPECT_EQ(done.posts()[0].context, context);
    EXPECT_EQ(done.posts()[0].started, true);
    EXPECT_EQ(done.posts()[0].status, 0);
    EXPECT_EQ(fileNames(destination),
              (std::set<std::string>{"a.jpg", "sub/c.jpg", "young.jpg", "-dash.jpg", "new\nline.jpg"}));
    EXPECT_EQ(fileContents(destination)["sub/c.jpg"], "sub/c.jpg");
    EXPECT_EQ(fileNames(source).size(), 7u) << "a listed copy deletes nothing";
    EXPECT_EQ(testing_support::childProcesses(), std::vector<pid_t>{});
    EXPECT_FALSE(log.contains("/usr/bin/bfs")) << "a listed copy walks nothing";
}

TEST_F(BatchedSynchronizationTest, EveryListedCopyEndsOnceAndSaysHow) {
    setAge(home.writeFile("photos/a.jpg", "a"), 60min);
    const std::string missing = (home.path() / "no such tool").string();
    struct Case {
        const char* what;
        std::vector<std::string> names;
        std::string rsync;
        bool beforeReturn;
        bool started;
        std::int32_t status;
    };
    for (const Case& c : {Case{"nothing listed", {}, rsyncPath(), true, true, 0},
                          Case{"no rsync found", {"./a.jpg"}, "", true, false, 127},
                          Case{"rsync cannot start", {"./a.jpg"}, missing, false, false, 127},
                          Case{"a listed file is gone", {"./a.jpg", "./gone.jpg"}, rsyncPath(), false, true, 23}}) {
        SCOPED_TRACE(c.what);
        TaskDoneRecorder done;
        platform::Object context = std::make_shared<int>(5);
        BatchedSynchronization::start(
            testing_support::listedJob(source.string(), destination.string(), c.names, context),
            {KLVR_Task::kFindToolPath, c.rsync, {}});
        if (c.beforeReturn) {
            EXPECT_EQ(done.count(), 1u);
        }
        ASSERT_TRUE(done.waitFor(1));
        EXPECT_EQ(testing_support::childProcesses(), std::vector<pid_t>{});
        EXPECT_EQ(done.count(), 1u);
        EXPECT_EQ(done.posts()[0].context, context);
        EXPECT_EQ(done.posts()[0].started, c.started);
        EXPECT_EQ(done.posts()[0].status, c.status);
    }
}
