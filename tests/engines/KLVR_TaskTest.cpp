#include "engines/KLVR_Task.h"

#include "core/CommonHeader.h"
#include "support/StderrCapture.h"
#include "support/TaskDoneRecorder.h"
#include "support/TempHome.h"
#include "engines/SynchronizationPolicy.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::StderrCapture;
using testing_support::TaskDoneRecorder;
using testing_support::TempHome;
using testing_support::waitUntilContains;

namespace {

platform::Object makeContext() { return std::make_shared<int>(42); }

// A removal run posts nothing, so its end is seen in its completion log line.
// The post it must not make would follow that line at once on the same thread.
void waitForRemovalRunEnd(const StderrCapture& log, const std::string& command) {
    ASSERT_TRUE(waitUntilContains(log, "toolName = " + command));
    std::this_thread::sleep_for(200ms);
}

class Completion {
public:
    void record(const platform::Task::Termination& end) {
        std::lock_guard lock(mutex_);
        ends_.push_back(end);
        threads_.push_back(std::this_thread::get_id());
        done_.notify_all();
    }
    bool waitForOne() {
        std::unique_lock lock(mutex_);
        return done_.wait_for(lock, 60s, [&] { return !ends_.empty(); });
    }
    size_t count() {
        std::lock_guard lock(mutex_);
        return ends_.size();
    }
    platform::Task::Termination first() {
        std::lock_guard lock(mutex_);
        return ends_.front();
    }
    std::thread::id firstThread() {
        std::lock_guard lock(mutex_);
        return threads_.front();
    }

private:
    std::mutex mutex_;
    std::condition_variable done_;
    std::vector<platform::Task::Termination> ends_;
    std::vector<std::thread::id> threads_;
};

} // namespace

TEST(KLVR_TaskTest, LaunchReturnsBeforeTheChildEndsAndCompletesOnceElsewhere) {
    Completion completion;
    pid_t pid = KLVR_Task::launchToolAtPath(testing_support::testProgram("spawnee"), {"sleep", "2"}, std::nullopt,
                                            [&](const platform::Task::Termination& end) { completion.record(end); });
    // Had the launcher waited for the child, its end would be recorded by now.
    EXPECT_EQ(completion.count(), 0u);
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(completion.waitForOne());
    EXPECT_EQ(completion.first().pid, pid);
    EXPECT_EQ(completion.first().status, 0);
    EXPECT_NE(completion.firstThread(), std::this_thread::get_id());
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(completion.count(), 1u);
}

TEST(KLVR_TaskTest, AToolThatCannotStartIsLoggedAndCompletedWith127) {
    StderrCapture log;
    Completion completion;
    pid_t pid = KLVR_Task::launchToolAtPath("/nonexistent/tool", {"x"}, std::nullopt,
                                            [&](const platform::Task::Termination& end) { completion.record(end); });
    EXPECT_EQ(pid, -1);
    ASSERT_TRUE(completion.waitForOne());
    EXPECT_EQ(completion.first().status, 127);
    EXPECT_FALSE(completion.first().started);
    EXPECT_TRUE(log.contains("starting task /nonexistent/tool x"));
    EXPECT_TRUE(log.contains("/nonexistent/tool: No such file or directory")) << log.text();
    EXPECT_FALSE(log.contains("started task"));
}

TEST(KLVR_TaskTest, FindRunPostsItsContextOnceFromAnotherThread) {
    TempHome home;
    fs::path folder = home.makeFolder("s");
    TaskDoneRecorder done;
    StderrCapture log;
    platform::Object context = makeContext();
    // The list form posts even when the walk fails: bfs rejects the primary.
    KLVR_Task::findAtPath(folder.string(), "f", {}, std::nullopt, std::nullopt, KLVR_Task::Command(std::vector<std::string>{"-nosuchprimary"}), context);
    ASSERT_TRUE(done.waitFor(1));
    auto posts = done.posts();
    EXPECT_EQ(posts[0].context, context);
    EXPECT_NE(posts[0].thread, std::this_thread::get_id());
    EXPECT_TRUE(log.contains(std::string(KLVR_Task::kFindToolPath) + " ["));
    EXPECT_TRUE(log.contains("did complete with exit status 1")) << log.text();
    EXPECT_TRUE(log.contains("toolName = (-nosuchprimary)"));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(done.count(), 1u);

    // Without a context the notification carries none.
    KLVR_Task::findAtPath(folder.string(), "f", {}, std::nullopt, std::nullopt, KLVR_Task::Command(std::vector<std::string>{"-quit"}), nullptr);
    ASSERT_TRUE(done.waitFor(2));
    EXPECT_EQ(done.posts()[1].context, nullptr);
}

