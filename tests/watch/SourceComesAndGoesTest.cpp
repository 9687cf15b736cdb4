// Places that come and go: a card pulled is an error the slot shows, and
// whatever card is put back there is archived without anyone asking, the
// earlier card's copies kept; a full backup disk with room again is
// archived into by itself, with either engine.
#include "watch/WatcherTestFixture.h"

#include "core/MyAliasKit.h"
#include "support/ChildrenInTheFuture.h"
#include "support/FileContents.h"
#include "support/LoopDevice.h"
#include "support/ScopedMount.h"
#include "pass/PassResult.h"
#include "watch/SlotState.h"

#include <set>

#include <sys/mount.h>

using namespace watch_test;
using testing_support::ScopedMount;
using Clock = std::chrono::system_clock;

TEST_F(WatcherTest, ACardPulledIsAnErrorAndAnyCardPutBackIsArchivedByItself) {
    const fs::path card = src[1];
    std::string why;
    auto cardA = ScopedMount::tmpfs(card, &why);
    if (!cardA) GTEST_SKIP() << "cannot mount here: " << why;
    writeFile(card / "DCIM/IMG_0001.JPG", "card A 1");
    choose(1, card);
    MyAliasKit::savePath(card.string(), CommonHeader::param(CommonHeader::slotParameters(1), sPrefCameraFolderPathAliasDataKey));
    prefs().synchronize();
    makeWatcher(1);
    post(kWatcherDoStart, index(1));
    ASSERT_TRUE(waitUntil([&] { return testing_support::readFile(archived(1, "DCIM/IMG_0001.JPG")) == "card A 1"; }, 30s));

    // Pulled: what the empty folder left behind holds is not the source.
    ASSERT_TRUE(cardA->unmount());
    const auto inError = [] {
        return SlotState::of(SlotState::stored(1), std::chrono::system_clock::now()).title() == "Error: source missing";
    };
    EXPECT_TRUE(waitUntil(inError, 10s)) << SlotState::of(SlotState::stored(1), std::chrono::system_clock::now()).title();

    // Another card at the same place, with a photo of the same name, size
    // and time as the first card's (its camera started numbering again).
    const auto cardATime = fs::last_write_time(archived(1, "DCIM/IMG_0001.JPG"));
    auto cardB = ScopedMount::tmpfs(card, &why);
    ASSERT_TRUE(cardB) << why;
    writeFile(card / "DCIM/IMG_0001.JPG", "card B 1");
    fs::last_write_time(card / "DCIM/IMG_0001.JPG", cardATime);
    writeFile(card / "DCIM/IMG_0002.JPG", "card B 2");
    EXPECT_TRUE(waitUntil(
        [&] {
            return testing_support::readFile(archived(1, "DCIM/IMG_0001.JPG")) == "card B 1" &&
                   testing_support::readFile(archived(1, "DCIM/IMG_0002.JPG")) == "card B 2";
        },
        60s));
    std::set<std::string> kept;
    for (const auto& [path, contents] : testing_support::fileContents(dest / kKeptFolderName))
        kept.insert(contents);
    EXPECT_EQ(kept, std::set<std::string>{"card A 1"}) << "the first card's copy is kept";
    EXPECT_TRUE(waitIdle());
    EXPECT_FALSE(inError());
    post(kWatcherDoStop, index(1));
    EXPECT_TRUE(waitIdle());
}

// A card pulled in the middle of a pass, or between passes (either engine,
// deletion on, watched): the pass cut short or the next one says "source
// missing"; a card put back is archived to its last photo without a command.
TEST_F(WatcherTest, ACardPulledMidPassSaysSoAndIsArchivedWhenBack) {
    testing_support::ChildrenInTheFuture future(3); // every photo is old enough to go
    if (!future.active()) GTEST_SKIP() << "libfaketime is not installed";
    prefs().setBool(kPrefEnableDeleteOldSourceImages, true);
    prefs().setInteger(kPrefDeleteSourceImagesAfterDaysOld, 1);
    makeWatcher(1);
    const std::string aliasKey = CommonHeader::param(CommonHeader::slotParameters(1), sPrefCameraFolderPathAliasDataKey);
    constexpr int kPhotos = 150;
    const auto fill = [](const fs::path& card) {
        for (int i = 0; i < kPhotos; ++i)
            writeFile(card / ("DCIM/IMG_" + std::to_string(i) + ".JPG"), "photo " + std::to_string(i));
    };
    for (const bool fast : {false, true}) {
        SCOPED_TRACE(fast ? "fast" : "per-file");
        const fs::path card = tmp.makeFolder(fast ? "FastCard" : "PerFileCard");
        std::string why;
        auto inserted = ScopedMount::tmpfs(card, &why);
        if (!inserted) GTEST_SKIP() << "cannot mount here: " << why;
        fill(card);
        choose(1, card);
        MyAliasKit::savePath(card.string(), aliasKey);
        prefs().setBool(kPrefUseBatchedSynchronization, fast);
        prefs().synchronize();
        post(kWatcherDoStart, index(1));
        ASSERT_TRUE(waitUntil([&] { return !testing_support::fileContents((dest / card.filename() / "DCIM")).empty(); }, 60s));
        ASSERT_EQ(::umount2(card.c_str(), MNT_DETACH), 0); // pulled, perhaps in the middle of the pass
        EXPECT_TRUE(waitUntil(
            [] { return SlotState::of(SlotState::stored(1), Clock::now()).title() == "Error: source missing"; }, 30s))
            << SlotState::of(SlotState::stored(1), Clock::now()).title();

        auto back = ScopedMount::tmpfs(card, &why);
        ASSERT_TRUE(back) << why;
        fill(card);
        for (int i = 0; i < kPhotos; ++i) {
            const std::string name = "DCIM/IMG_" + std::to_string(i) + ".JPG";
            EXPECT_TRUE(waitUntil([&] { return testing_support::readFile((dest / card.filename() / name)) == "photo " + std::to_string(i); }, 60s))
                << name;
        }
        EXPECT_TRUE(waitIdle());
        post(kWatcherDoStop, index(1));
        EXPECT_TRUE(waitIdle());
        back.reset();
        fs::remove_all(dest / card.filename());
    }
}

