// The launchagent helper as the application runs it: through the bundle's
// loadlaunchagent.sh and unloadlaunchagent.sh in the built bundle, as real
// processes, with support/FakeScheduler's stand-ins first on PATH; and once
// against the real user manager where one runs.

#include "platform/preferences/Value.h"
#include "platform/runtime/Task.h"
#include "platform/scheduler/UserScheduler.h"
#include "support/AppProcess.h"
#include "support/FakeScheduler.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using platform::Value;
using testing_support::AppProcess;
using testing_support::FakeScheduler;
using testing_support::TempHome;

namespace {

const fs::path kBundle = TOLV_TEST_BUNDLE_PATH;
const std::string kHelper = (kBundle / "Contents/MacOS/launchagent").string();
const std::string kLoadScript = (kBundle / "Contents/Resources/loadlaunchagent.sh").string();
const std::string kUnloadScript = (kBundle / "Contents/Resources/unloadlaunchagent.sh").string();
const std::string kLabel = "com.orvane.tolv-archiver.agent";

// The variables the user manager is reached through, as the test program
// got them: a TempHome of an earlier test in this process moves them.
const std::map<std::string, std::optional<std::string>> kStartEnvironment = [] {
    std::map<std::string, std::optional<std::string>> vars;
    for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR", "DBUS_SESSION_BUS_ADDRESS"}) {
        const char* value = std::getenv(name);
        vars[name] = value ? std::optional<std::string>(value) : std::nullopt;
    }
    return vars;
}();

struct Outcome {
    std::optional<int> status;
    std::string output; // standard output and error
};

Outcome run(std::vector<std::string> argv) {
    AppProcess::Options options;
    options.executable = argv.front();
    options.arguments.assign(argv.begin() + 1, argv.end());
    AppProcess process(options);
    auto status = process.waitForExit();
    return {status, process.output()};
}

fs::path writeJob(const fs::path& file, const std::string& label, const std::string& program) {
    const Value job(Value::Dictionary{{"Label", label},
                                      {"ProgramArguments", Value::Array{program}},
                                      {"StartCalendarInterval", Value::Dictionary{{"Hour", 7}, {"Minute", 5}}}});
    fs::create_directories(file.parent_path());
    EXPECT_TRUE(job.writePlistFile(file));
    return file;
}

} // namespace

TEST(LaunchAgentToolTest, TheScriptsLoadAndUnloadTheJobAndSayWhatWasDoneInOneLine) {
    TempHome tmp;
    FakeScheduler fake(tmp.path(), true);
    fake.setCrontab(""); // else "crontab -l" says on standard error that there is none
    const fs::path job = writeJob(tmp.home() / "Library/LaunchAgents/agent.plist", kLabel, "/bin/echo");
    const fs::path timer = tmp.home() / ".config/systemd/user" / (kLabel + ".timer");

    Outcome load = run({kLoadScript, job.string()});
    EXPECT_EQ(load.status, 0);
    EXPECT_EQ(load.output, "loaded " + kLabel + ": systemd timer at 07:05\n");
    EXPECT_TRUE(fs::exists(timer));
    Outcome unload = run({kUnloadScript, job.string()});
    EXPECT_EQ(unload.status, 0);
    EXPECT_EQ(unload.output, "unloaded " + kLabel + ": systemd timer removed\n");
    EXPECT_FALSE(fs::exists(timer));
}

