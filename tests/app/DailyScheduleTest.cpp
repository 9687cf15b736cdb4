// The daily schedule: the two sheets, the launch agent file that confirming
// a time installs through the bundle's scripts (with stand-ins for the
// user's scheduler on PATH), its refresh at launch, its failures, and the
// next run's moment.

#include "app/schedule/DailySchedule.h"
#include "app/schedule/LaunchAgentFile.h"
#include "support/FakeScheduler.h"
#include "support/MainWindowFixture.h"
#include "support/UnwritableFolder.h"

#include <QPushButton>
#include <QTimeEdit>

#include <gtest/gtest.h>

#include <ctime>
#include <fstream>

namespace fs = std::filesystem;
using platform::DateFormat;
using platform::Value;
using testing_support::FakeScheduler;
using testing_support::readFile;

namespace {

const std::vector<std::string> kScheduleKeys{"prefNextScheduledLaunchctlTime", "prefNextScheduledLaunchctlTimeDisplayString",
                                             "prefDailyScheduledTime2", "prefDidSetSchedule"};

platform::Date utc(int y, unsigned m, unsigned d, int hour, int minute, int second = 0) {
    using namespace std::chrono;
    return platform::Date(sys_days(year(y) / month(m) / day(d)) + hours(hour) + minutes(minute) + seconds(second));
}

// Runs the test in the given zone and restores the one before.
class ZoneScope {
public:
    explicit ZoneScope(const char* zone) {
        const char* old = std::getenv("TZ");
        had_ = old != nullptr;
        if (old) saved_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneScope() {
        if (had_) setenv("TZ", saved_.c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }

private:
    bool had_ = false;
    std::string saved_;
};

class DailyScheduleTest : public testing_support::MainWindowFixture {
protected:
    FakeScheduler scheduler{home.path(), true};

    fs::path agentFile() const { return home.home() / "Library/LaunchAgents/com.orvane.tolv-archiver.agent.plist"; }
    Value::Dictionary installed() const {
        auto value = Value::readPlistFile(agentFile());
        return value && value->dictionary() ? *value->dictionary() : Value::Dictionary{};
    }
    static Value timeOfDay(int hour, int minute) {
        return Value(DateFormat::localTimeOnDay(std::chrono::system_clock::now(), hour, minute));
    }
    // What a person does: opens the sheet, sets the time in its control and
    // presses its button.
    void setTimeThroughTheSheet(int hour, int minute, const char* button = "setButton") {
        delegate->changeScheduledTime();
        QWidget* sheet = delegate->ibSetTimeWindow();
        ASSERT_NE(sheet, nullptr);
        sheet->findChild<QTimeEdit*>("timeEdit")->setTime(QTime(hour, minute));
        sheet->findChild<QPushButton*>(button)->click();
    }
    void removeThroughTheSheet(const char* button = "removeButton") {
        delegate->ibRemoveScheduleTime();
        delegate->ibDisableTimeWindow()->findChild<QPushButton*>(button)->click();
    }
    std::map<std::string, Value> scheduleState() const {
        std::map<std::string, Value> state;
        for (const auto& key : kScheduleKeys) state[key] = prefs().objectForKey(key);
        state["file"] = Value(readFile(agentFile()));
        state["calls"] = Value(static_cast<std::int64_t>(scheduler.calls().size()));
        return state;
    }
};

// ---- the sheets ------------------------------------------------------------------------

TEST_F(DailyScheduleTest, ConfirmingATimeInstallsTheFileLoadsItOnceAndRemembersTheSchedule) {
    loadWindow();
    setTimeThroughTheSheet(7, 5);

    const auto agent = installed();
    ASSERT_FALSE(agent.empty()) << "no launch agent file at " << agentFile();
    const auto& calendar = *agent.at("StartCalendarInterval").dictionary();
    EXPECT_EQ(calendar.at("Hour"), Value(7));
    EXPECT_EQ(calendar.at("Minute"), Value(5));
    const Value::Array& arguments = *agent.at("ProgramArguments").array();
    ASSERT_EQ(arguments.size(), 4u);
    EXPECT_EQ(arguments[1], Value(platform::Bundle::main().bundlePath().string()));
    EXPECT_EQ(arguments[3], Value("-fromlaunchagent"));
    EXPECT_EQ(scheduler.count("systemctl --user enable"), 1);
    EXPECT_TRUE(prefs().boolForKey("prefDidSetSchedule"));
    EXPECT_EQ(prefs().objectForKey("prefLastSavedLaunchAgentContent"), Value(agent));
    EXPECT_EQ(DateFormat::localHour(*prefs().objectForKey("prefDailyScheduledTime2").date()), 7);
    // The window shows the new time's next run at once.
    const auto next = prefs().objectForKey("prefNextScheduledLaunchctlTime").date();
    ASSERT_TRUE(next);
    EXPECT_EQ(DateFormat::format(*next, "HH:mm"), "07:05");

    // Opening the sheet again shows the schedule; a new time rewrites and reloads.
    setTimeThroughTheSheet(21, 30);
    EXPECT_EQ(installed().at("StartCalendarInterval")["Hour"], Value(21));
    EXPECT_EQ(scheduler.count("systemctl --user enable"), 2);
}

TEST_F(DailyScheduleTest, CancellingEitherSheetChangesNothing) {
    loadWindow();
    setTimeThroughTheSheet(6, 45);
    const auto before = scheduleState();
    for (int code : {ModalUI::kSheetCancel, 1, 199, 201}) {
        SCOPED_TRACE(code);
        dialogs->answerNextSheet({code, [] { prefs().setObject("prefTempTime", timeOfDay(9, 9)); }});
        delegate->changeScheduledTime();
        dialogs->answerNextSheet({code, {}});
        delegate->ibRemoveScheduleTime();
        EXPECT_EQ(scheduleState(), before);
    }
    setTimeThroughTheSheet(8, 0, "cancelButton");
    removeThroughTheSheet("cancelButton");
    EXPECT_EQ(scheduleState(), before);
}

TEST_F(DailyScheduleTest, ConfirmingAnUntouchedSheetSchedulesTheTimeItShows) {
    loadWindow();
    delegate->changeScheduledTime();
    const QTime shown = delegate->ibSetTimeWindow()->findChild<QTimeEdit*>("timeEdit")->time();
    delegate->ibSetTimeWindow()->findChild<QPushButton*>("setButton")->click();
    ASSERT_FALSE(installed().empty());
    EXPECT_EQ(installed().at("StartCalendarInterval")["Hour"], Value(shown.hour()));
    EXPECT_EQ(installed().at("StartCalendarInterval")["Minute"], Value(shown.minute()));
}

TEST_F(DailyScheduleTest, RemovingUnloadsDeletesTheFileAndForgetsTheSchedule) {
    loadWindow();
    setTimeThroughTheSheet(7, 5);
    ASSERT_TRUE(fs::exists(agentFile()));
    removeThroughTheSheet();
    EXPECT_FALSE(fs::exists(agentFile()));
    EXPECT_EQ(scheduler.count("systemctl --user disable"), 1);
    for (const auto& key : kScheduleKeys) EXPECT_TRUE(prefs().objectForKey(key).isNone()) << key;
}

TEST_F(DailyScheduleTest, ALaunchWithoutAScheduleUnloadsAndDeletesALeftoverFile) {
    loadWindow();
    setTimeThroughTheSheet(7, 5);
    const fs::path timer = home.home() / ".config/systemd/user/com.orvane.tolv-archiver.agent.timer";
    ASSERT_TRUE(fs::exists(timer));
    window.reset();
    delegate.reset();
    // The schedule is forgotten (preferences reset by hand); its file is not.
    prefs().removeObjectForKey("prefDidSetSchedule");
    launch();
    EXPECT_FALSE(fs::exists(agentFile()));
    EXPECT_FALSE(fs::exists(timer));
    EXPECT_EQ(scheduler.count("systemctl --user disable"), 1);
}

// ---- the refresh at launch ----------------------------------------------------------------

TEST_F(DailyScheduleTest, AnInstalledFileIsRefreshedOnlyWhenItsLayoutIsOutOfDate) {
    struct Case {
        std::optional<std::string> mark;
        bool refreshed;
    };
    for (const Case& c : {Case{"2", false}, Case{"1", true}, Case{std::nullopt, true}}) {
        SCOPED_TRACE(c.mark.value_or("(none)"));
        Value::Dictionary old{{"Label", Value("com.orvane.tolv-archiver.agent")},
                              {"ProgramArguments", Value(Value::Array{Value("/old/program")})},
                              {"StartCalendarInterval", Value(Value::Dictionary{{"Hour", Value(6)}, {"Minute", Value(45)}})},
                              {"KeptKey", Value("mine")}};
        if (c.mark) old["TolvAgentPlistVersion"] = Value(*c.mark);
        fs::create_directories(agentFile().parent_path());
        ASSERT_TRUE(Value(old).writePlistFile(agentFile()));
        const std::string bytes = readFile(agentFile());
        const int loads = scheduler.count("systemctl --user enable");

        AppDelegate::updateLaunchAgentFileIfNeeded();

        EXPECT_EQ(scheduler.count("systemctl --user enable"), loads + (c.refreshed ? 1 : 0));
        if (!c.refreshed) {
            EXPECT_EQ(readFile(agentFile()), bytes);
            continue;
        }
        const auto now = installed();
        EXPECT_EQ(now.at("TolvAgentPlistVersion"), Value("2"));
        const Value::Array& program = *now.at("ProgramArguments").array();
        ASSERT_EQ(program.size(), 4u);
        EXPECT_EQ(program[0], Value("/usr/bin/open"));
        EXPECT_EQ(program[1], Value(platform::Bundle::main().bundlePath().string()));
        EXPECT_EQ(now.at("StartCalendarInterval"), old.at("StartCalendarInterval"));
        EXPECT_EQ(now.at("KeptKey"), Value("mine"));
    }
    // A damaged file is left as it is and nothing is loaded.
    const int loads = scheduler.count("systemctl --user enable");
    std::ofstream(agentFile()) << "<plist><dict><key>";
    AppDelegate::updateLaunchAgentFileIfNeeded();
    EXPECT_EQ(readFile(agentFile()), "<plist><dict><key>");
    EXPECT_EQ(scheduler.count("systemctl --user enable"), loads);
}

// ---- failures -----------------------------------------------------------------------------------

TEST_F(DailyScheduleTest, AnUnwritableAgentFolderGivesTheAlertsAndLoadsNothing) {
    loadWindow();
    const fs::path folder = agentFile().parent_path();
    fs::create_directories(folder);
    {
        testing_support::UnwritableFolder locked(folder);
        if (!locked.ok()) GTEST_SKIP() << "cannot make a folder unwritable here";
        setTimeThroughTheSheet(7, 5);
    }
    ASSERT_EQ(dialogs->alerts().size(), 1u);
    EXPECT_EQ(dialogs->alerts()[0].message, "Error!!");
    EXPECT_EQ(dialogs->alerts()[0].informativeText.rfind("Unable to Write to Path:\n", 0), 0u);
    EXPECT_FALSE(fs::exists(agentFile()));
    EXPECT_TRUE(prefs().objectForKey("prefLastSavedLaunchAgentContent").isNone());
    EXPECT_EQ(scheduler.count("systemctl --user enable"), 0);

    // An old file that cannot be removed: both alerts, and the old file stays.
    std::ofstream(agentFile()) << "old";
    {
        testing_support::UnwritableFolder locked(folder);
        setTimeThroughTheSheet(8, 0);
    }
    ASSERT_EQ(dialogs->alerts().size(), 3u);
    EXPECT_EQ(dialogs->alerts()[1].informativeText.rfind("Unable to removeItemAtPath at Path:\n", 0), 0u);
    EXPECT_EQ(dialogs->alerts()[2].informativeText.rfind("Unable to Write to Path:\n", 0), 0u);
    EXPECT_EQ(readFile(agentFile()), "old");
    EXPECT_EQ(scheduler.count("systemctl --user enable"), 0);
}

TEST_F(DailyScheduleTest, AJobTheSchedulerDoesNotTakeIsReported) {
    FakeScheduler refusing(home.path() / "refusing", false); // no user manager, and a crontab that fails
    fs::create_directories(refusing.crontabFile());
    loadWindow();
    setTimeThroughTheSheet(7, 5);
    ASSERT_EQ(dialogs->alerts().size(), 1u);
    EXPECT_EQ(dialogs->alerts()[0].message, "Error!!");
    EXPECT_EQ(dialogs->alerts()[0].informativeText.rfind("Unable to schedule the daily run:\n", 0), 0u);
    EXPECT_NE(dialogs->alerts()[0].informativeText.find("cannot install the crontab"), std::string::npos)
        << dialogs->alerts()[0].informativeText;
    EXPECT_FALSE(fs::exists(agentFile())) << "nothing looks installed";
    EXPECT_EQ(prefs().stringForKey("prefNextScheduledLaunchctlTimeDisplayString").value_or("").rfind("not installed: ", 0),
              0u);
}

TEST_F(DailyScheduleTest, ARefusedStagingNameStopsWithTheReason) {
    loadWindow();
    const fs::path staging = home.makeFolder("staging-taken"); // a folder where the file should go
    DailySchedule schedule({}, staging);
    EXPECT_FALSE(schedule.install(timeOfDay(7, 5)));
    ASSERT_EQ(dialogs->alerts().size(), 1u);
    EXPECT_EQ(dialogs->alerts()[0].message, "Error!!");
    EXPECT_NE(dialogs->alerts()[0].informativeText.find(staging.string()), std::string::npos);
    EXPECT_FALSE(fs::exists(agentFile()));
    EXPECT_EQ(scheduler.count("systemctl"), 0);
}

TEST_F(DailyScheduleTest, ALinkPlantedAtTheStagingNameIsReplacedNotFollowed) {
    const fs::path staging = DailySchedule::kStagingFile;
    std::error_code ec;
    fs::remove(staging, ec);
    if (ec || fs::exists(fs::symlink_status(staging))) GTEST_SKIP() << staging << " belongs to someone else";
    const fs::path victim = home.writeFile("victim.txt", "precious");
    fs::create_symlink(victim, staging);
    loadWindow();
    setTimeThroughTheSheet(7, 5);
    EXPECT_EQ(readFile(victim), "precious");
    EXPECT_FALSE(installed().empty());
    fs::remove(staging, ec);
}

// ---- the file itself ------------------------------------------------------------------------------

TEST(LaunchAgentFileTest, BuildsTheFileFromTheTemplate) {
    const Value::Array program{Value("/usr/bin/open"), Value("/Applications/Tolv-Archiver.app"), Value("--args"),
                               Value("-fromlaunchagent")};
    struct Case {
        const char* name;
        Value::Dictionary agentTemplate;
        std::optional<std::string> bundle;
        Value::Dictionary calendar;
        Value::Array arguments;
    };
    const std::vector<Case> cases{
        {"other calendar entries stay", {{"ProgramArguments", Value(program)},
                                         {"StartCalendarInterval", Value(Value::Dictionary{{"Weekday", Value(1)}})}},
         std::nullopt, {{"Hour", Value(7)}, {"Minute", Value(5)}, {"Weekday", Value(1)}}, program},
        {"no calendar in the template", {{"ProgramArguments", Value(program)}}, std::nullopt,
         {{"Hour", Value(7)}, {"Minute", Value(5)}}, program},
        {"the bundle's path replaces item 1", {{"ProgramArguments", Value(program)}}, "/opt/T.app",
         {{"Hour", Value(7)}, {"Minute", Value(5)}},
         {Value("/usr/bin/open"), Value("/opt/T.app"), Value("--args"), Value("-fromlaunchagent")}},
        {"a one-item list gets the bundle as item 1", {{"ProgramArguments", Value(Value::Array{Value("/bin/x")})}},
         "/opt/T.app", {{"Hour", Value(7)}, {"Minute", Value(5)}}, {Value("/bin/x"), Value("/opt/T.app")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto agent = LaunchAgentFile::build(Value(c.agentTemplate), 7, 5, c.bundle);
        EXPECT_EQ(agent["StartCalendarInterval"], Value(c.calendar));
        EXPECT_EQ(agent["ProgramArguments"], Value(c.arguments));
    }
    // No template at all, or none of its arguments: still a calendar, nothing made up.
    auto bare = LaunchAgentFile::build(Value(), 23, 59, "/opt/T.app");
    EXPECT_EQ(bare.size(), 1u);
    EXPECT_EQ(bare["StartCalendarInterval"], Value(Value::Dictionary{{"Hour", Value(23)}, {"Minute", Value(59)}}));

    EXPECT_EQ(LaunchAgentFile::fileName("Com.Orvane.Tolv-Archiver"), "com.orvane.tolv-archiver.agent.plist");
}

TEST(LaunchAgentFileTest, TheBundlesAgentFileIsTheFactoryTemplate) {
    setenv("TOLV_BUNDLE_PATH", TOLV_TEST_BUNDLE_PATH, 0);
    const auto& bundle = platform::Bundle::main();
    auto defaults = Value::readPlistFile(bundle.resourcePath() / "FactoryDefault.plist");
    auto copy = Value::readPlistFile(bundle.resourcePath() / "com.orvane.tolv-archiver.agent.plist");
    ASSERT_TRUE(defaults && copy);
    EXPECT_EQ((*defaults)["prefLaunchAgentContent"], *copy);
    EXPECT_TRUE(LaunchAgentFile::isCurrent(*copy->dictionary()));
}

// ---- the next run ----------------------------------------------------------------------------------

TEST(NextRunTest, TodayAtTheTimeUntilItHasComeThenExactlyADayLater) {
    testing_support::TempHome home;
    ZoneScope berlin("Europe/Berlin");
    struct Case {
        const char* name;
        platform::Date now;
        platform::Date expected;
    };
    constexpr auto kDay = std::chrono::seconds(86400);
    const std::vector<Case> cases{
        {"before the time", utc(2026, 6, 10, 19, 0), utc(2026, 6, 10, 19, 30)},
        {"at the time", utc(2026, 6, 10, 19, 30), utc(2026, 6, 10, 19, 30) + kDay},
        {"after the time", utc(2026, 6, 10, 20, 0), utc(2026, 6, 10, 19, 30) + kDay},
        // The day before the clocks change: a day later, not the same wall-clock time.
        {"into summer time", utc(2026, 3, 28, 21, 0), utc(2026, 3, 28, 20, 30) + kDay},
        {"into winter time", utc(2026, 10, 24, 20, 0), utc(2026, 10, 24, 19, 30) + kDay},
    };
    auto& prefs = platform::UserDefaults::standard();
    DailySchedule schedule;
    schedule.computeNextRun(utc(2026, 6, 10, 19, 0));
    EXPECT_TRUE(prefs.objectForKey("prefNextScheduledLaunchctlTime").isNone()) << "no schedule, nothing computed";
    prefs.setObject("prefDailyScheduledTime2", Value(utc(2020, 1, 1, 20, 30))); // 21:30 in Berlin in winter
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        schedule.computeNextRun(c.now);
        EXPECT_EQ(prefs.objectForKey("prefNextScheduledLaunchctlTime").date(), c.expected);
        EXPECT_EQ(prefs.stringForKey("prefNextScheduledLaunchctlTimeDisplayString"), DateFormat::describe(c.expected));
    }
}

TEST(NextRunTest, TimesOfDayAreReadStrictly) {
    testing_support::TempHome home;
    for (auto [text, shown] : {std::pair{"07:05", "07:05"}, {"7:05", "07:05"}, {"00:00", "00:00"}, {"23:59", "23:59"}}) {
        auto date = DailySchedule::parseTimeOfDay(text);
        ASSERT_TRUE(date) << text;
        EXPECT_EQ(DateFormat::format(*date, "HH:mm"), shown);
    }
    for (const char* bad : {"", "7", "24:00", "12:60", "12:5", "-1:00", "12:00:00", " 12:00", "12.00", "ab:cd"})
        EXPECT_FALSE(DailySchedule::parseTimeOfDay(bad)) << bad;
}

} // namespace
