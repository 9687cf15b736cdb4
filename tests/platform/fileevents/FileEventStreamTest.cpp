#include "platform/fileevents/FileEventStream.h"
#include "platform/runtime/RunLoop.h"
#include "platform/runtime/Task.h"
#include "support/TempHome.h"
#include "support/FileContents.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using platform::FileEventStream;
using platform::RunLoop;
using Event = FileEventStream::Event;

namespace {

// Long enough for a loaded machine; waits end as soon as the event is there.
constexpr double kPatience = 20.0;

// A stream on its own run loop, driven by the test's thread, that keeps
// every batch it is given.
class StreamProbe {
public:
    explicit StreamProbe(const fs::path& folder, double latency = 0.05, std::uint32_t createFlags = 0)
        : loop_(std::make_shared<RunLoop>()),
          stream_(FileEventStream::create(
              folder.string(), latency, [this](const std::vector<Event>& batch) { batches_.push_back(batch); },
              nullptr, createFlags)) {
        if (stream_ && stream_->scheduleWithRunLoop(loop_)) started_ = stream_->start();
    }

    bool started() const { return started_; }
    FileEventStream& stream() { return *stream_; }
    RunLoop& loop() { return *loop_; }
    const std::vector<std::vector<Event>>& batches() const { return batches_; }

    bool runUntil(const std::function<bool()>& done) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(kPatience);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            loop_->runOnce(RunLoop::Seconds(0.02));
        }
        return true;
    }
    bool runUntilReported(const fs::path& folder) {
        return runUntil([&] { return flagsOf(folder) >= 0; });
    }

    // Flags of the folder merged over all batches so far; -1 when never reported.
    long flagsOf(const fs::path& folder) const {
        long flags = -1;
        for (const auto& batch : batches_)
            for (const auto& event : batch)
                if (event.path == folder.string()) flags = (flags < 0 ? 0 : flags) | event.flags;
        return flags;
    }
    std::vector<Event> flushed() {
        batches_.clear();
        stream_->flushSync();
        std::vector<Event> all;
        for (const auto& batch : batches_) all.insert(all.end(), batch.begin(), batch.end());
        return all;
    }
    void clear() { batches_.clear(); }

private:
    std::shared_ptr<RunLoop> loop_;
    std::vector<std::vector<Event>> batches_;
    std::unique_ptr<FileEventStream> stream_;
    bool started_ = false;
};

void writeFile(const fs::path& file, const std::string& contents = "x") { testing_support::writeFile(file, contents); }

std::vector<std::string> pathsOf(const std::vector<Event>& events) {
    std::vector<std::string> paths;
    for (const auto& e : events) paths.push_back(e.path);
    return paths;
}

int countEntries(const char* folder) {
    int count = 0;
    if (DIR* dir = opendir(folder)) {
        while (readdir(dir)) ++count;
        closedir(dir);
    }
    return count;
}

