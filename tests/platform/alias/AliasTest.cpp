#include "platform/alias/Alias.h"
#include "platform/alias/AliasRecord.h"

#include "support/LoopDevice.h"
#include "support/ScopedMount.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <random>

namespace fs = std::filesystem;
using platform::Alias;
using platform::AliasRecord;
using testing_support::LoopDevice;
using testing_support::ScopedMount;
using testing_support::TempHome;

namespace {

// Enough for the temporary folder; a failed search with the default bounds
// would read a large part of the system disk.
constexpr platform::AliasSearch::Bounds kSmallBounds{5000, 32};

class AliasTest : public ::testing::Test {
protected:
    // realpath of the temporary folder, as records hold canonical paths.
    fs::path root() const { return fs::canonical(home_.path()); }

    Alias::Bytes recordOf(const fs::path& p) {
        std::string reason;
        auto bytes = Alias::make(p.string(), &reason);
        EXPECT_TRUE(bytes) << reason;
        return bytes.value_or(Alias::Bytes{});
    }

    std::uint64_t inodeOf(const fs::path& p) {
        struct stat st {};
        stat(p.c_str(), &st);
        return st.st_ino;
    }

    TempHome home_;
};

TEST_F(AliasTest, NoRecordOfAMissingItem) {
    std::string reason;
    EXPECT_FALSE(Alias::make("", &reason));
    EXPECT_FALSE(Alias::make((root() / "missing").string(), &reason));
    EXPECT_NE(reason.find("missing"), std::string::npos);
}

TEST_F(AliasTest, AnUntouchedFolderOrFileResolvesToItselfUnchanged) {
    const auto folder = home_.makeFolder("photos");
    const auto file = home_.writeFile("photos/a.jpg", "jpeg");
    for (const auto& p : {folder, file}) {
        const auto data = recordOf(p);
        auto res = Alias::resolve(data);
        ASSERT_TRUE(res.resolved) << res.reason;
        EXPECT_EQ(res.path, fs::canonical(p).string());
        EXPECT_FALSE(res.changed);
        EXPECT_TRUE(res.changedData.empty());
    }
}

TEST_F(AliasTest, ALinkToAFolderRecordsTheFolder) {
    const auto folder = home_.makeFolder("real/photos");
    fs::create_directory_symlink(folder, root() / "link");
    const auto data = recordOf(root() / "link");
    fs::remove(root() / "link");
    auto res = Alias::resolve(data);
    ASSERT_TRUE(res.resolved) << res.reason;
    EXPECT_EQ(res.path, (root() / "real/photos").string());
}

TEST_F(AliasTest, ARenamedFolderIsFoundAndTheRecordIsRenewed) {
    home_.makeFolder("photos");
    const auto data = recordOf(root() / "photos");
    fs::rename(root() / "photos", root() / "archive 2024");

    auto res = Alias::resolve(data);
    ASSERT_TRUE(res.resolved) << res.reason;
    EXPECT_EQ(res.path, (root() / "archive 2024").string());
    ASSERT_TRUE(res.changed);
    // The fresh record names the folder where it is now.
    auto again = Alias::resolve(res.changedData);
    ASSERT_TRUE(again.resolved);
    EXPECT_EQ(again.path, res.path);
    EXPECT_FALSE(again.changed);
}

TEST_F(AliasTest, FilesAndFoldersMovedIntoOtherBranchesAreFound) {
    home_.makeFolder("tree/a/b/photos");
    home_.makeFolder("tree/c/d");
    home_.writeFile("tree/a/b/shot.raw", "raw");
    const auto folderData = recordOf(root() / "tree/a/b/photos");
    const auto fileData = recordOf(root() / "tree/a/b/shot.raw");
    fs::rename(root() / "tree/a/b/photos", root() / "tree/c/d/photos");
    fs::rename(root() / "tree/a/b/shot.raw", root() / "tree/c/shot.raw");
    fs::remove_all(root() / "tree/a");

    auto folder = Alias::resolve(folderData);
    ASSERT_TRUE(folder.resolved) << folder.reason;
    EXPECT_EQ(folder.path, (root() / "tree/c/d/photos").string());
    auto file = Alias::resolve(fileData);
    ASSERT_TRUE(file.resolved) << file.reason;
    EXPECT_EQ(file.path, (root() / "tree/c/shot.raw").string());
}

TEST_F(AliasTest, AFolderMadeAgainAtTheSamePathIsNotTheOldOne) {
    home_.makeFolder("photos");
    const auto data = recordOf(root() / "photos");
    const auto oldInode = inodeOf(root() / "photos");
    // Deleting and making folders until the inode comes back, where the file
    // system reuses inodes at all (ext4 usually does at once).
    bool reused = false;
    for (int i = 0; i < 20 && !reused; ++i) {
        fs::remove(root() / "photos");
        fs::create_directory(root() / "photos");
        reused = inodeOf(root() / "photos") == oldInode;
    }
    RecordProperty("inodeReused", reused ? "yes" : "no");
    auto res = Alias::resolve(data, kSmallBounds);
    EXPECT_FALSE(res.resolved) << "taken for the old folder: " << res.path << (reused ? " (inode reused)" : "");
    EXPECT_EQ(res.error, Alias::Error::NotFound);
}

TEST_F(AliasTest, TheSameInodeWithAnotherBirthOrGenerationIsAnotherItem) {
    home_.makeFolder("photos");
    auto record = *AliasRecord::decode(recordOf(root() / "photos"));
    if (!record.item.hasBirthTime && record.item.handle.empty()) {
        GTEST_SKIP() << "no birth time nor file handle here";
    }

    auto otherBirth = record;
    otherBirth.item.birthNanoseconds ^= 1;
    if (otherBirth.item.hasBirthTime) {
        EXPECT_FALSE(Alias::resolve(otherBirth.encode(), kSmallBounds).resolved);
    }

    auto otherGeneration = record;
    if (!otherGeneration.item.handle.empty()) {
        otherGeneration.item.handle.back() ^= 1;
        EXPECT_FALSE(Alias::resolve(otherGeneration.encode(), kSmallBounds).resolved);
    }
    // With no witness at all, the stored path and inode still do.
    auto bare = record;
    bare.item.hasBirthTime = false;
    bare.item.handle.clear();
    EXPECT_TRUE(Alias::resolve(bare.encode()).resolved);
    // But a search never takes an inode alone.
    fs::rename(root() / "photos", root() / "renamed");
    EXPECT_FALSE(Alias::resolve(bare.encode(), kSmallBounds).resolved);
}

TEST_F(AliasTest, TheSearchKeepsToItsBounds) {
    home_.makeFolder("top/1/2/3/4/photos");
    const auto data = recordOf(root() / "top/1/2/3/4/photos");
    fs::rename(root() / "top/1/2/3/4/photos", root() / "top/photos");
    fs::remove_all(root() / "top/1/2/3");
    for (int i = 0; i < 50; ++i) home_.makeFolder("top/1/2/f" + std::to_string(i));
    // Below top/1/2 there are 50 entries; from top/1 one more; the folder
    // is the 53rd at most.
    auto starved = Alias::resolve(data, {20, 32});
    EXPECT_FALSE(starved.resolved);
    EXPECT_EQ(starved.entriesVisited, 20u);
    EXPECT_NE(starved.reason.find("bound"), std::string::npos) << starved.reason;

    auto enough = Alias::resolve(data, {60, 32});
    ASSERT_TRUE(enough.resolved) << enough.reason;
    EXPECT_EQ(enough.path, (root() / "top/photos").string());
}

TEST_F(AliasTest, TheSearchKeepsToItsDepth) {
    home_.makeFolder("top/photos");
    home_.makeFolder("top/x/y/z");
    const auto data = recordOf(root() / "top/photos");
    fs::rename(root() / "top/photos", root() / "top/x/y/z/photos");
    EXPECT_FALSE(Alias::resolve(data, {1000, 3}).resolved);
    EXPECT_TRUE(Alias::resolve(data, {1000, 4}).resolved);
}

TEST_F(AliasTest, TheSearchDoesNotFollowLinksOrLoopForever) {
    home_.makeFolder("top/photos");
    const auto data = recordOf(root() / "top/photos");
    fs::rename(root() / "top/photos", root() / "elsewhere");
    fs::create_directory_symlink(root() / "top", root() / "top/loop");
    fs::create_directory_symlink(root(), root() / "top/up");
    auto res = Alias::resolve(data, {5000, 32});
    ASSERT_TRUE(res.resolved) << res.reason;
    EXPECT_EQ(res.path, (root() / "elsewhere").string());
}

TEST_F(AliasTest, DamagedBytesResolveToNothing) {
    home_.makeFolder("photos");
    const auto good = recordOf(root() / "photos");
    std::mt19937 rng(7);
    std::vector<Alias::Bytes> inputs{{}, {0x00}, Alias::Bytes(good.begin(), good.begin() + good.size() / 2)};
    Alias::Bytes noise(512);
    for (auto& b : noise) b = static_cast<std::uint8_t>(rng());
    inputs.push_back(noise);
    for (const auto& in : inputs) {
        auto res = Alias::resolve(in);
        EXPECT_FALSE(res.resolved);
        EXPECT_EQ(res.error, Alias::Error::Damaged);
        EXPECT_NE(res.reason.find("damaged"), std::string::npos);
        EXPECT_EQ(Alias::compareVolume(in, root().string()), Alias::VolumeCheck::Unknown);
    }
}

// Mutated records that still parse send the resolver to odd paths; it must
// neither crash nor stray beyond its bounds.
TEST_F(AliasTest, MutatedRecordsNeverCrashTheResolver) {
    home_.makeFolder("photos/a/b");
    const auto good = recordOf(root() / "photos/a");
    std::mt19937_64 rng(99);
    for (int i = 0; i < 2000; ++i) {
        auto b = good;
        b[12 + rng() % (b.size() - 12)] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
        auto res = Alias::resolve(b, {200, 8});
        EXPECT_LE(res.entriesVisited, 200u);
    }
}

TEST_F(AliasTest, VolumeComparison) {
    home_.makeFolder("photos");
    const auto data = recordOf(root() / "photos");
    EXPECT_EQ(Alias::compareVolume(data, root().string()), Alias::VolumeCheck::Same);
    EXPECT_EQ(Alias::compareVolume(data, (root() / "missing").string()), Alias::VolumeCheck::Unknown);

    auto record = *AliasRecord::decode(data);
    auto elsewhere = record;
    elsewhere.volume.device ^= 0x100;
    elsewhere.item.device = elsewhere.volume.device;
    elsewhere.volume.fsid ^= 1;
    if (!elsewhere.volume.uuid.empty()) elsewhere.volume.uuid += "-other";
    EXPECT_EQ(Alias::compareVolume(elsewhere.encode(), root().string()), Alias::VolumeCheck::Different);
    // And an item on another volume is not the recorded item, even at its path.
    auto res = Alias::resolve(elsewhere.encode());
    EXPECT_FALSE(res.resolved);
    EXPECT_EQ(res.error, Alias::Error::VolumeMissing) << res.reason;
}

// --- volumes that come and go; these need the right to mount ---

class AliasVolumeTest : public AliasTest {
protected:
    std::unique_ptr<ScopedMount> mountTmpfs(const fs::path& at) {
        std::string why;
        auto m = ScopedMount::tmpfs(at, &why);
        if (!m) skipReason_ = "cannot mount here (" + why + "); the mount-table parsing is tested instead";
        return m;
    }
    std::string skipReason_;
};

TEST_F(AliasVolumeTest, AVolumeMountedElsewhereIsFoundThere) {
    auto first = mountTmpfs(root() / "usb");
    if (!first) GTEST_SKIP() << skipReason_;
    fs::create_directories(root() / "usb/DCIM/100");
    const auto data = recordOf(root() / "usb/DCIM");
    // Bring the same file system up at another place, then take the first away.
    std::string why;
    auto second = ScopedMount::bind(root() / "usb", root() / "media/photo station", &why);
    ASSERT_TRUE(second) << why;
    ASSERT_TRUE(first->unmount());

    auto res = Alias::resolve(data);
    ASSERT_TRUE(res.resolved) << res.reason;
    EXPECT_EQ(res.path, (root() / "media/photo station/DCIM").string());
    EXPECT_TRUE(res.changed);
}

TEST_F(AliasVolumeTest, AnUnmountedVolumeIsMissingThoughItsMountPointStays) {
    auto usb = mountTmpfs(root() / "usb");
    if (!usb) GTEST_SKIP() << skipReason_;
    fs::create_directories(root() / "usb/DCIM");
    const auto rootData = recordOf(root() / "usb");
    const auto folderData = recordOf(root() / "usb/DCIM");
    ASSERT_TRUE(usb->unmount());
    ASSERT_TRUE(fs::is_directory(root() / "usb")); // the empty mount point on the system disk

    EXPECT_EQ(Alias::compareVolume(rootData, (root() / "usb").string()), Alias::VolumeCheck::Different);
    auto res = Alias::resolve(rootData);
    EXPECT_FALSE(res.resolved) << res.path;
    EXPECT_EQ(res.error, Alias::Error::VolumeMissing) << res.reason;
    // A folder of the same name made on the system disk is not it either.
    fs::create_directory(root() / "usb/DCIM");
    res = Alias::resolve(folderData);
    EXPECT_FALSE(res.resolved) << res.path;
    EXPECT_EQ(res.error, Alias::Error::VolumeMissing) << res.reason;
}

TEST_F(AliasVolumeTest, TheSearchDoesNotWanderIntoOtherVolumes) {
    home_.makeFolder("top/photos");
    const auto data = recordOf(root() / "top/photos");
    auto other = mountTmpfs(root() / "top/mnt");
    if (!other) GTEST_SKIP() << skipReason_;
    for (int i = 0; i < 300; ++i) fs::create_directory(root() / "top/mnt" / std::to_string(i));
    fs::rename(root() / "top/photos", root() / "moved");
    // The folder is found within the bound only if the 300 entries of the
    // other volume are left out.
    auto res = Alias::resolve(data, {100, 32});
    ASSERT_TRUE(res.resolved) << res.reason;
    EXPECT_EQ(res.path, (root() / "moved").string());
}

// An ext4 volume that comes back through another device (a USB disk on
// another port): the device number changes, the file system's id does not.
TEST_F(AliasVolumeTest, ABlockVolumeBackOnAnotherDeviceIsFound) {
    std::string why;
    const auto image = root() / "volume.img";
    if (!LoopDevice::makeExt4Image(image, 8, &why)) GTEST_SKIP() << why;
    auto loopA = LoopDevice::attach(image, &why);
    auto loopB = loopA ? LoopDevice::attach(image, &why) : nullptr;
    if (!loopB) GTEST_SKIP() << why;
    auto first = ScopedMount::device(loopA->path(), "ext4", root() / "usb", &why);
    if (!first) GTEST_SKIP() << "cannot mount here (" << why << ")";
    fs::create_directories(root() / "usb/DCIM");
    const auto data = recordOf(root() / "usb/DCIM");
    ASSERT_TRUE(first->unmount());

    auto second = ScopedMount::device(loopB->path(), "ext4", root() / "media/usb", &why);
    ASSERT_TRUE(second) << why;
    auto res = Alias::resolve(data);
    ASSERT_TRUE(res.resolved) << res.reason;
    EXPECT_EQ(res.path, (root() / "media/usb/DCIM").string());
    ASSERT_TRUE(second->unmount());
}

} // namespace