TEST(LaunchAgentToolTest, ExitStatusSaysDoneFailedOrWrongArguments) {
    TempHome tmp;
    FakeScheduler fake(tmp.path(), true);
    const std::string job = writeJob(tmp.path() / "agent.plist", kLabel, "/bin/echo").string();
    const std::string damaged = tmp.writeFile("damaged.plist", "not a property list").string();
    struct Case {
        const char* name;
        std::vector<std::string> argv;
        int status;
        std::string says;
    } cases[] = {
        {"load script without a file", {kLoadScript}, 2, "usage: loadlaunchagent.sh"},
        {"unload script with an empty file", {kUnloadScript, ""}, 2, "usage: unloadlaunchagent.sh"},
        {"helper without arguments", {kHelper}, 2, "expected \"load FILE\", \"unload FILE\" or \"check FILE\""},
        {"helper with an unknown command", {kHelper, "restart", job}, 2, "unknown command \"restart\""},
        {"start without a program", {kHelper, "start"}, 2, "PROGRAM an absolute path"},
        {"start of a program by name", {kHelper, "start", "sh"}, 2, "PROGRAM an absolute path"},
        {"start of a program that is not there", {kHelper, "start", "/nonexistent/x"}, 1, "could not start"},
        {"helper with an unknown option", {kHelper, "--now", "load", job}, 2, "unknown option --now"},
        {"helper with two files", {kHelper, "load", job, job}, 2, "got 3 arguments"},
        {"a damaged file", {kLoadScript, damaged}, 1, "cannot load " + damaged},
        {"a program by name only",
         {kLoadScript, writeJob(tmp.path() / "rel.plist", kLabel, "echo").string()},
         1,
         "not an absolute path"},
        {"a file no longer there", {kUnloadScript, (tmp.path() / "gone.plist").string()}, 0, "gone was not loaded"},
        {"help", {kHelper, "--help"}, 0, "systemd timers or, where no systemd user manager runs, the user's crontab"},
        {"version", {kHelper, "unload", job, "--version"}, 0, "launchagent (Tolv-Archiver) "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Outcome r = run(c.argv);
        EXPECT_EQ(r.status, c.status) << r.output;
        EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
    }
    EXPECT_FALSE(fs::exists(tmp.home() / ".config/systemd/user")) << "a refused run loaded something";
}

// What a loaded job runs for an opened application: it starts the program
// with its arguments untouched and ends at once, leaving it running.
TEST(LaunchAgentToolTest, StartLeavesTheProgramRunningWithItsArgumentsIntact) {
    TempHome tmp;
    const fs::path release = tmp.path() / "release", seen = tmp.path() / "seen";
    const fs::path program = tmp.writeFile("program", "#!/bin/sh\nprintf '[%s]' \"$@\" > '" + seen.string() +
                                                         ".tmp'\nmv '" + seen.string() + ".tmp' '" + seen.string() +
                                                         "'\nwhile [ ! -e '" + release.string() + "' ]; do sleep 0.05; done\n");
    fs::permissions(program, fs::perms::owner_all);
    Outcome started = run({kHelper, "start", program.string(), "-fromlaunchagent", "two words", "--help"});
    EXPECT_EQ(started.status, 0) << started.output;
    // The helper has ended while the program still waits for its release.
    for (int i = 0; i < 400 && !fs::exists(seen); ++i) usleep(25000);
    EXPECT_EQ(testing_support::readFile(seen), "[-fromlaunchagent][two words][--help]");
    std::ofstream(release) << "";
}

// Writes to the real user's unit folder, under a Label of its own.
TEST(LaunchAgentRealSchedulerTest, LoadsAndUnloadsAUserTimerOfTheRealUserManager) {
    for (const auto& [name, value] : kStartEnvironment) {
        if (value)
            setenv(name.c_str(), value->c_str(), 1);
        else
            unsetenv(name.c_str());
    }
    if (!platform::UserScheduler::userManagerRunning())
        GTEST_SKIP() << "no systemd user manager runs for this user (systemctl --user show-environment fails)";
    char folder[] = "/tmp/tolv-agent-test-XXXXXX";
    ASSERT_TRUE(mkdtemp(folder));
    const std::string label = "tolv-test-agent-" + std::to_string(getpid());
    const fs::path job = writeJob(fs::path(folder) / (label + ".plist"), label, "/bin/true");
    auto listed = [&] {
        auto timers = platform::Task::runCapturingOutput(
            {"/usr/bin/systemctl", {"--user", "list-timers", "--all"}, std::nullopt, -1, -1});
        return timers.standardOutput.find(label + ".timer") != std::string::npos;
    };

    Outcome load = run({kLoadScript, job.string()});
    EXPECT_EQ(load.status, 0) << load.output;
    EXPECT_TRUE(listed());
    Outcome unload = run({kUnloadScript, job.string()});
    EXPECT_EQ(unload.status, 0) << unload.output;
    EXPECT_FALSE(listed());
    fs::remove_all(folder);
}
