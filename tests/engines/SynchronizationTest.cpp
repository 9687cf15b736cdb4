// The synchronization against real trees with the real bfs, rsync and cmp.
#include "engines/KLVR_Task.h"

#include "platform/runtime/Task.h"
#include "support/ChildrenInTheFuture.h"
#include "support/FileContents.h"
#include "support/StderrCapture.h"
#include "support/TaskDoneRecorder.h"
#include "support/SlowWriter.h"
#include "support/TempHome.h"
#include "support/UnwritableFolder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::ChildrenInTheFuture;
using testing_support::expectNothingLost;
using testing_support::FileContents;
using testing_support::fileContents;
using testing_support::StderrCapture;
using testing_support::TaskDoneRecorder;
using testing_support::TempHome;
using testing_support::UnwritableFolder;

namespace {

constexpr int kDaysAhead = 40;

std::chrono::hours days(int n) { return std::chrono::hours(24 * n); }

void makeOld(const fs::path& file, std::chrono::minutes age) {
    fs::last_write_time(file, fs::file_time_type::clock::now() - age);
}

void synchronize(const fs::path& source, const fs::path& destination, unsigned minutes, unsigned days) {
    TaskDoneRecorder done;
    platform::Object context = std::make_shared<int>(1);
    KLVR_Task::synchronizeFileItemsAtFolderPath(source.string(), destination.string(), minutes, days, context);
    ASSERT_TRUE(done.waitFor(1));
    ASSERT_EQ(done.posts()[0].context, context);
}

class SynchronizationTest : public ::testing::Test {
protected:
    TempHome home;
    fs::path source = home.makeFolder("photos");
    fs::path destination = home.makeFolder("backup") / "photos";
};

} // namespace

TEST_F(SynchronizationTest, SettledFilesArriveWithPathTimeAndPermissions) {
    const std::vector<std::string> names{
        "plain.jpg", "with space.jpg", "quote'single.jpg", "quote\"double.jpg", "new\nline.jpg",
        "-leading-dash.jpg", "colon:name.jpg", "Ærø Ünïcødé.jpg", ".DS_Store", "a/b/c/deep.jpg",
        "folder with space/inner.jpg", "-dash folder/x.jpg"};
    for (const auto& name : names) makeOld(home.writeFile("photos/" + name, "contents of " + name), 60min);
    fs::permissions(source / "plain.jpg", fs::perms(0640), fs::perm_options::replace);
    fs::permissions(source / "a/b/c/deep.jpg", fs::perms(0755), fs::perm_options::replace);
    home.writeFile("photos/fresh.jpg", "still being edited");
    home.writeFile("photos/a/fresh too.jpg", "still being edited");
    FileContents before = fileContents(source);

    synchronize(source, destination, 20, 30);

    for (const auto& name : names) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(fs::exists(destination / name));
        EXPECT_EQ(testing_support::readFile(destination / name), "contents of " + name);
        EXPECT_EQ(fs::status(destination / name).permissions(), fs::status(source / name).permissions());
        auto seconds = [](fs::file_time_type t) { return std::chrono::floor<std::chrono::seconds>(t); };
        EXPECT_EQ(seconds(fs::last_write_time(destination / name)), seconds(fs::last_write_time(source / name)));
    }
    EXPECT_FALSE(fs::exists(destination / "fresh.jpg"));
    EXPECT_FALSE(fs::exists(destination / "a/fresh too.jpg"));
    // Born today: not old enough to be deleted, however long ago modified.
    EXPECT_EQ(fileContents(source), before);
}

TEST_F(SynchronizationTest, NoMinutesCopiesEvenFreshFiles) {
    home.writeFile("photos/fresh.jpg", "new");
    synchronize(source, destination, 0, 0);
    EXPECT_EQ(testing_support::readFile(destination / "fresh.jpg"), "new");
}

TEST_F(SynchronizationTest, OldFilesGoOnlyAfterAVerifiedCopy) {
    ChildrenInTheFuture future(kDaysAhead);
    if (!future.active()) GTEST_SKIP() << "libfaketime is not installed";
    home.writeFile("photos/a.jpg", "a");
    home.writeFile("photos/sub/b.jpg", "b");
    home.writeFile("photos/.hidden", "h");
    home.writeFile("photos/blocked/c.jpg", "c");
    home.writeFile("photos/locked/d.jpg", "d");
    // A full folder where the copy of c.jpg belongs, which rsync will not
    // remove: its copy fails whoever runs it.
    home.writeFile("backup/photos/blocked/c.jpg/inside", "in the way");
    UnwritableFolder locked(home.makeFolder("backup/photos/locked"));
    // Modified a minute before the children's clock: old by birth, yet not settled.
    fs::path fresh = home.writeFile("photos/fresh.jpg", "f");
    fs::last_write_time(fresh, fs::file_time_type::clock::now() + days(kDaysAhead) - std::chrono::minutes(1));
    FileContents before = fileContents(source);
    StderrCapture log;

    synchronize(source, destination, 20, 30);

    EXPECT_FALSE(fs::exists(source / "a.jpg"));
    EXPECT_FALSE(fs::exists(source / "sub/b.jpg"));
    EXPECT_FALSE(fs::exists(source / ".hidden"));
    EXPECT_TRUE(fs::exists(source / "blocked/c.jpg"));
    if (locked.ok()) {
        EXPECT_TRUE(fs::exists(source / "locked/d.jpg"));
    }
    EXPECT_TRUE(fs::exists(fresh));
    EXPECT_FALSE(fs::exists(destination / "fresh.jpg"));
    expectNothingLost(before, source, destination);
    EXPECT_TRUE(log.contains("could not make way for new regular file: blocked/c.jpg")) << log.text();
}

TEST_F(SynchronizationTest, NoDaysDeletesNothingHoweverOld) {
    ChildrenInTheFuture future(kDaysAhead);
    if (!future.active()) GTEST_SKIP() << "libfaketime is not installed";
    home.writeFile("photos/a.jpg", "a");
    FileContents before = fileContents(source);
    synchronize(source, destination, 20, 0);
    EXPECT_EQ(fileContents(source), before);
    EXPECT_EQ(fileContents(destination), before);
}

TEST_F(SynchronizationTest, AFileGrowingWhileCopiedStays) {
    if (!testing_support::libfaketime()) GTEST_SKIP() << "libfaketime is not installed";
    home.writeFile("photos/done.jpg", "finished long ago");
    fs::path growing = home.writeFile("photos/growing.jpg", std::string(8 << 20, 'x'));
    testing_support::SlowWriter writer(growing, 4096, 1ms, 120);
    ASSERT_TRUE(writer.started());
    FileContents before = fileContents(source);
    {
        ChildrenInTheFuture future(kDaysAhead);
        synchronize(source, destination, 20, 30);
    }
    EXPECT_FALSE(writer.ended()) << "the writer must still be writing when the run ends";
    writer.stop();

    EXPECT_FALSE(fs::exists(source / "done.jpg"));
    EXPECT_TRUE(fs::exists(growing)) << "a file that grew while copied was deleted";
    expectNothingLost(before, source, destination);
}