TEST_F(WatcherTest, AFullDiskWithRoomAgainIsArchivedIntoByItself) {
    makeWatcher(1);
    for (const bool fast : {false, true}) {
        SCOPED_TRACE(fast ? "fast" : "per-file");
        const fs::path disk = tmp.makeFolder(fast ? "FastDisk" : "PerFileDisk");
        std::string why;
        auto mount = ScopedMount::tmpfs(disk, &why, "size=1m");
        if (!mount) GTEST_SKIP() << "cannot mount here: " << why;
        testing_support::chooseDestination(disk);
        prefs().setBool(kPrefUseBatchedSynchronization, fast);
        for (int i = 0; i < 40; ++i) writeFile(src[1] / ("IMG_" + std::to_string(i) + (fast ? ".F" : ".P")), std::string(64 * 1024, 'x'));
        prefs().synchronize();
        scan();
        ASSERT_TRUE(waitIdle());
        ASSERT_TRUE(PassResult::load(1));
        EXPECT_EQ(PassResult::load(1)->error, "destination full");

        // Room again, as the destination monitor tells it.
        ASSERT_EQ(::mount(nullptr, disk.c_str(), nullptr, MS_REMOUNT, "size=64m"), 0);
        post(kDestinationDidChange, platform::UserInfo{{kUserInfoReason, std::string()},
                                                       {kUserInfoWatchPath, disk.string()},
                                                       {kUserInfoReturned, false},
                                                       {kUserInfoFreeBytes, std::uint64_t(60) << 20}});
        EXPECT_TRUE(waitUntil([&] { return testing_support::fileContents(disk / "Main").size() == 40u; }, 60s));
        EXPECT_TRUE(waitIdle());
        EXPECT_EQ(PassResult::load(1)->error, "");
        for (const auto& entry : fs::directory_iterator(src[1])) fs::remove(entry.path());
    }
}

// A card from a camera whose clock runs ahead: its photos are dated in the
// future and this machine wrote them long ago (their status-change time,
// set in the card's image). A scan archives every one with either engine,
// by name after the walk that selects by modification time, and the row
// names them.
TEST_F(WatcherTest, ACardDatedInTheFutureByItsCameraIsArchived) {
    const std::vector<std::pair<std::string, Clock::time_point>> photos{
        {"DCIM/IMG_0001.JPG", Clock::now() + std::chrono::days(30)},
        {"DCIM/IMG_0002.JPG", Clock::now() + std::chrono::years(5)},
        {"DCIM/IMG_0003.JPG", Clock::from_time_t(2218524800)}, // 2040
    };
    prefs().setInteger(kPrefBackupSourceImagesAfterMinutesOld, 1);
    makeWatcher(1);
    for (const bool fast : {false, true}) {
        SCOPED_TRACE(fast ? "fast" : "per-file");
        const fs::path image = tmp.path() / (fast ? "fast.img" : "per-file.img");
        std::string why;
        if (!testing_support::LoopDevice::makeExt4Image(image, 16, &why)) GTEST_SKIP() << why;
        auto device = testing_support::LoopDevice::attach(image, &why);
        if (!device) GTEST_SKIP() << why;
        {
            auto card = ScopedMount::device(device->path(), "ext4", src[1], &why);
            if (!card) GTEST_SKIP() << why;
            for (const auto& [name, date] : photos) {
                writeFile(src[1] / name, name);
                fs::last_write_time(src[1] / name, std::chrono::file_clock::from_sys(date));
            }
            ASSERT_TRUE(card->unmount());
        }
        // Written by this machine in 2020, as far as the card says.
        for (const auto& [name, date] : photos) {
            const auto set = platform::Task::runCapturingOutput(
                {.path = "/usr/sbin/debugfs",
                 .arguments = {"-w", "-R", "set_inode_field /" + name + " ctime 20200101000000", image.string()},
                 .workingDirectory = {}});
            ASSERT_EQ(set.termination.status, 0) << set.standardOutput;
        }
        auto card = ScopedMount::device(device->path(), "ext4", src[1], &why);
        ASSERT_TRUE(card) << why;
        prefs().setBool(kPrefUseBatchedSynchronization, fast);
        prefs().synchronize();
        scan();
        for (const auto& [name, date] : photos)
            EXPECT_TRUE(waitUntil([&] { return testing_support::readFile(archived(1, name)) == name; }, 60s)) << name;
        EXPECT_TRUE(waitIdle());
        const auto last = PassResult::load(1);
        ASSERT_TRUE(last);
        const std::string line = SlotState::of(SlotState::stored(1), Clock::now()).line(last);
        EXPECT_NE(line.find("3 photos dated in the future (camera clock?)"), std::string::npos) << line;
        EXPECT_TRUE(card->unmount());
        fs::remove_all(archived(1, "DCIM"));
    }
}
