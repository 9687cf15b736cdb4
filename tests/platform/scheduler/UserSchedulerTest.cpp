// The scheduler with real job files, unit files and a fake application
// bundle in a temporary home; systemctl and crontab are the recording
// stand-ins of support/FakeScheduler.

#include "platform/scheduler/UserScheduler.h"
#include "platform/scheduler/CrontabJob.h"
#include "platform/preferences/Value.h"
#include "platform/runtime/Task.h"
#include "support/FakeScheduler.h"
#include "support/TempHome.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using platform::UserScheduler;
using platform::Value;
using testing_support::FakeScheduler;
using testing_support::readFile;
using testing_support::TempHome;

namespace {

const std::string kLabel = "com.orvane.tolv-archiver.agent";
const std::string kHeader = "# Made by launchagent from a launchd job description: unload the job to remove it.\n";

// The arguments after "--args", as awkward as shells and unit files meet.
const std::vector<std::string> kAwkwardArguments = {
    "-fromlaunchagent", "two words", "it's \"quoted\"", "50% of $HOME", "Ünïcödé ✓", "back\\slash\\%", "",
};

Value::Dictionary description(const std::vector<std::string>& arguments, int hour = 7, int minute = 5,
                              const std::string& label = kLabel) {
    return {{"Label", label},
            {"ProgramArguments", Value::Array(arguments.begin(), arguments.end())},
            {"StartCalendarInterval", Value::Dictionary{{"Hour", hour}, {"Minute", minute}}},
            {"TolvAgentPlistVersion", "2"}};
}

std::vector<std::string> systemctlCalls(const FakeScheduler& fake) {
    std::vector<std::string> calls;
    for (const auto& call : fake.calls())
        if (call.starts_with("systemctl ")) calls.push_back(call.substr(std::string("systemctl --user ").size()));
    return calls;
}

// What cron hands to /bin/sh: the line after the five time fields, up to
// the first bare %, with "\%" read as %.
std::string cronCommand(const std::string& line) {
    size_t at = 0;
    for (int field = 0; field < 5; ++field)
        at = line.find(' ', at) + 1;
    std::string out;
    bool escaped = false;
    for (char c : line.substr(at)) {
        if (escaped && c == '%')
            out.back() = '%';
        else if (!escaped && c == '%')
            break;
        else
            out += c;
        escaped = !escaped && c == '\\';
    }
    return out;
}

class UserSchedulerTest : public ::testing::Test {
protected:
    TempHome tmp;

    fs::path unitFolder() const { return tmp.home() / ".config/systemd/user"; }
    std::set<std::string> unitFiles() const {
        std::set<std::string> names;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(unitFolder(), ec))
            names.insert(e.path().filename().string());
        return names;
    }
    fs::path writeJob(const Value& job) const {
        const fs::path file = tmp.home() / "Library/LaunchAgents" / (kLabel + ".plist");
        fs::create_directories(file.parent_path());
        EXPECT_TRUE(job.writePlistFile(file));
        return file;
    }
    // A bundle with a blank and a non-ASCII letter in its name, whose
    // program prints each argument in brackets on a line of its own.
    fs::path makeBundle() const {
        const std::string contents = "home/Applications/Tolv Ärchiver.app/Contents/";
        tmp.writeFile(contents + "Info.plist", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">"
                                               "<dict><key>CFBundleExecutable</key><string>Tolv Ärchiver</string>"
                                               "</dict></plist>\n");
        fs::permissions(tmp.writeFile(contents + "MacOS/Tolv Ärchiver",
                                      "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]\\n' \"$a\"; done\n"),
                        fs::perms::owner_all);
        return tmp.home() / "Applications/Tolv Ärchiver.app";
    }
    fs::path openJob(const fs::path& bundle) const {
        std::vector<std::string> items{"/usr/bin/open", bundle.string(), "--args"};
        items.insert(items.end(), kAwkwardArguments.begin(), kAwkwardArguments.end());
        return writeJob(description(items));
    }
};

} // namespace