int occurrences(const std::string& text, const std::string& part) {
    int count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

long readNumber(const char* file) {
    long value = -1;
    std::ifstream(file) >> value;
    return value;
}

// A small file system mounted for one test, gone again however the test ends.
class ScratchMount {
public:
    explicit ScratchMount(const fs::path& at) : at_(at) {
        mounted_ = mount("tolv-test", at.c_str(), "tmpfs", 0, "size=1m") == 0;
    }
    ~ScratchMount() {
        if (mounted_) umount2(at_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }
    bool unmount() {
        mounted_ = mounted_ && umount(at_.c_str()) != 0;
        return !mounted_;
    }

private:
    fs::path at_;
    bool mounted_ = false;
};

class FileEventStreamTest : public ::testing::Test {
protected:
    testing_support::TempHome temp;
    fs::path root = temp.makeFolder("watched");
};

TEST_F(FileEventStreamTest, ReportsTheFolderOfADeepChangeOnlyForChangesAfterCreation) {
    fs::path deep = temp.makeFolder("watched/a/b/c");
    writeFile(deep / "before.jpg");
    StreamProbe probe(root);
    ASSERT_TRUE(probe.started());
    EXPECT_TRUE(probe.flushed().empty()) << "a file made before the stream must not be reported";

    writeFile(deep / "photo.jpg");
    ASSERT_TRUE(probe.runUntilReported(deep));
    ASSERT_EQ(probe.batches().size(), 1u);
    EXPECT_EQ(probe.batches()[0], (std::vector<Event>{{deep.string(), FileEventStream::None}}));
}

TEST_F(FileEventStreamTest, ChangesWithinTheLatencyArriveAsOneBatchWithEachFolderOnce) {
    for (const char* name : {"a", "b", "c"}) temp.makeFolder(std::string("watched/") + name);
    StreamProbe probe(root, 0.5);
    ASSERT_TRUE(probe.started());
    for (int i = 0; i < 30; ++i) {
        writeFile(root / std::string(1, char('a' + i % 3)) / ("f" + std::to_string(i)));
        probe.loop().runOnce(RunLoop::Seconds(0));
    }
    ASSERT_TRUE(probe.runUntil([&] { return !probe.batches().empty(); }));
    ASSERT_EQ(probe.batches().size(), 1u);
    EXPECT_EQ(pathsOf(probe.batches()[0]),
              (std::vector<std::string>{(root / "a").string(), (root / "b").string(), (root / "c").string()}));
    EXPECT_TRUE(probe.flushed().empty());
}

TEST_F(FileEventStreamTest, FlushDeliversPendingEventsWithoutWaitingForTheLatency) {
    StreamProbe probe(root, 3600);
    ASSERT_TRUE(probe.started());
    writeFile(root / "one.jpg");
    probe.stream().flushSync();
    ASSERT_EQ(probe.batches().size(), 1u) << "flushSync delivers before it returns";
    EXPECT_EQ(pathsOf(probe.batches()[0]), std::vector<std::string>{root.string()});

    probe.clear();
    writeFile(root / "two.jpg");
    std::thread([&] { probe.stream().flushAsync(); }).join();
    ASSERT_TRUE(probe.runUntilReported(root));
}

TEST_F(FileEventStreamTest, NewFolderIsWatchedAndReportedWithFilesMadeBeforeItsWatch) {
    StreamProbe probe(root);
    ASSERT_TRUE(probe.started());
    // The loop is not running, so all of this happens before the stream can
    // add a watch for the new folders.
    fs::path burst = temp.makeFolder("watched/burst");
    for (int i = 0; i < 200; ++i) writeFile(burst / ("img" + std::to_string(i) + ".jpg"));
    fs::path nested = temp.makeFolder("watched/nested/x/y");
    writeFile(nested / "early.jpg");

    ASSERT_TRUE(probe.runUntil([&] { return probe.flagsOf(burst) >= 0 && probe.flagsOf(nested) >= 0; }));
    EXPECT_GE(probe.flagsOf(root), 0);

    writeFile(burst / "late.jpg");
    writeFile(nested / "late.jpg");
    auto later = pathsOf(probe.flushed());
    EXPECT_EQ(later, (std::vector<std::string>{burst.string(), nested.string()}));
}

TEST_F(FileEventStreamTest, MovedFoldersAreWatchedUnderTheirNewPathsOnly) {
    fs::path outsideTree = temp.makeFolder("outside/tree/u/v");
    StreamProbe probe(root);
    ASSERT_TRUE(probe.started());

    fs::rename(temp.path() / "outside/tree", root / "in");
    fs::path movedIn = root / "in/u/v";
    ASSERT_TRUE(probe.runUntilReported(movedIn)) << "a moved-in tree's folders are reported";
    writeFile(movedIn / "a.jpg");
    EXPECT_EQ(pathsOf(probe.flushed()), std::vector<std::string>{movedIn.string()});

    fs::rename(root / "in", root / "renamed");
    probe.flushed();
    writeFile(root / "renamed/u/v/b.jpg");
    EXPECT_EQ(pathsOf(probe.flushed()), std::vector<std::string>{(root / "renamed/u/v").string()});

    fs::rename(root / "renamed", temp.path() / "away");
    EXPECT_EQ(pathsOf(probe.flushed()), std::vector<std::string>{root.string()});
    writeFile(temp.path() / "away/u/v/c.jpg");
    EXPECT_TRUE(probe.flushed().empty()) << "a tree moved out is no longer watched";
}

TEST_F(FileEventStreamTest, SymbolicLinksBelowTheFolderAreNotFollowedButALinkedFolderIsWatched) {
    fs::path outside = temp.makeFolder("outside");
    fs::create_directory_symlink(outside, root / "link");
    StreamProbe probe(root);
    ASSERT_TRUE(probe.started());
    writeFile(outside / "a.jpg");
    EXPECT_TRUE(probe.flushed().empty());

    fs::path linkToRoot = temp.path() / "root-link";
    fs::create_directory_symlink(root, linkToRoot);
    StreamProbe throughLink(temp.path() / "root-link/");
    ASSERT_TRUE(throughLink.started());
    EXPECT_EQ(throughLink.stream().path(), linkToRoot.string());
    writeFile(root / "b.jpg");
    EXPECT_EQ(pathsOf(throughLink.flushed()), std::vector<std::string>{linkToRoot.string()});
}

TEST_F(FileEventStreamTest, DeletedOrMovedRootIsReportedAsRootChanged) {
    temp.makeFolder("watched/sub/deeper");
    {
        StreamProbe probe(root);
        ASSERT_TRUE(probe.started());
        fs::remove_all(root);
        ASSERT_TRUE(probe.runUntil([&] { return probe.flagsOf(root) & FileEventStream::RootChanged; }));
    }
    fs::create_directories(root / "sub");
    StreamProbe probe(root);
    ASSERT_TRUE(probe.started());
    fs::rename(root, temp.path() / "moved");
    ASSERT_TRUE(probe.runUntil([&] { return probe.flagsOf(root) > 0; }));
    EXPECT_EQ(probe.flagsOf(root), long(FileEventStream::RootChanged));
    writeFile(temp.path() / "moved/sub/a.jpg");
    EXPECT_TRUE(probe.flushed().empty()) << "what was the folder now lies outside the watched path";
}

TEST_F(FileEventStreamTest, UnmountIsReportedAndTheFolderBeneathIsWatched) {
    fs::path card = temp.makeFolder("watched/card");
    ScratchMount cardMount(card);
    if (!cardMount.mounted()) GTEST_SKIP() << "cannot mount here: " << strerror(errno);
    fs::create_directories(card / "DCIM/100");
    StreamProbe probe(root);
    ASSERT_TRUE(probe.started());
    writeFile(card / "DCIM/100/a.jpg");
    EXPECT_EQ(pathsOf(probe.flushed()), std::vector<std::string>{(card / "DCIM/100").string()});

    ASSERT_TRUE(cardMount.unmount());
    ASSERT_TRUE(probe.runUntil([&] { return probe.flagsOf(card) >= 0; }));
    EXPECT_EQ(probe.flagsOf(card), long(FileEventStream::Unmount));
    EXPECT_LT(probe.flagsOf(root), 1) << "the root itself is still there";
    writeFile(card / "beneath.jpg");
    EXPECT_EQ(pathsOf(probe.flushed()), std::vector<std::string>{card.string()});

    fs::path volume = temp.makeFolder("volume");
    ScratchMount volumeMount(volume);
    ASSERT_TRUE(volumeMount.mounted());
    StreamProbe onVolume(volume);
    ASSERT_TRUE(onVolume.started());
    ASSERT_TRUE(volumeMount.unmount());
    ASSERT_TRUE(onVolume.runUntil([&] { return onVolume.flagsOf(volume) > 0; }));
    EXPECT_EQ(onVolume.flagsOf(volume), long(FileEventStream::RootChanged | FileEventStream::Unmount));
}

TEST_F(FileEventStreamTest, KernelQueueOverflowIsFlaggedAndFoldersMadeDuringItAreWatched) {
    const long maxQueued = readNumber("/proc/sys/fs/inotify/max_queued_events");
    if (maxQueued <= 0 || maxQueued > 200000)
        GTEST_SKIP() << "the kernel queue holds " << maxQueued << " events; too many to overflow quickly";
    writeFile(root / "f0");
    writeFile(root / "f1");
    StreamProbe probe(root);
    ASSERT_TRUE(probe.started());
    // The kernel merges only repeats of the very last event, so alternate.
    for (long i = 0; i <= maxQueued + 10; ++i) chmod((root / (i % 2 ? "f1" : "f0")).c_str(), i % 2 ? 0644 : 0600);
    fs::path late = temp.makeFolder("watched/late");

    auto events = probe.flushed();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events[0].path, root.string());
    EXPECT_EQ(events[0].flags, FileEventStream::MustScanSubDirs | FileEventStream::KernelDropped);

    writeFile(late / "a.jpg");
    EXPECT_EQ(pathsOf(probe.flushed()), std::vector<std::string>{late.string()});
}

TEST_F(FileEventStreamTest, FullWatchTableIsFlaggedAndLoggedOnce) {
    for (int i = 0; i < 12; ++i) temp.makeFolder("watched/d" + std::to_string(i));
    platform::Task::Options run;
    run.path = testing_support::testProgram("watch_limited_stream");
    run.arguments = {"5", root.string(), (root / "new").string()};
    auto output = platform::Task::runCapturingOutput(run);
    if (output.termination.status == 77) GTEST_SKIP() << output.standardOutput;
    ASSERT_EQ(output.termination.status, 0) << output.standardOutput;

    const std::string& text = output.standardOutput;
    const std::string dropped = "0x3 " + root.string() + "\n";
    auto first = text.find(dropped);
    ASSERT_NE(first, std::string::npos) << text;
    EXPECT_NE(text.find(dropped, first + 1), std::string::npos) << "a new folder beyond the limit: again\n" << text;
    EXPECT_EQ(occurrences(text, "sysctl fs.inotify.max_user_watches="), 1) << "logged once, with the remedy\n" << text;
}

// With FileEvents each change names its file; a folder is named only where
// its entries must be listed: a new tree, whose files may predate its watch.
TEST_F(FileEventStreamTest, FileEventsNameTheFilesAndOnlyNewFoldersAsFolders) {
    constexpr std::uint32_t File = FileEventStream::ItemIsFile;
    constexpr std::uint32_t Created = FileEventStream::ItemCreated, Removed = FileEventStream::ItemRemoved,
                            Renamed = FileEventStream::ItemRenamed, Modified = FileEventStream::ItemModified,
                            Meta = FileEventStream::ItemInodeMetaMod;
    const fs::path outside = temp.makeFolder("outside");
    writeFile(root / "old.jpg");
    writeFile(root / "gone.jpg");
    writeFile(root / "old folder/in.jpg");
    struct Case {
        const char* what;
        std::function<void()> change;
        std::map<std::string, std::uint32_t> expected; // below the root: flags
    };
    const std::vector<Case> cases{
        {"a new photo", [&] { writeFile(root / "new.jpg"); }, {{"new.jpg", File | Created | Modified}}},
        {"rewritten", [&] { writeFile(root / "old.jpg", "again"); }, {{"old.jpg", File | Modified}}},
        {"renamed in place",
         [&] { fs::rename(root / "old.jpg", root / "old folder/renamed.jpg"); },
         {{"old.jpg", File | Renamed}, {"old folder/renamed.jpg", File | Renamed}}},
        {"moved in", [&] { writeFile(outside / "card.jpg"); fs::rename(outside / "card.jpg", root / "card.jpg"); },
         {{"card.jpg", File | Renamed}}},
        {"permissions", [&] { fs::permissions(root / "card.jpg", fs::perms::owner_read, fs::perm_options::replace); },
         {{"card.jpg", File | Meta}}},
        {"a hard link", [&] { fs::create_hard_link(root / "card.jpg", root / "linked.jpg"); },
         {{"linked.jpg", File | Created}}},
        {"removed", [&] { fs::remove(root / "gone.jpg"); }, {{"gone.jpg", File | Removed}}},
        {"a new folder", [&] { writeFile(root / "new folder/x.jpg"); }, {{"new folder", 0}}},
        {"a tree moved in",
         [&] {
             writeFile(outside / "tree/deep/y.jpg");
             fs::rename(outside / "tree", root / "tree");
         },
         {{"tree", 0}, {"tree/deep", 0}}},
        {"a folder removed or given attributes: only its files' removal",
         [&] {
             fs::remove_all(root / "old folder");
             fs::permissions(root / "tree", fs::perms::owner_all, fs::perm_options::replace);
         },
         {{"old folder/in.jpg", File | Removed}, {"old folder/renamed.jpg", File | Removed}}},
    };
    StreamProbe probe(root, 1.0, FileEventStream::FileEvents);
    ASSERT_TRUE(probe.started());
    for (const auto& c : cases) {
        c.change();
        std::map<std::string, std::uint32_t> reported;
        for (const auto& event : probe.flushed()) reported[fs::path(event.path).lexically_relative(root)] |= event.flags;
        EXPECT_EQ(reported, c.expected) << c.what;
    }
}

TEST_F(FileEventStreamTest, RefusesWhatIsNotAFolder) {
    EXPECT_FALSE(FileEventStream::create((root / "missing").string(), 1.0, nullptr));
    writeFile(root / "file");
    EXPECT_FALSE(FileEventStream::create((root / "file").string(), 1.0, nullptr));
    EXPECT_FALSE(FileEventStream::create("", 1.0, nullptr));
}

TEST_F(FileEventStreamTest, LifecycleCallsOutOfOrderAreRefusedAndStopHoldsEventsBack) {
    std::vector<std::vector<Event>> batches;
    auto loop = std::make_shared<RunLoop>();
    auto stream = FileEventStream::create(root.string(), 0.0, [&](const auto& b) { batches.push_back(b); });
    ASSERT_TRUE(stream);
    EXPECT_FALSE(stream->start()) << "not scheduled yet";
    EXPECT_FALSE(stream->scheduleWithRunLoop(nullptr));
    ASSERT_TRUE(stream->scheduleWithRunLoop(loop));
    EXPECT_FALSE(stream->scheduleWithRunLoop(loop));
    ASSERT_TRUE(stream->start());
    EXPECT_TRUE(stream->start());

    stream->stop();
    writeFile(root / "while-stopped.jpg");
    stream->flushSync();
    loop->runOnce(RunLoop::Seconds(0.05));
    EXPECT_TRUE(batches.empty());
    ASSERT_TRUE(stream->start());
    stream->flushSync();
    EXPECT_EQ(batches.size(), 1u) << "changes made while stopped come after the restart";

    stream->invalidate();
    EXPECT_FALSE(stream->start());
    stream->flushSync();
    stream->flushAsync();
    stream->stop();
    stream->invalidate();
    loop->runOnce(RunLoop::Seconds(0));
    EXPECT_EQ(batches.size(), 1u);
}

TEST_F(FileEventStreamTest, RepeatedStreamsLeaveNoDescriptorsOrThreadsBehind) {
    temp.makeFolder("watched/a/b");
    auto loop = std::make_shared<RunLoop>();
    const int fdsBefore = countEntries("/proc/self/fd");
    const int threadsBefore = countEntries("/proc/self/task");
    for (int i = 0; i < 60; ++i) {
        int calls = 0;
        auto stream = FileEventStream::create(root.string(), 0.0, [&](const auto&) { ++calls; });
        ASSERT_TRUE(stream && stream->scheduleWithRunLoop(loop) && stream->start());
        writeFile(root / "a/b/x.jpg", std::to_string(i));
        stream->flushSync();
        ASSERT_EQ(calls, 1);
        if (i % 2) stream->stop(); // the rest are only destroyed
        if (i % 3 == 0) stream->invalidate();
    }
    EXPECT_EQ(countEntries("/proc/self/fd"), fdsBefore);
    EXPECT_EQ(countEntries("/proc/self/task"), threadsBefore);
}

} // namespace
