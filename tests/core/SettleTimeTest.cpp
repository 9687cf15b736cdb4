#include "core/SettleTime.h"
#include "engines/SynchronizationPolicy.h"
#include "platform/runtime/Task.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

namespace fs = std::filesystem;
using testing_support::TempHome;
using Clock = SettleTime::Clock;
using namespace std::chrono_literals;

namespace {

void setModified(const fs::path& p, Clock::time_point when) {
    fs::last_write_time(p, std::chrono::file_clock::from_sys(when));
}

Clock::time_point yearsAhead(int years) { return Clock::now() + std::chrono::years(years); }

// What the copy run's walk selects, by its own clock.
std::set<std::string> walked(const fs::path& folder, unsigned minutes) {
    const auto run = platform::Task::runCapturingOutput(
        {.path = "/usr/bin/bfs", .arguments = SynchronizationPolicy::walkArguments(minutes), .workingDirectory = folder});
    std::set<std::string> names;
    const std::string& out = run.standardOutput;
    for (std::size_t at = 0, end; (end = out.find('\0', at)) != std::string::npos; at = end + 1)
        names.insert(fs::path(out.substr(at, end - at)).filename().string());
    return names;
}

} // namespace

TEST(SettleTimeTest, YoungestUnsettledFileDecidesTheMoment) {
    TempHome tmp;
    auto now = Clock::now();
    auto a = tmp.writeFile("src/a.jpg", "a");
    auto b = tmp.writeFile("src/deep/er/b.jpg", "b");
    auto old = tmp.writeFile("src/old.jpg", "o");
    setModified(a, now - 100s);
    setModified(b, now - 30s);
    setModified(old, now - 6min);

    const auto young = SettleTime::youngFiles(tmp.path() / "src", 5, now);
    ASSERT_TRUE(young.settleMoment);
    EXPECT_EQ(young.count, 2);
    // The copy run takes a file once it is a sixth whole minute old.
    auto expected = now - 30s + 6min;
    EXPECT_GE(*young.settleMoment, expected);
    EXPECT_LE(*young.settleMoment, expected + 2s);
    ASSERT_TRUE(young.oldest);
    EXPECT_LE(*young.oldest, now - 99s);
}

TEST(SettleTimeTest, NothingToWaitFor) {
    TempHome tmp;
    auto now = Clock::now();
    auto old = tmp.writeFile("src/old.jpg", "o");
    setModified(old, now - 30min);
    tmp.makeFolder("src/fresh-folder");
    fs::create_symlink("/etc/hostname", tmp.path() / "src/link");
    EXPECT_FALSE(SettleTime::youngFiles(tmp.path() / "src", 20, now).settleMoment);
    // With no age test every file is copied at once.
    tmp.writeFile("src/new.jpg", "n");
    EXPECT_FALSE(SettleTime::youngFiles(tmp.path() / "src", 0, now).settleMoment);
    EXPECT_FALSE(SettleTime::youngFiles(tmp.path() / "missing", 20, now).settleMoment);
}

// A camera whose clock runs ahead dates its photos in the future; they are
// judged by when this machine changed them, so they settle like any other
// photo. The copy run's walk, which selects by modification time, leaves
// them; the pass's own look hands them over by name.
TEST(SettleTimeTest, APhotoDatedInTheFutureSettlesByWhatThisMachineSaw) {
    struct Case {
        const char* name;
        std::optional<Clock::time_point> modified; // none: written now
        bool walked;                               // selected by the walk with a settle time of 1 minute
        bool future;
    };
    const Clock::time_point in2040 = Clock::from_time_t(2218524800); // 2040-04-20
    const std::vector<Case> cases{
        {"written-now.jpg", std::nullopt, false, false},
        {"ten-minutes-old.jpg", Clock::now() - 10min, true, false},
        {"seconds-ahead.jpg", Clock::now() + 20s, false, false}, // a share's clock drifts
        {"month-ahead.jpg", Clock::now() + std::chrono::days(30), false, true},
        {"five-years-ahead.jpg", yearsAhead(5), false, true},
        {"in-2040.jpg", in2040, false, true},
        {"from-1979.jpg", Clock::from_time_t(300000000), true, false},
        {"from-1960.jpg", Clock::from_time_t(-300000000), true, false},
    };
    TempHome tmp;
    const fs::path src = tmp.makeFolder("src");
    for (const Case& c : cases) {
        const fs::path file = tmp.writeFile("src/" + std::string(c.name), c.name);
        if (c.modified) setModified(file, *c.modified);
    }
    const auto now = Clock::now();
    const auto later = now + 2min + 1s;
    const auto taken = walked(src, 1);
    const auto young = SettleTime::youngFiles(src, 1, now);
    const auto settled = SettleTime::youngFiles(src, 1, later);
    std::set<std::string> byChange;
    for (const auto& path : settled.settledByChange) byChange.insert(fs::path(path).filename().string());
    long future = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto times = SettleTime::ofFile(src / c.name);
        ASSERT_TRUE(times);
        EXPECT_EQ(taken.count(c.name) == 1, c.walked);
        EXPECT_EQ(SettleTime::isYoung(*times, 1, now), !c.walked);
        EXPECT_EQ(SettleTime::isDatedInTheFuture(*times, now), c.future);
        future += c.future;
        // Two minutes on, everything this machine wrote has settled; what
        // the walk leaves is handed over by name.
        if (c.future) {
            EXPECT_FALSE(SettleTime::isYoung(*times, 1, later));
        }
        EXPECT_EQ(byChange.count(c.name), c.future ? 1u : 0u);
        EXPECT_LE(SettleTime::waitingSince(*times, now), now);
    }
    EXPECT_EQ(young.futureDated, future);
    EXPECT_TRUE(young.settledByChange.empty()) << "nothing dated ahead has settled yet";

}
