#include "tools/SettleTime.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using testing_support::TempHome;
using Clock = SettleTime::Clock;

namespace {

void setModified(const fs::path& p, Clock::time_point when) {
    fs::last_write_time(p, std::chrono::file_clock::from_sys(when));
}

} // namespace

TEST(SettleTimeTest, YoungestUnsettledFileDecidesTheMoment) {
    TempHome tmp;
    auto now = Clock::now();
    auto a = tmp.writeFile("src/a.jpg", "a");
    auto b = tmp.writeFile("src/deep/er/b.jpg", "b");
    auto old = tmp.writeFile("src/old.jpg", "o");
    setModified(a, now - std::chrono::seconds(100));
    setModified(b, now - std::chrono::seconds(30));
    setModified(old, now - std::chrono::minutes(6));

    auto moment = SettleTime::nextSettleMoment(tmp.path() / "src", 5, now);
    ASSERT_TRUE(moment);
    // The copy run takes a file once it is a sixth whole minute old.
    auto expected = now - std::chrono::seconds(30) + std::chrono::minutes(6);
    EXPECT_GE(*moment, expected);
    EXPECT_LE(*moment, expected + std::chrono::seconds(2));
}

TEST(SettleTimeTest, NothingToWaitFor) {
    TempHome tmp;
    auto now = Clock::now();
    auto old = tmp.writeFile("src/old.jpg", "o");
    setModified(old, now - std::chrono::minutes(30));
    EXPECT_FALSE(SettleTime::nextSettleMoment(tmp.path() / "src", 20, now));
    // With no age test every file is copied at once.
    tmp.writeFile("src/new.jpg", "n");
    EXPECT_FALSE(SettleTime::nextSettleMoment(tmp.path() / "src", 0, now));
    EXPECT_FALSE(SettleTime::nextSettleMoment(tmp.path() / "missing", 20, now));
}

TEST(SettleTimeTest, FoldersAndLinksDoNotCount) {
    TempHome tmp;
    auto now = Clock::now();
    tmp.makeFolder("src/fresh-folder");
    fs::create_symlink("/etc/hostname", tmp.path() / "src/link");
    EXPECT_FALSE(SettleTime::nextSettleMoment(tmp.path() / "src", 20, now));
}