TEST_F(UserSchedulerTest, SystemdUnitsRunTheOpenedBundlesProgramWithEveryArgumentIntact) {
    FakeScheduler fake(tmp.path(), true);
    const fs::path elsewhere = tmp.makeFolder("elsewhere");
    setenv("XDG_CONFIG_HOME", elsewhere.c_str(), 1);
    const fs::path bundle = makeBundle();

    auto outcome = UserScheduler::load(openJob(bundle));
    ASSERT_TRUE(outcome.succeeded) << outcome.message;
    const fs::path units = elsewhere / "systemd/user";
    EXPECT_EQ(
        readFile(units / (kLabel + ".service")),
        kHeader + "[Unit]\nDescription=" + kLabel + "\n\n[Service]\nType=oneshot\nExecStart=\"" +
            (bundle / "Contents/MacOS/Tolv Ärchiver").string() + "\" " +
            R"("-fromlaunchagent" "two words" "it's \"quoted\"" "50%% of $$HOME" "Ünïcödé ✓" "back\\slash\\%%" "")" +
            "\nKillMode=process\n");
    EXPECT_EQ(readFile(units / (kLabel + ".timer")),
              kHeader + "[Unit]\nDescription=Daily run of " + kLabel + " at 07:05\n\n" +
                  "[Timer]\nOnCalendar=*-*-* 07:05:00\nPersistent=true\n\n[Install]\nWantedBy=timers.target\n");
    EXPECT_FALSE(fs::exists(unitFolder())) << "XDG_CONFIG_HOME was not followed";

    // Through a launcher, the job only starts the application and ends.
    ASSERT_TRUE(UserScheduler::load(openJob(bundle), "/opt/T.app/Contents/MacOS/launchagent").succeeded);
    EXPECT_NE(readFile(units / (kLabel + ".service"))
                  .find("\nExecStart=\"/opt/T.app/Contents/MacOS/launchagent\" \"start\" \"" +
                        (bundle / "Contents/MacOS/Tolv Ärchiver").string() + "\" \"-fromlaunchagent\" \"two words\""),
              std::string::npos)
        << readFile(units / (kLabel + ".service"));
}

TEST_F(UserSchedulerTest, TheCrontabLineRunsTheOpenedBundlesProgramWithEveryArgumentIntact) {
    FakeScheduler fake(tmp.path(), false);
    const fs::path bundle = makeBundle();

    // No cron daemon runs here: the load says the line waits for one, and
    // stops saying so once one runs (a program named as the daemon is).
    const std::string loaded = "loaded " + kLabel + ": crontab line at 07:05";
    auto outcome = UserScheduler::load(openJob(bundle));
    ASSERT_TRUE(outcome.succeeded) << outcome.message;
    ASSERT_FALSE(platform::CrontabJob::daemonRunning()) << "a cron daemon runs on this machine";
    EXPECT_EQ(outcome.message, loaded + "; " + UserScheduler::kNoCronDaemon);
    {
        const fs::path cron = tmp.path() / "cron";
        fs::copy_file("/bin/sleep", cron);
        std::atomic<bool> ended{false};
        const pid_t daemon = platform::Task::launch({cron.string(), {"30"}, std::nullopt, -1, -1, -1},
                                                    [&](const auto&) { ended = true; });
        ASSERT_GT(daemon, 0);
        EXPECT_TRUE(testing_support::waitUntil([] { return platform::CrontabJob::daemonRunning(); }));
        EXPECT_EQ(UserScheduler::load(openJob(bundle)).message, loaded);
        ::kill(daemon, SIGTERM);
        EXPECT_TRUE(testing_support::waitUntil([&] { return ended.load(); }));
    }
    const std::string line = "5 7 * * * '" + (bundle / "Contents/MacOS/Tolv Ärchiver").string() + "' " +
                             R"('-fromlaunchagent' 'two words' 'it'\''s "quoted"' '50'\%' of $HOME' 'Ünïcödé ✓' )" +
                             R"('back\slash\'\% '' # tolv-launch-agent )" + kLabel;
    ASSERT_EQ(fake.crontab(), line + "\n");

    auto run = platform::Task::runCapturingOutput({"/bin/sh", {"-c", cronCommand(line)}, std::nullopt, -1, -1});
    std::string expected;
    for (const auto& a : kAwkwardArguments)
        expected += "[" + a + "]\n";
    EXPECT_EQ(run.standardOutput, expected);
}

