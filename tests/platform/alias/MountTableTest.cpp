#include "platform/alias/MountTable.h"

#include <gtest/gtest.h>

#include <sys/sysmacros.h>

using platform::MountTable;

namespace {

const char* kSample =
    "22 27 0:21 / /proc rw,relatime - proc proc rw\n"
    "27 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw,discard\n"
    "60 27 8:17 / /media/photo\\040station rw,nosuid shared:40 master:3 - vfat /dev/sdb1 rw\n"
    "61 27 8:17 /DCIM /srv/dcim rw - vfat /dev/sdb1 rw\n"
    "62 27 0:40 / /media/photo\\040station/cache rw - tmpfs none rw\n";

TEST(MountTableTest, ReadsFieldsOptionalTagsAndEscapes) {
    auto table = MountTable::parse(kSample);
    ASSERT_EQ(table.entries().size(), 5u);
    const auto& usb = table.entries()[2];
    EXPECT_EQ(usb.device, makedev(8, 17));
    EXPECT_EQ(usb.mountPoint, "/media/photo station");
    EXPECT_EQ(usb.root, "/");
    EXPECT_EQ(usb.fsType, "vfat");
    EXPECT_EQ(usb.source, "/dev/sdb1");
    EXPECT_EQ(table.entries()[3].root, "/DCIM");
}

TEST(MountTableTest, SkipsLinesThatDoNotParse) {
    auto table = MountTable::parse(
        "\n"
        "garbage\n"
        "1 2 8:1 / /a rw ext4 /dev/sda1 rw\n"          // no separator
        "1 2 8:x / /a rw - ext4 /dev/sda1 rw\n"        // bad device
        "1 2 81 / /a rw - ext4 /dev/sda1 rw\n"         // device without colon
        "1 2 8:1 relative /a rw - ext4 /dev/sda1 rw\n" // root not absolute
        "1 2 8:1 / /a rw -\n"                          // nothing after separator
        "1 2 8:1 / /ok\\04 rw - ext4 /dev/sda1 rw"     // short escape kept as is, no newline at end
    );
    ASSERT_EQ(table.entries().size(), 1u);
    EXPECT_EQ(table.entries()[0].mountPoint, "/ok\\04");
    EXPECT_TRUE(MountTable::parse("").entries().empty());
}

TEST(MountTableTest, MountOfPrefersTheDeepestMountOfTheSameDevice) {
    auto table = MountTable::parse(kSample);
    EXPECT_EQ(table.mountOf("/media/photo station/DCIM/100", makedev(8, 17))->mountPoint, "/media/photo station");
    EXPECT_EQ(table.mountOf("/media/photo station/cache/x", makedev(0, 40))->mountPoint,
              "/media/photo station/cache");
    // A name that merely starts like a mount point is not below it.
    EXPECT_EQ(table.mountOf("/media/photo stationery", makedev(254, 0))->mountPoint, "/");
    // A device no entry names (btrfs subvolumes) falls back to the deepest prefix.
    EXPECT_EQ(table.mountOf("/media/photo station/x", makedev(0, 99))->mountPoint, "/media/photo station");
    EXPECT_FALSE(MountTable::parse("").mountOf("/x", 1).has_value());
}

TEST(MountTableTest, TheLaterOfTwoMountsAtOnePlaceWins) {
    auto table = MountTable::parse("1 0 8:1 / /mnt rw - ext4 a rw\n"
                                   "2 1 8:1 /sub /mnt rw - ext4 a rw\n");
    EXPECT_EQ(table.mountOf("/mnt/f", makedev(8, 1))->root, "/sub");
}

TEST(MountTableTest, RelativeBelowAndJoin) {
    EXPECT_EQ(MountTable::relativeBelow("/a/b/c", "/a"), "b/c");
    EXPECT_EQ(MountTable::relativeBelow("/a/b/c", "/a/"), "b/c");
    EXPECT_EQ(MountTable::relativeBelow("/a", "/a"), "");
    EXPECT_EQ(MountTable::relativeBelow("/a/b", "/"), "a/b");
    EXPECT_EQ(MountTable::relativeBelow("/", "/"), "");
    EXPECT_FALSE(MountTable::relativeBelow("/ab", "/a"));
    EXPECT_FALSE(MountTable::relativeBelow("/a", "/a/b"));
    EXPECT_FALSE(MountTable::relativeBelow("relative", "/"));
    EXPECT_FALSE(MountTable::relativeBelow("/a", ""));
    EXPECT_EQ(MountTable::join("/", "a"), "/a");
    EXPECT_EQ(MountTable::join("/m", "a/b"), "/m/a/b");
    EXPECT_EQ(MountTable::join("/m", ""), "/m");
}

TEST(MountTableTest, TheRunningSystemHasARoot) {
    auto table = MountTable::current();
    ASSERT_FALSE(table.entries().empty()) << "no /proc/self/mountinfo";
    auto root = table.mountOf("/", 0);
    ASSERT_TRUE(root);
    EXPECT_EQ(root->mountPoint, "/");
}

} // namespace
