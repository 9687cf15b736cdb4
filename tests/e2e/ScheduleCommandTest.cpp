// --schedule, --unschedule and the schedule in --status, with the real
// application, its scripts and helper, and stand-ins for the user's
// scheduler: here the crontab, as on a machine without a user manager.

#include "platform/scheduler/ToolRun.h"
#include "support/AppProcess.h"
#include "support/FakeScheduler.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using testing_support::AppProcess;
using testing_support::FakeScheduler;
using testing_support::TempHome;
using namespace std::chrono_literals;

using testing_support::Finished;
using testing_support::runToEnd;

int taggedLines(const std::string& crontab, const std::string& timeFields) {
    int n = 0;
    std::istringstream in(crontab);
    for (std::string line; std::getline(in, line);)
        n += line.rfind(timeFields, 0) == 0 && line.find("-fromlaunchagent") != std::string::npos ? 1 : 0;
    return n;
}

TEST(ScheduleCommandTest, SchedulesAloneOrThroughTheRunningApplication) {
    TempHome home;
    FakeScheduler scheduler(home.path(), false);
    scheduler.setCrontab("MAILTO=me\n0 1 * * * /usr/bin/true # mine\n");

    const Finished malformed = runToEnd({"--schedule", "25:00"});
    EXPECT_EQ(malformed.status, 2);
    EXPECT_NE(malformed.output.find("HH:MM"), std::string::npos) << malformed.output;

    const Finished alone = runToEnd({"--schedule", "07:05"});
    EXPECT_EQ(alone.status, 0) << alone.output;
    EXPECT_NE(alone.output.find("archiving daily at 07:05"), std::string::npos) << alone.output;
    EXPECT_EQ(alone.output.find("No display"), std::string::npos) << "no application was started";
    EXPECT_EQ(taggedLines(scheduler.crontab(), "5 7 * * *"), 1) << scheduler.crontab();

    const Finished status = runToEnd({"--status"});
    EXPECT_NE(status.output.find("Daily schedule: 07:05, next run"), std::string::npos) << status.output;
    const Finished json = runToEnd({"--status", "--json"});
    EXPECT_NE(json.output.find("\"time\":\"07:05\""), std::string::npos) << json.output;

    AppProcess running(AppProcess::application());
    ASSERT_TRUE(running.waitForOutput("Inside AppDelegate => ibStopAllWatcher")) << running.output();
    const Finished moved = runToEnd({"--schedule", "21:30"});
    EXPECT_EQ(moved.status, 0) << moved.output;
    EXPECT_TRUE(running.waitForOutput("tempTimeObj")) << "the running application acted";
    EXPECT_EQ(taggedLines(scheduler.crontab(), "5 7 * * *"), 0) << scheduler.crontab();
    EXPECT_EQ(taggedLines(scheduler.crontab(), "30 21 * * *"), 1) << scheduler.crontab();

    const Finished removed = runToEnd({"--unschedule"});
    EXPECT_EQ(removed.status, 0) << removed.output;
    EXPECT_EQ(scheduler.crontab(), "MAILTO=me\n0 1 * * * /usr/bin/true # mine\n");
    EXPECT_NE(runToEnd({"--status"}).output.find("Daily schedule: none"), std::string::npos);
    EXPECT_EQ(runToEnd({"--quit"}).status, 0);
    EXPECT_EQ(running.waitForExit(20s), 0) << running.output();

    const Finished nothing = runToEnd({"--unschedule"});
    EXPECT_EQ(nothing.status, 0);
    EXPECT_NE(nothing.output.find("no daily schedule"), std::string::npos) << nothing.output;
}

// A schedule the user's scheduler does not hold is never shown as set: the
// command, --status and its JSON name the reason, and no agent file stays.
TEST(ScheduleCommandTest, AScheduleThatCannotRunIsShownAsNotInstalled) {
    struct Case {
        const char* name;
        bool crontab;
        const char* reason;
    };
    for (const Case& c : {Case{"no scheduler at all", false, "no systemd user manager runs and crontab is not installed"},
                          Case{"a crontab that refuses", true, "cannot install the crontab"}}) {
        SCOPED_TRACE(c.name);
        TempHome home;
        FakeScheduler scheduler(home.path(), false, c.crontab);
        if (!c.crontab && platform::ToolRun::available("crontab")) GTEST_SKIP() << "this machine has crontab";
        std::filesystem::create_directories(scheduler.crontabFile()); // unreadable as a table

        const Finished scheduled = runToEnd({"--schedule", "07:05"});
        EXPECT_EQ(scheduled.status, 1) << scheduled.output;
        EXPECT_NE(scheduled.output.find(c.reason), std::string::npos) << scheduled.output;
        EXPECT_FALSE(std::filesystem::exists(home.home() / "Library/LaunchAgents/com.orvane.tolv-archiver.agent.plist"));

        const Finished status = runToEnd({"--status"});
        EXPECT_NE(status.output.find(std::string("Daily schedule: 07:05, not installed: ") + c.reason), std::string::npos)
            << status.output;
        const Finished json = runToEnd({"--status", "--json"});
        EXPECT_NE(json.output.find("\"installed\":false"), std::string::npos) << json.output;
        EXPECT_NE(json.output.find("\"next\":null"), std::string::npos) << json.output;
    }
}

TEST(ScheduleCommandTest, AScheduleRemovedBehindTheApplicationsBackIsToldAtTheNextStart) {
    TempHome home;
    FakeScheduler scheduler(home.path(), false);
    ASSERT_EQ(runToEnd({"--schedule", "07:05"}).status, 0);
    scheduler.setCrontab("MAILTO=me\n"); // the line taken out by hand

    AppProcess started(AppProcess::application());
    ASSERT_TRUE(started.waitForOutput("Inside AppDelegate => ibStopAllWatcher")) << started.output();
    EXPECT_EQ(runToEnd({"--quit"}).status, 0);
    EXPECT_EQ(started.waitForExit(20s), 0) << started.output();

    const Finished status = runToEnd({"--status"});
    EXPECT_NE(status.output.find("Daily schedule: 07:05, not installed: no line in the crontab"), std::string::npos)
        << status.output;
}

} // namespace