TEST(KLVR_TaskTest, RunsThatCannotStartStillRelease) {
    TempHome home;
    StderrCapture log;
    TaskDoneRecorder done;
    platform::Object missingFolder = makeContext(), noPath = makeContext();
    KLVR_Task::findAtPath((home.path() / "missing").string(), "f", {}, std::nullopt, std::nullopt, {}, missingFolder);
    // Without a path nothing is started, and the end is reported before the call returns.
    KLVR_Task::findAtPath("", "f", {}, std::nullopt, std::nullopt, {}, noPath);
    ASSERT_GE(done.count(), 1u);
    EXPECT_EQ(done.posts()[0].context, noPath);
    EXPECT_EQ(done.posts()[0].thread, std::this_thread::get_id());
    EXPECT_TRUE(log.contains("find request without a path: nothing started"));
    ASSERT_TRUE(done.waitFor(2));
    EXPECT_EQ(done.posts()[1].context, missingFolder);
    EXPECT_TRUE(log.contains("did complete with exit status 127"));
    EXPECT_TRUE(log.contains("could not start " + std::string(KLVR_Task::kFindToolPath) + " in " +
                             (home.path() / "missing").string()))
        << log.text();
}

TEST(KLVR_TaskTest, StartingLineShowsTheWholeVector) {
    TempHome home;
    fs::path folder = home.makeFolder("s");
    StderrCapture log;
    KLVR_Task::removeFilesInDirectory(folder.string(), {"*.tmp"}, std::nullopt, 1u, nullptr);
    waitForRemovalRunEnd(log, "rm");
    EXPECT_TRUE(log.contains("starting task /usr/bin/bfs . -type f -iname *.tmp -maxdepth 1 -mindepth 1 -exec rm {} ;"))
        << log.text();
    EXPECT_TRUE(log.contains("started task /usr/bin/bfs ["));
}

TEST(KLVR_TaskTest, HiddenFilesGoEverywhereAndNothingIsPosted) {
    TempHome home;
    fs::path s = home.makeFolder("s");
    home.writeFile("s/.DS_Store", "x");
    home.writeFile("s/a/b/.hidden file", "x");
    home.writeFile("s/a/keep.jpg", "x");
    home.writeFile("s/.folder/visible", "x");
    TaskDoneRecorder done;
    StderrCapture log;
    // Made in this very second: the run still counts them as born before it.
    KLVR_Task::removeFilesInDirectory(s.string(), {".*"}, 0u, std::nullopt, makeContext());
    waitForRemovalRunEnd(log, "rm");
    EXPECT_FALSE(fs::exists(s / ".DS_Store"));
    EXPECT_FALSE(fs::exists(s / "a/b/.hidden file"));
    EXPECT_TRUE(fs::exists(s / "a/keep.jpg"));
    EXPECT_TRUE(fs::exists(s / ".folder/visible"));
    EXPECT_EQ(done.count(), 0u);
}

TEST(KLVR_TaskTest, PatternsIgnoreCaseAndCapitalRmdirPostsNothing) {
    TempHome home;
    fs::path s = home.makeFolder("s");
    home.writeFile("s/one.JPG", "x");
    home.writeFile("s/two.jpg", "x");
    home.writeFile("s/three.png", "x");
    TaskDoneRecorder done;
    StderrCapture log;
    KLVR_Task::removeFilesInDirectory(s.string(), {"*.jpg"}, std::nullopt, std::nullopt, nullptr);
    waitForRemovalRunEnd(log, "rm");
    EXPECT_FALSE(fs::exists(s / "one.JPG"));
    EXPECT_FALSE(fs::exists(s / "two.jpg"));
    EXPECT_TRUE(fs::exists(s / "three.png"));

    // Linux has no program named RMDIR; the run fails and still posts nothing.
    KLVR_Task::findAtPath(s.string(), "d", {}, std::nullopt, std::nullopt, std::string("RMDIR"), makeContext());
    waitForRemovalRunEnd(log, "RMDIR");
    EXPECT_EQ(done.count(), 0u);
}

