// A destination that keeps coarser times than it is given (a FAT card,
// here the FUSE FAT file system on a loop device): the copy tools are told
// to take times a second apart as equal, and so are the pass's counts, or
// every pass would copy every photo again and count it.
#include "platform/desktop/FileSystemTimes.h"
#include "support/LoopDevice.h"
#include "support/ScopedMount.h"
#include "support/TempHome.h"
#include "engines/FileStamp.h"
#include "engines/SynchronizationPolicy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

bool hasWindow(const std::vector<std::string>& arguments) {
    return std::find(arguments.begin(), arguments.end(), "--modify-window=1") != arguments.end();
}

} // namespace

TEST(CoarseTimesTest, OnlyADiskThatLosesTimeGetsAWindow) {
    testing_support::TempHome home;
    std::string why;
    if (!testing_support::LoopDevice::makeImage(home.path() / "card.img", 32, "vfat", &why)) GTEST_SKIP() << why;
    auto card = testing_support::LoopDevice::attach(home.path() / "card.img", &why);
    if (!card) GTEST_SKIP() << why;
    auto mounted = testing_support::ScopedMount::byProgram("fusefat -o rw+", card->path(), home.path() / "card", &why);
    if (!mounted) GTEST_SKIP() << why;
    const struct {
        fs::path folder;
        bool exact;
    } cases[] = {
        {home.makeFolder("Backup"), true},
        {home.path() / "card", false},
        {home.path() / "card/Main", false}, // a first pass: the folder it will be made in tells
        {"/nowhere/at/all", true},          // no probe: nothing changes
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder.string());
        EXPECT_EQ(platform::keepsExactTimes(c.folder.string()), c.exact);
        EXPECT_EQ(hasWindow(SynchronizationPolicy::copyOptions(c.folder.string(), {})), !c.exact);
        EXPECT_EQ(hasWindow(SynchronizationPolicy::perFileAction(c.folder.string(), 30, {})), !c.exact);
    }
    EXPECT_TRUE(fs::is_empty(home.path() / "card")) << "the probe is removed again";
}

TEST(CoarseTimesTest, TheCountsTakeTimesWithinTheWindowAsEqual) {
    testing_support::TempHome home;
    const fs::path a = home.writeFile("a", "same"), b = home.writeFile("b", "same");
    // A whole second and a little, so none of the distances crosses into the next second by chance.
    const auto base = std::chrono::floor<std::chrono::seconds>(fs::last_write_time(a)) + std::chrono::milliseconds(100);
    fs::last_write_time(a, base);
    for (const auto& [apart, withinOne, withinNone] : {std::tuple{std::chrono::milliseconds(400), true, true},
                                                       std::tuple{std::chrono::milliseconds(1000), true, false},
                                                       std::tuple{std::chrono::milliseconds(2000), false, false}}) {
        fs::last_write_time(b, base + apart);
        EXPECT_EQ(FileStamp::of(a.string())->matches(*FileStamp::of(b.string()), 1), withinOne) << apart.count();
        EXPECT_EQ(FileStamp::of(a.string())->matches(*FileStamp::of(b.string())), withinNone) << apart.count();
    }
}