TEST_F(UserSchedulerTest, LoadingAgainReplacesTheTimerAndUnloadingRemovesIt) {
    FakeScheduler fake(tmp.path(), true);
    // Left from a load while no user manager ran: it would run the job twice.
    fake.setCrontab("MAILTO=me\n5 7 * * * '/bin/echo' # tolv-launch-agent " + kLabel + "\n");
    const fs::path file = writeJob(description({"/bin/echo", "first"}));
    const std::string timer = kLabel + ".timer";

    auto outcome = UserScheduler::load(file);
    EXPECT_EQ(outcome.message, "loaded " + kLabel + ": systemd timer at 07:05");
    EXPECT_EQ(fake.crontab(), "MAILTO=me\n");
    writeJob(description({"/bin/echo", "second"}, 21, 30));
    ASSERT_TRUE(UserScheduler::load(file).succeeded);
    EXPECT_EQ(unitFiles(), (std::set<std::string>{kLabel + ".service", timer}));
    EXPECT_NE(readFile(unitFolder() / (kLabel + ".service")).find("ExecStart=\"/bin/echo\" \"second\"\n"),
              std::string::npos);
    EXPECT_NE(readFile(unitFolder() / timer).find("OnCalendar=*-*-* 21:30:00\n"), std::string::npos);

    outcome = UserScheduler::unload(file);
    EXPECT_EQ(outcome.message, "unloaded " + kLabel + ": systemd timer removed");
    EXPECT_TRUE(unitFiles().empty());
    EXPECT_EQ(UserScheduler::unload(file).message, kLabel + " was not loaded: nothing to unload");
    EXPECT_EQ(
        systemctlCalls(fake),
        (std::vector<std::string>{"show-environment", "daemon-reload", "enable --now " + timer, "show-environment",
                                  "daemon-reload", "enable --now " + timer, "restart " + timer, "show-environment",
                                  "disable --now " + timer, "daemon-reload"}));
}

TEST_F(UserSchedulerTest, TheCrontabKeepsOneTaggedLineAndEveryOtherLineByteForByte) {
    FakeScheduler fake(tmp.path(), false);
    const std::string others = "# m h dom mon dow command\nMAILTO=\"me@example.org\"\n\n  \t\n"
                               "0 * * * * /usr/bin/backup --all % 2>&1 # nightly\n"
                               "30 6 * * * '/bin/true' # tolv-launch-agent other." +
                               kLabel +
                               "\n"
                               "@reboot /bin/true"; // no newline at the end
    fake.setCrontab(others);
    const fs::path file = writeJob(description({"/bin/echo", "hi"}));
    const std::string tag = " # tolv-launch-agent " + kLabel + "\n";

    ASSERT_TRUE(UserScheduler::load(file).succeeded);
    EXPECT_EQ(fake.crontab(), others + "\n5 7 * * * '/bin/echo' 'hi'" + tag);
    writeJob(description({"/bin/echo", "again"}, 21, 30));
    ASSERT_TRUE(UserScheduler::load(file).succeeded);
    EXPECT_EQ(fake.crontab(), others + "\n30 21 * * * '/bin/echo' 'again'" + tag);
    EXPECT_EQ(UserScheduler::unload(file).message, "unloaded " + kLabel + ": crontab line removed");
    EXPECT_EQ(fake.crontab(), others + "\n");

    const int installs = fake.count("crontab /");
    EXPECT_TRUE(UserScheduler::unload(file).succeeded);
    EXPECT_EQ(fake.count("crontab /"), installs) << "a crontab without the job was rewritten";
}

TEST_F(UserSchedulerTest, UnloadFindsTheJobByTheFileNameAndRemovesItEverywhere) {
    const fs::path file = writeJob(description({"/bin/echo"}));
    const fs::path wants = unitFolder() / "timers.target.wants" / (kLabel + ".timer");
    {
        FakeScheduler fake(tmp.path() / "with-manager", true);
        ASSERT_TRUE(UserScheduler::load(file).succeeded);
        fake.setCrontab("1 2 * * * '/bin/true' # tolv-launch-agent " + kLabel + "\n");
        fs::remove(file);
        EXPECT_EQ(UserScheduler::unload(file).message,
                  "unloaded " + kLabel + ": systemd timer and crontab line removed");
        // Ours was its only line: the crontab goes, as there was none before.
        EXPECT_EQ(fake.count("crontab -r"), 1);
        EXPECT_EQ(fake.crontab(), "");

        ASSERT_TRUE(UserScheduler::load(writeJob(description({"/bin/echo"}))).succeeded);
        // What "systemctl enable" makes, which the stand-in does not.
        fs::create_directories(wants.parent_path());
        fs::create_symlink(unitFolder() / (kLabel + ".timer"), wants);
    }
    FakeScheduler fake(tmp.path() / "without-manager", false);
    ASSERT_TRUE(UserScheduler::unload(file).succeeded);
    EXPECT_EQ(unitFiles(), std::set<std::string>{"timers.target.wants"});
    EXPECT_FALSE(fs::is_symlink(fs::symlink_status(wants)));
    EXPECT_EQ(systemctlCalls(fake), std::vector<std::string>{"show-environment"});
}

