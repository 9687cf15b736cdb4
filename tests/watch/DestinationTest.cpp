// A backup disk that is unplugged, plugged in again or mounted elsewhere,
// with the real tools and real mounts: an ext4 image on a loop device is
// the disk.
#include "support/ChildrenInTheFuture.h"
#include "support/ChosenDestination.h"
#include "support/FileContents.h"
#include "support/LoopDevice.h"
#include "support/ScopedMount.h"
#include "watch/DestinationMonitor.h"
#include "pass/PassResult.h"
#include "watch/WatcherTestFixture.h"

using namespace watch_test;
using testing_support::LoopDevice;
using testing_support::ScopedMount;

namespace {

class DestinationTest : public WatcherTest {
protected:
    std::unique_ptr<LoopDevice> disk;
    std::unique_ptr<ScopedMount> plugged;

    void SetUp() override {
        WatcherTest::SetUp();
        std::string why;
        if (!LoopDevice::makeExt4Image(tmp.path() / "disk.img", 16, &why)) GTEST_SKIP() << why;
        disk = LoopDevice::attach(tmp.path() / "disk.img", &why);
        if (!disk) GTEST_SKIP() << why;
        fs::remove_all(dest); // the bare mount point, as the fixture chose it before there was a disk
        fs::create_directories(dest);
        plugged = ScopedMount::device(disk->path(), "ext4", dest, &why);
        if (!plugged) GTEST_SKIP() << why;
        testing_support::chooseDestination(dest); // the disk, not the folder it is mounted on
        makeWatcher(1);
    }
    void TearDown() override {
        WatcherTest::TearDown();
        plugged.reset();
        disk.reset();
    }
    void plugIn() {
        std::string why;
        plugged = ScopedMount::device(disk->path(), "ext4", dest, &why);
        ASSERT_TRUE(plugged) << why;
    }
    void unplug() { ASSERT_TRUE(plugged->unmount()); }
    void writePhotos(const std::string& prefix, int count) {
        for (int i = 0; i < count; ++i) tmp.writeFile("Shoot/Main/" + prefix + std::to_string(i) + ".jpg", prefix);
    }
    PassResult scanned() {
        scan();
        EXPECT_TRUE(waitIdle());
        return PassResult::load(1).value_or(PassResult{});
    }
    // Preferences of an older version: the destination by path alone.
    void forgetReferenceData() {
        for (const char* key : {"prefDestinationFolderPathAliasDataFormat1", "prefDestinationArchiveID"})
            prefs().removeObjectForKey(key);
    }
};

} // namespace

// Unplugged, nothing is written where the disk was and nothing counts as
// failed; plugged in again, what arrived meanwhile is archived at once.
TEST_F(DestinationTest, AnUnpluggedDiskGetsNothingAndTheBacklogFollowsItsReturn) {
    for (bool referenceData : {true, false}) {
        SCOPED_TRACE(referenceData ? "chosen in the window" : "paths only");
        if (!referenceData) {
            forgetReferenceData();
            fs::remove_all(dest / ".tolv-archiver-destination"); // a disk archived into before markers existed
        }
        writePhotos(referenceData ? "a" : "b", 20);
        EXPECT_EQ(scanned().error, "");
        EXPECT_TRUE(fs::exists(archived(1, referenceData ? "a19.jpg" : "b19.jpg")));

        unplug();
        writePhotos(referenceData ? "late-a" : "late-b", 5);
        const PassResult away = scanned();
        EXPECT_EQ(away.error, "destination not mounted");
        EXPECT_EQ(away.failed, 0);
        EXPECT_EQ(countEntries(dest.c_str()), 0u) << "written into the folder the disk left behind";

        DestinationMonitor monitor;
        ASSERT_TRUE(waitUntil([&] { return monitor.current().has_value(); }));
        EXPECT_EQ(monitor.current()->problem, "destination not mounted");
        plugIn();
        const fs::path last = archived(1, referenceData ? "late-a4.jpg" : "late-b4.jpg");
        EXPECT_TRUE(waitUntil([&] { return fs::exists(last) && !w[1]->_insideFoundItemLoop(); }, 60s));
        EXPECT_TRUE(waitUntil([&] { return monitor.current()->ready(); }));
        EXPECT_EQ(PassResult::load(1)->error, "");
    }
}

// Another disk, or a folder named like the archive, is not the archive.
TEST_F(DestinationTest, AnotherDiskInItsPlaceIsNotTheArchive) {
    writePhotos("a", 1);
    unplug();
    std::string why;
    auto other = ScopedMount::tmpfs(dest, &why);
    ASSERT_TRUE(other) << why;
    tmp.writeFile("Backup/Archive/their-files.txt", "x");
    EXPECT_EQ(scanned().error, "destination is not the chosen archive");
    EXPECT_FALSE(fs::exists(dest / "Main"));
    other.reset();
    plugIn();
    EXPECT_EQ(scanned().error, "");
    EXPECT_TRUE(fs::exists(archived(1, "a0.jpg")));
}

// Mounted elsewhere, the disk is followed through its alias data, and the
// folder it was mounted on gets nothing.
TEST_F(DestinationTest, ADiskMountedElsewhereIsFollowed) {
    writePhotos("a", 3);
    const fs::path elsewhere = tmp.path() / "media/Backup";
    if (!plugged->moveTo(elsewhere)) GTEST_SKIP() << "mount --move refused here";
    const PassResult moved = scanned();
    EXPECT_EQ(moved.error, "");
    EXPECT_EQ(moved.copied, 3);
    EXPECT_EQ(countEntries(dest.c_str()), 0u);
    EXPECT_TRUE(fs::exists(elsewhere / "Main/a2.jpg"));
    EXPECT_EQ(prefs().stringForKey("prefDestinationFolderPathFormat1"), elsewhere.string());
}

// A disk unplugged in the middle of a pass with deletion on: the rest of the
// pass copies nothing into the folder it leaves behind and deletes no
// original whose copy is not on the disk, with either engine.
TEST_F(DestinationTest, ADiskUnpluggedMidPassGetsNothingMoreAndNoOriginalIsLost) {
    testing_support::ChildrenInTheFuture future(3); // bfs takes every photo for three days old
    if (!future.active()) GTEST_SKIP() << "libfaketime is not installed";
    prefs().setBool(kPrefEnableDeleteOldSourceImages, true);
    prefs().setInteger(kPrefDeleteSourceImagesAfterDaysOld, 1);
    for (bool fast : {false, true}) {
        SCOPED_TRACE(fast ? "fast" : "per file");
        prefs().setBool(kPrefUseBatchedSynchronization, fast);
        const std::string tag = fast ? "fast" : "slow";
        writePhotos(tag + "/", fast ? 3000 : 150);
        const auto before = testing_support::fileContents(src[1]);
        scan();
        ASSERT_TRUE(waitUntil([&] { return fs::exists(archived(1, tag + "/19.jpg")); }));
        unplug();
        ASSERT_TRUE(waitIdle());
        EXPECT_EQ(countEntries(dest.c_str()), 0u) << "written into the folder the disk left behind";
        EXPECT_EQ(PassResult::load(1)->error, "destination not mounted");
        plugIn();
        testing_support::expectNothingLost(before, src[1], dest / "Main");
        EXPECT_EQ(scanned().error, "");
    }
}