TEST(KLVR_TaskTest, OldEmptyFoldersGoOneLevelPerRun) {
    TempHome home;
    fs::path s = home.makeFolder("s");
    home.makeFolder("s/e1/e2/e3");
    home.makeFolder("s/empty");
    home.writeFile("s/full/photo.jpg", "x");
    StderrCapture log;
    auto runAt = [&](platform::Date now, int run) {
        KLVR_Task::launchFind(KLVR_Task::removeSubdirectoriesRequest(s.string(), {}, 2u, std::nullopt, nullptr), now);
        ASSERT_TRUE(waitUntilContains(log, "toolName = rmdir")) << "run " << run;
        auto lines = log.lines();
        // Wait for this run's own completion line.
        while (std::count_if(lines.begin(), lines.end(), [](const std::string& l) {
                   return l.find("toolName = rmdir") != std::string::npos;
               }) < run) {
            std::this_thread::sleep_for(10ms);
            lines = log.lines();
        }
    };
    // Folders born today are younger than two days.
    runAt(std::chrono::system_clock::now(), 1);
    EXPECT_TRUE(fs::exists(s / "e1/e2/e3"));
    EXPECT_TRUE(fs::exists(s / "empty"));

    platform::Date later = std::chrono::system_clock::now() + std::chrono::hours(24 * 3);
    runAt(later, 2);
    EXPECT_FALSE(fs::exists(s / "e1/e2/e3"));
    EXPECT_TRUE(fs::exists(s / "e1/e2"));
    EXPECT_FALSE(fs::exists(s / "empty"));
    EXPECT_TRUE(fs::exists(s / "full/photo.jpg"));
    runAt(later, 3);
    EXPECT_FALSE(fs::exists(s / "e1/e2"));
    runAt(later, 4);
    EXPECT_FALSE(fs::exists(s / "e1"));
    EXPECT_TRUE(fs::exists(s / "full"));
    // rmdir's refusal of the full folder lands in the inherited standard error.
    EXPECT_TRUE(log.contains("Directory not empty")) << log.text();
}

TEST(KLVR_TaskTest, RefusedPathsAreLoggedAndReleasedBeforeTheCallReturns) {
    TempHome home;
    fs::path source = home.makeFolder("src");
    fs::path sibling = home.makeFolder("src2");
    fs::create_directory(source / "inside");
    fs::create_directory_symlink(source / "inside", home.path() / "link-into-source");
    struct Case {
        std::string source, destination, message;
    };
    const std::string child = "ERROR: destination Path must NOT be a child of SourcePath";
    const std::string relativeDestination = "ERROR: destination Path must be passed as an absolute path";
    const std::string relativeSource = "ERROR: source Path must be passed as an absolute path";
    const std::string besideDestination =
        "ERROR: source Path must NOT lie inside the folder that holds the destination Path";
    std::vector<Case> cases{
        {source.string(), source.string(), child},
        {source.string(), (source / "backup").string(), child},
        {source.string(), sibling.string(), besideDestination},
        {source.string(), (home.path() / "link-into-source").string(), child},
        {source.string(), source.string() + "/", child},
        {source.string(), "relative/dest", relativeDestination},
        {"relative/src", "relative/dest", relativeDestination},
        {"", sibling.string(), relativeSource},
        {"relative/src", sibling.string(), relativeSource},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source + " -> " + c.destination);
        TaskDoneRecorder done;
        StderrCapture log;
        platform::Object context = makeContext();
        KLVR_Task::synchronizeFileItemsAtFolderPath(c.source, c.destination, 20, 0, context);
        ASSERT_EQ(done.count(), 1u);
        EXPECT_EQ(done.posts()[0].context, context);
        EXPECT_EQ(done.posts()[0].thread, std::this_thread::get_id());
        EXPECT_TRUE(log.contains(c.message)) << log.text();
        EXPECT_FALSE(log.contains("starting task"));
    }
}

