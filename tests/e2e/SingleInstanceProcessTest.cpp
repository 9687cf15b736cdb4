// The command line and the one instance per user, with the real application.
#include "platform/preferences/UserDefaults.h"
#include "support/ChosenDestination.h"
#include "platform/remote/SecureShell.h"
#include "support/AppProcess.h"
#include "support/FileContents.h"
#include "support/SshServer.h"
#include "support/TempHome.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <memory>
#include <vector>

namespace {

using testing_support::AppProcess;
using testing_support::TempHome;
using namespace std::chrono_literals;

using testing_support::Finished;
using testing_support::runToEnd;

// A running application without a window, past its start-up stop requests.
std::unique_ptr<AppProcess> startInstance() {
    auto app = std::make_unique<AppProcess>(AppProcess::application());
    EXPECT_TRUE(app->waitForOutput("Inside AppDelegate => ibStopAllWatcher")) << app->output();
    return app;
}

TEST(SingleInstanceProcessTest, AStartThatNeedsNoApplicationAnswersAndExits) {
    TempHome home;
    struct Case {
        std::vector<std::string> arguments;
        int status;
        const char* says;
    } cases[] = {
        {{"--help"}, 0, "--start-all"},
        {{"--version"}, 0, "Tolv-Archiver 1."},
        {{"--bogus"}, 2, "unknown option --bogus"},
        {{"--scan", "--stop-all"}, 2, "only one command"},
        {{"--status"}, 3, "not running"}, // as LSB status scripts say it
        {{"--status", "--json"}, 3, "\"running\":false"},
        {{"--quit"}, 0, "not running"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.front());
        const Finished end = runToEnd(c.arguments);
        EXPECT_EQ(end.status, c.status) << end.output;
        EXPECT_NE(end.output.find(c.says), std::string::npos) << end.output;
        EXPECT_EQ(end.output.find("No display"), std::string::npos) << "no application was started";
    }

    // A folder whose last pass failed keeps the status at 1 for monitoring,
    // and the report still goes to standard output.
    auto& prefs = platform::UserDefaults::standard();
    testing_support::chooseDestination(home.makeFolder("Backup"));
    prefs.setObject("prefCameraFolderPathFormat2", home.makeFolder("Shoot/Web").string());
    prefs.setBool("prefCameraFolderPathAliasDataIsValidFormat2", true);
    prefs.setObject("prefWatcherObject02LastPass",
                    platform::Value(platform::Value::Dictionary{{"ended", platform::Value(std::chrono::system_clock::now())},
                                                                {"error", platform::Value("destination full")}}));
    ASSERT_TRUE(prefs.synchronize());
    const Finished failing = runToEnd({"--status", "--json"});
    EXPECT_EQ(failing.status, 1) << failing.output;
    EXPECT_NE(failing.output.find("\"error\":\"destination full\""), std::string::npos) << failing.output;
    EXPECT_NE(failing.output.find("\"state\":\"error\""), std::string::npos) << failing.output;
}

TEST(SingleInstanceProcessTest, LaterStartsHandTheirRequestToTheRunningApplication) {
    TempHome home;
    auto first = startInstance();

    const auto before = std::chrono::steady_clock::now();
    const Finished bare = runToEnd({});
    const auto bareTime = std::chrono::steady_clock::now() - before;
    EXPECT_EQ(bare.status, 0) << bare.output;
    EXPECT_TRUE(first->waitForOutput("applicationShouldHandleReopen")) << first->output();
    std::printf("second start to its exit: %lld ms\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(bareTime).count()));

    const Finished agent = runToEnd({"-fromlaunchagent"});
    EXPECT_EQ(agent.status, 0);
    EXPECT_TRUE(first->waitForOutput("args contains -fromlaunchagent...")) << first->output();

    const Finished status = runToEnd({"--status"});
    EXPECT_EQ(status.status, 0);
    EXPECT_NE(status.output.find("Tolv-Archiver: running"), std::string::npos) << status.output;

    const Finished started = runToEnd({"--start-all"});
    EXPECT_EQ(started.status, 0);
    EXPECT_NE(started.output.find("watching switched on"), std::string::npos) << started.output;

    // A set-up command is the running application's to carry out: its file says so at once.
    const Finished set = runToEnd({"--set", "log-days", "9"});
    EXPECT_EQ(set.status, 0) << set.output;
    EXPECT_TRUE(first->waitForOutput("A later start asks")) << first->output();
    auto saved = platform::Value::readPlistFile(platform::UserDefaults::standardFilePath());
    ASSERT_TRUE(saved);
    EXPECT_EQ((*saved)["prefDaysToSaveLogs"].toInteger(), 9);

    const Finished quit = runToEnd({"--quit"});
    EXPECT_EQ(quit.status, 0) << quit.output;
    EXPECT_EQ(first->waitForExit(), 0) << first->output();
}

TEST(SingleInstanceProcessTest, TwentyStartsAtOnceLeaveOneApplication) {
    TempHome home;
    std::vector<std::unique_ptr<AppProcess>> starts;
    for (int i = 0; i < 20; ++i) starts.push_back(std::make_unique<AppProcess>(AppProcess::application()));
    // Nineteen hand their start over and exit; one stays.
    std::vector<std::optional<int>> ends(starts.size());
    auto ended = [&] { return std::count_if(ends.begin(), ends.end(), [](auto& e) { return e.has_value(); }); };
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (ended() < 19 && std::chrono::steady_clock::now() < deadline)
        for (size_t i = 0; i < starts.size(); ++i)
            if (!ends[i]) ends[i] = starts[i]->waitForExit(10ms);
    EXPECT_EQ(ended(), 19);
    for (size_t i = 0; i < starts.size(); ++i)
        if (ends[i]) {
            EXPECT_EQ(*ends[i], 0) << starts[i]->output();
        }
    for (size_t i = 0; i < starts.size(); ++i)
        if (!ends[i]) {
            EXPECT_EQ(starts[i]->waitForExit(300ms), std::nullopt) << "the one left runs on";
        }
    EXPECT_EQ(runToEnd({"--quit"}).status, 0);
    for (auto& app : starts) app->waitForExit(10s);
}

TEST(SingleInstanceProcessTest, RelaunchBringsUpANewProcessWithTheSamePreferences) {
    TempHome home;
    const auto source = home.makeFolder("Shoot/Main");
    {
        auto& prefs = platform::UserDefaults::standard();
        prefs.setObject("prefCameraFolderPathFormat1", source.string());
        ASSERT_TRUE(prefs.synchronize());
    }
    auto first = startInstance();
    const Finished relaunch = runToEnd({"--relaunch"});
    EXPECT_EQ(relaunch.status, 0) << relaunch.output;
    EXPECT_EQ(first->waitForExit(), 0) << first->output();
    // The tool starts the application again once the first has gone.
    Finished status;
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    do {
        status = runToEnd({"--status"});
    } while (status.output.find(": running") == std::string::npos && std::chrono::steady_clock::now() < deadline);
    EXPECT_NE(status.output.find(": running"), std::string::npos) << status.output;
    EXPECT_NE(status.output.find("Main Images: " + source.string()), std::string::npos) << status.output;
    EXPECT_EQ(runToEnd({"--quit"}).status, 0);
    do {
        status = runToEnd({"--status"});
    } while (status.output.find("not running") == std::string::npos && std::chrono::steady_clock::now() < deadline);
    EXPECT_NE(status.output.find("not running"), std::string::npos);
}

} // namespace

namespace {

// Set up from nothing without the window, then the daily run archives: no
// preference written by hand. Refusals change nothing and exit 2.
TEST(SingleInstanceProcessTest, AHeadlessSetUpFromNothingArchives) {
    TempHome home;
    const auto dest = home.makeFolder("Backup");
    home.writeFile("Shoot/Main/2026/img_0001.jpg", "pixels");
    const std::string source = (home.path() / "Shoot/Main").string();
    struct Step {
        std::vector<std::string> arguments;
        int status;
    } steps[] = {
        {{"--set-destination", dest.string()}, 0},
        {{"--set-source", "1", source}, 0},
        {{"--set-source", "2", dest.string()}, 2}, // inside the destination
        {{"--set-source", "4", source}, 2},
        {{"--set", "settle-minutes", "0"}, 0},
        {{"--set", "settle-minutes", "soon"}, 2},
        {{"--set", "delete-old", "maybe"}, 2},
        {{"--enable", "1"}, 0},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.arguments.front() + " " + step.arguments[1]);
        const Finished end = runToEnd(step.arguments);
        EXPECT_EQ(end.status, step.status) << end.output;
    }
    // The daily run with no display archives by itself and ends.
    const Finished run = runToEnd({"-fromlaunchagent"}, 60s);
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(testing_support::readFile(dest / "Main/2026/img_0001.jpg"), "pixels") << run.output;
    EXPECT_FALSE(std::filesystem::exists(dest / "Backup")) << "the refused source was not stored";
}

} // namespace