TEST_F(UserSchedulerTest, RefusedDescriptionsChangeNothing) {
    const std::string bundle = makeBundle().string();
    tmp.writeFile("home/Applications/Empty.app/Contents/Info.plist", "<plist><dict/></plist>");
    auto without = [](const std::string& key) {
        Value::Dictionary d = description({"/bin/echo"});
        d.erase(key);
        return d;
    };
    auto withCalendar = [](Value::Dictionary calendar) {
        Value::Dictionary d = description({"/bin/echo"});
        d["StartCalendarInterval"] = std::move(calendar);
        return d;
    };
    auto labelled = [](const std::string& label) { return description({"/bin/echo"}, 7, 5, label); };
    Value::Dictionary numberArgument = description({"/bin/echo"});
    numberArgument["ProgramArguments"] = Value::Array{"/bin/echo", 5};
    struct Case {
        const char* name;
        std::optional<Value> job; // nullopt: a file that is no property list
        bool managerRuns;
        std::string says;
    } cases[] = {
        {"no property list", std::nullopt, true, "cannot read the job description"},
        {"an array, not a dictionary", Value(Value::Array{"Label"}), true, "not a dictionary"},
        {"no Label", without("Label"), true, "no Label"},
        {"an empty Label", labelled(""), true, "Label is empty"},
        {"a Label with a slash", labelled("../evil"), true, "contains \"/\""},
        {"a hidden Label", labelled(".agent"), true, "starts with \".\""},
        {"a Label with a tab", labelled("a\tb"), true, "control characters"},
        {"no ProgramArguments", without("ProgramArguments"), true, "no ProgramArguments"},
        {"a number among the ProgramArguments", numberArgument, true, "item 1 is not a string"},
        {"a program by name only", description({"echo", "hi"}), true, "not an absolute path"},
        {"no StartCalendarInterval", without("StartCalendarInterval"), true, "no StartCalendarInterval"},
        {"hour 24", withCalendar({{"Hour", 24}, {"Minute", 0}}), true, "Hour 24 is outside 0-23"},
        {"a string Hour", withCalendar({{"Hour", "7"}, {"Minute", -1}}), true, "no integer Hour"},
        {"a real Minute", withCalendar({{"Hour", 7}, {"Minute", 5.0}}), true, "no integer Minute"},
        {"open of a missing bundle", description({"/usr/bin/open", "/nowhere/X.app"}), true, "no application bundle"},
        {"open of a bundle without its program",
         description({"open", (tmp.home() / "Applications/Empty.app").string()}), true, "has no program"},
        {"open with an option of its own", description({"/usr/bin/open", bundle, "-n"}), true, "takes only \"--args\""},
        {"a Label that names no unit", labelled("my agent"), true, "cannot name a systemd unit"},
        {"a Label that reads as an option", labelled("-agent"), true, "cannot name a systemd unit"},
        {"a Label that cannot tag a line", labelled("my#agent"), false, "cannot tag a crontab line"},
        {"an argument with a newline", description({"/bin/echo", "two\nlines"}), false, "newline"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeScheduler fake(tmp.path() / c.name, c.managerRuns);
        fake.setCrontab("MAILTO=me\n");
        const fs::path file = c.job ? writeJob(*c.job) : tmp.writeFile("home/broken.plist", "<plist><dict><key>");

        auto outcome = UserScheduler::load(file);
        EXPECT_FALSE(outcome.succeeded);
        EXPECT_NE(outcome.message.find(c.says), std::string::npos) << outcome.message;
        EXPECT_FALSE(fs::exists(unitFolder()));
        EXPECT_EQ(fake.crontab(), "MAILTO=me\n");
        for (const auto& call : fake.calls())
            EXPECT_TRUE(call.ends_with("show-environment") || call == "crontab -l") << call;
    }
}