TEST(KLVR_TaskTest, SourcesOverlappingTheDestinationOrPathsWithBracesAreRefused) {
    TempHome home;
    auto at = [&](const char* relative) { return (home.path() / relative).string(); };
    for (const char* folder : {"a/b", "a/bc/photos", "backup/photos/inner", "backup/other", "backup2/photos"})
        home.makeFolder(folder);
    fs::create_directory_symlink(home.path() / "backup", home.path() / "link-to-backup");
    const std::string accepted;
    const std::string child = "ERROR: destination Path must NOT be a child of SourcePath";
    const std::string insideDestination = "ERROR: source Path must NOT be the destination Path or inside it";
    const std::string besideDestination =
        "ERROR: source Path must NOT lie inside the folder that holds the destination Path";
    const std::string braces = "ERROR: source and destination Paths must NOT contain \"{}\"";
    struct Case {
        std::string source, destination, message;
    };
    const std::vector<Case> cases{
        // Names that only begin alike are no parent and child.
        {at("a/b"), at("a/bc/photos"), accepted},
        {at("backup2/photos"), at("backup/photos"), accepted},
        {at("backup/photos/inner"), at("backup/photos"), insideDestination},
        {at("backup/photos/inner"), at("link-to-backup/photos"), insideDestination},
        {at("backup/other"), at("backup/photos"), besideDestination},
        {at("link-to-backup/other"), at("backup/photos"), besideDestination},
        {at("backup/") + kKeptFolderName, at("backup/photos"), besideDestination},
        {at("backup"), at("link-to-backup/photos"), child},
        {at("cam{}/photos"), at("backup/photos"), braces},
        {at("a/b"), at("backup{}/photos"), braces},
        {at("a/b"), at("backup/{}"), braces},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source + " -> " + c.destination);
        TaskDoneRecorder done;
        StderrCapture log;
        KLVR_Task::synchronizeFileItemsAtFolderPath(c.source, c.destination, 20, 0, makeContext());
        if (c.message.empty()) {
            ASSERT_TRUE(done.waitFor(1));
            EXPECT_EQ(done.posts()[0].started, true);
            EXPECT_FALSE(log.contains("ERROR:")) << log.text();
            continue;
        }
        EXPECT_EQ(done.count(), 1u) << "a refusal is reported before the call returns";
        ASSERT_TRUE(done.waitFor(1));
        EXPECT_EQ(done.posts()[0].started, false);
        EXPECT_TRUE(log.contains(c.message)) << log.text();
        EXPECT_FALSE(log.contains("starting task"));
    }
}

TEST(KLVR_TaskTest, HiddenFilesGoOnlyWhenSettledAndTheirCopyIsIdentical) {
    TempHome home;
    const fs::path source = home.makeFolder("photos");
    const fs::path archive = home.makeFolder("backup/photos");
    struct Item {
        std::string name, contents;
        std::optional<std::string> copy;
        bool settled, goes;
    };
    const std::vector<Item> items{
        {".DS_Store", "x", "x", true, true},
        {"sub/.hidden file", "hidden", "hidden", true, true},
        {".no copy", "n", std::nullopt, true, false},
        {".other copy", "version 1", "version 2", true, false},
        {".fresh", "f", "f", false, false},
        {"visible.jpg", "v", "v", true, false},
        {".folder/visible", "v", "v", true, false},
    };
    for (const Item& item : items) {
        fs::path file = home.writeFile("photos/" + item.name, item.contents);
        if (item.copy) home.writeFile("backup/photos/" + item.name, *item.copy);
        if (item.settled) fs::last_write_time(file, fs::file_time_type::clock::now() - 60min);
    }
    TaskDoneRecorder done;
    // The clean-up's own call: hidden files settled for 20 minutes.
    KLVR_Task::findAtPath(source.string(), "f", {".*"}, 0u, 20u, std::nullopt,
                          SynchronizationPolicy::verifiedRemoval(archive.string()), nullptr);
    ASSERT_TRUE(done.waitFor(1));
    for (const Item& item : items) {
        SCOPED_TRACE(item.name);
        EXPECT_EQ(fs::exists(source / item.name), !item.goes);
        EXPECT_EQ(fs::exists(archive / item.name), item.copy.has_value());
    }
}