namespace {

// A destination on a server, set up, tried and archived into from the
// command line alone, against a real sshd.
TEST(SingleInstanceProcessTest, AServerDestinationIsSetUpTriedAndArchivedIntoWithoutTheWindow) {
    if (const std::string why = testing_support::SshServer::unavailable(); !why.empty()) GTEST_SKIP() << why;
    TempHome home;
    testing_support::SshServer server;
    server.installClientConfig(platform::SecureShell::configFile());
    const auto serverFolder = home.makeFolder("Server/Archive");
    home.writeFile("Shoot/Main/2026/img_0001.jpg", "pixels");
    struct Step {
        std::vector<std::string> arguments;
        int status;
        std::string says;
    } steps[] = {
        {{"--set-destination", "nas:relative/path"}, 2, "absolute path"},
        {{"--set-destination", server.destination(home.path() / "Server/none")}, 2, "no folder"},
        {{"--set-destination", server.destination(serverFolder)}, 0, ""},
        {{"--set-source", "1", (home.path() / "Shoot/Main").string()}, 0, ""},
        {{"--set", "settle-minutes", "0"}, 0, ""},
        {{"--check-destination"}, 0, "write access: yes"},
        {{"--status"}, 3, "ssh key: " + server.userKey().string()},
        {{"--status"}, 3, "archive on a server: not read again from here yet"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.arguments.back());
        const Finished end = runToEnd(step.arguments);
        EXPECT_EQ(end.status, step.status) << end.output;
        EXPECT_NE(end.output.find(step.says), std::string::npos) << end.output;
    }
    const Finished run = runToEnd({"-fromlaunchagent"}, 60s);
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(testing_support::readFile(serverFolder / "Main/2026/img_0001.jpg"), "pixels") << run.output;

    server.stop();
    const Finished unreachable = runToEnd({"--check-destination"});
    EXPECT_EQ(unreachable.status, 1) << unreachable.output;
    EXPECT_NE(unreachable.output.find("server unreachable"), std::string::npos) << unreachable.output;

    // A running application backs off from the server; --scan tries it at once.
    AppProcess app(AppProcess::application({"--headless"}));
    const auto says = [](const std::string& text) {
        return [text] { return runToEnd({"--status"}).output.find(text) != std::string::npos; };
    };
    ASSERT_TRUE(testing_support::waitUntil(says("server unreachable"), 60s, 500ms)) << app.output();
    EXPECT_TRUE(says("next try ")()) << "the next try is told";
    server.start();
    const auto asked = std::chrono::steady_clock::now();
    ASSERT_EQ(runToEnd({"--scan"}).status, 0);
    EXPECT_TRUE(testing_support::waitUntil([&] { return !says("server unreachable")(); }, 15s, 250ms)) << app.output();
    std::printf("server back to the state clearing, with --scan: %.1f s\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count());
    EXPECT_EQ(runToEnd({"--quit", "--force"}).status, 0);
    EXPECT_TRUE(app.waitForExit(20s).has_value());
}

} // namespace
