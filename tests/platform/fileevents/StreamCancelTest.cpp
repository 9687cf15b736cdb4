#include "platform/fileevents/StreamCancel.h"
#include "platform/fileevents/FileEventStream.h"
#include "platform/runtime/RunLoop.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using platform::FileEventStream;
using platform::RunLoop;
using platform::StreamCancel;
using Event = FileEventStream::Event;

namespace {

constexpr double kPatience = 20.0;

// The inotify instances of this process, by descriptor, as the kernel lists them.
std::set<int> inotifyDescriptors() {
    std::set<int> found;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (fs::read_symlink(entry.path(), error) == "anon_inode:inotify")
            found.insert(std::stoi(entry.path().filename()));
    }
    return found;
}

// Watches of one instance, counted by the kernel; stops at `enough`.
long watchesOf(int fd, long enough = -1) {
    std::ifstream info("/proc/self/fdinfo/" + std::to_string(fd));
    long watches = 0;
    for (std::string line; std::getline(info, line) && watches != enough;)
        if (line.rfind("inotify wd:", 0) == 0) ++watches;
    return watches;
}

std::vector<int> newSince(const std::set<int>& before) {
    std::vector<int> added;
    for (int fd : inotifyDescriptors())
        if (!before.count(fd)) added.push_back(fd);
    return added;
}

// Waits until a set-up started after `before` has watched its first folder.
bool waitForFirstWatch(const std::set<int>& before) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(kPatience);
    while (std::chrono::steady_clock::now() < deadline) {
        for (int fd : newSince(before))
            if (watchesOf(fd, 1) > 0) return true;
        std::this_thread::yield();
    }
    return false;
}

// `top` folders with `perTop` subfolders each: wide enough to take a while
// to watch, shallow enough to make quickly. Returns the folder count.
long makeWideTree(const fs::path& root, int top, int perTop) {
    for (int i = 0; i < top; ++i) {
        const std::string parent = (root / ("d" + std::to_string(i))).string();
        mkdir(parent.c_str(), 0755);
        for (int j = 0; j < perTop; ++j) mkdir((parent + "/s" + std::to_string(j)).c_str(), 0755);
    }
    return 1 + long(top) * (1 + perTop);
}

class StreamCancelTest : public ::testing::Test {
protected:
    testing_support::TempHome temp;
    fs::path root = temp.makeFolder("watched");
};

// A stream stopped while it still adds watches ends its set-up at once,
// by either of the two ways an owner has, and takes its watches along.
TEST_F(StreamCancelTest, SetUpStoppedFromAnotherThreadEndsEarlyAndLeavesNoWatchBehind) {
    const long folders = makeWideTree(root, 100, 199);
    struct Way {
        const char* name;
        bool throughLoop;
    };
    for (const Way& way : {Way{"cancel()", false}, Way{"stop() of the token's loop", true}}) {
        SCOPED_TRACE(way.name);
        const auto before = inotifyDescriptors();
        auto loop = std::make_shared<RunLoop>();
        auto cancel = way.throughLoop ? std::make_shared<StreamCancel>(loop) : std::make_shared<StreamCancel>();
        std::unique_ptr<FileEventStream> stream;
        std::thread setUp([&] { stream = FileEventStream::create(root.string(), 0.0, nullptr, cancel); });

        const bool begun = waitForFirstWatch(before);
        if (way.throughLoop)
            loop->stop();
        else
            cancel->cancel();
        setUp.join();
        ASSERT_TRUE(begun);
        EXPECT_FALSE(stream) << "a set-up of " << folders << " folders cannot have ended by itself so soon";
        EXPECT_EQ(inotifyDescriptors(), before) << "the instance and all its watches are released";
    }
}

TEST_F(StreamCancelTest, StreamAfterACancelledOneStartsAfreshAndReportsChanges) {
    const long folders = makeWideTree(root, 20, 49);
    const auto before = inotifyDescriptors();
    auto cancel = std::make_shared<StreamCancel>();
    cancel->cancel();
    EXPECT_FALSE(FileEventStream::create(root.string(), 0.0, nullptr, cancel)) << "cancelled before it began";
    EXPECT_EQ(inotifyDescriptors(), before);

    std::vector<std::vector<Event>> batches;
    auto loop = std::make_shared<RunLoop>();
    auto stream = FileEventStream::create(
        root.string(), 0.0, [&](const auto& b) { batches.push_back(b); }, std::make_shared<StreamCancel>());
    ASSERT_TRUE(stream && stream->scheduleWithRunLoop(loop) && stream->start());
    const auto own = newSince(before);
    ASSERT_EQ(own.size(), 1u) << "an instance of its own";
    EXPECT_EQ(watchesOf(own[0]), folders) << "every folder watched, none missing";

    const fs::path deep = root / "d7" / "s31";
    std::ofstream(deep / "photo.jpg") << "x";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(kPatience);
    while (batches.empty() && std::chrono::steady_clock::now() < deadline) loop->runOnce(RunLoop::Seconds(0.02));
    ASSERT_EQ(batches.size(), 1u);
    EXPECT_EQ(batches[0], (std::vector<Event>{{deep.string(), FileEventStream::None}}));
}

// Cancelled once running, a stream lets go of its watches when it next
// walks new folders instead of watching them, and reports nothing more.
TEST_F(StreamCancelTest, CancelledRunningStreamWatchesNoNewFolderAndReleasesItsWatches) {
    makeWideTree(root, 3, 3);
    const auto before = inotifyDescriptors();
    int batches = 0;
    auto loop = std::make_shared<RunLoop>();
    auto cancel = std::make_shared<StreamCancel>();
    auto stream = FileEventStream::create(
        root.string(), 0.0, [&](const auto&) { ++batches; }, cancel);
    ASSERT_TRUE(stream && stream->scheduleWithRunLoop(loop) && stream->start());
    ASSERT_EQ(newSince(before).size(), 1u);

    cancel->cancel();
    fs::create_directories(root / "new/deeper");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(kPatience);
    while (inotifyDescriptors() != before && std::chrono::steady_clock::now() < deadline)
        loop->runOnce(RunLoop::Seconds(0.02));
    EXPECT_EQ(inotifyDescriptors(), before);

    std::ofstream(root / "new/deeper/late.jpg") << "x";
    stream->flushSync();
    loop->runOnce(RunLoop::Seconds(0.05));
    EXPECT_EQ(batches, 0);
    EXPECT_FALSE(stream->start()) << "nothing left to start";
    stream->stop();
    stream->invalidate();
}

} // namespace
