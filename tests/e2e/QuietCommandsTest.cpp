// A command prints its answer and nothing else; --verbose brings its trace
// lines back; and saving logs, switched on for a running application, opens
// today's log file at once.

#include "support/AppProcess.h"
#include "support/TempHome.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <sstream>

namespace fs = std::filesystem;
using testing_support::AppProcess;
using testing_support::Finished;
using testing_support::runToEnd;
using testing_support::TempHome;
using namespace std::chrono_literals;

namespace {

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// A trace line names the program and its process and thread.
bool hasTraceLine(const std::string& output) { return output.find(" Tolv-Archiver[") != std::string::npos; }

} // namespace

TEST(QuietCommandsTest, ASetUpCommandPrintsOnlyItsAnswer) {
    TempHome home;
    const std::string backup = home.makeFolder("Disk/Backup").string(), main = home.makeFolder("Shoot/Main").string();
    struct Case {
        std::vector<std::string> arguments;
        int status;
        const char* says;
    } cases[] = {
        {{"--set-destination", backup}, 0, "Backup"},
        {{"--set-source", "1", main}, 0, "Main"},
        {{"--set", "settle-minutes", "5"}, 0, "settle-minutes: 5"},
        {{"--set", "free-space-floor-mb", "500"}, 0, "free-space-floor-mb: 500"},
        {{"--set", "lag-alarm-minutes", "30"}, 0, "lag-alarm-minutes: 30"},
        {{"--set", "verify-archive-days", "7"}, 0, "verify-archive-days: 7"},
        {{"--disable", "2"}, 0, "off"},
        {{"--enable", "2"}, 0, "on"},
        {{"--unschedule"}, 0, "no daily schedule"},
        {{"--set", "settle-minutes", "-5"}, 2, "from 0 to 100000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.front() + " " + c.arguments.back());
        const Finished end = runToEnd(c.arguments);
        EXPECT_EQ(end.status, c.status) << end.output;
        EXPECT_NE(end.output.find(c.says), std::string::npos) << end.output;
        EXPECT_LE(linesOf(end.output).size(), 2u) << end.output;
        EXPECT_FALSE(hasTraceLine(end.output)) << end.output;
    }
    const Finished status = runToEnd({"--status"});
    EXPECT_FALSE(hasTraceLine(status.output)) << status.output;
    EXPECT_TRUE(hasTraceLine(runToEnd({"--verbose", "--set", "settle-minutes", "5"}).output)) << "asked for";
}

TEST(QuietCommandsTest, SavingLogsSwitchedOnForARunningApplicationOpensTodaysLogAtOnce) {
    TempHome home;
    const fs::path folder = home.home() / "Library/Logs/Tolv";
    AppProcess app(AppProcess::application({"--headless"}));
    ASSERT_TRUE(app.waitForOutput("No display: running without a window")) << app.output();
    EXPECT_FALSE(fs::exists(folder));

    ASSERT_EQ(runToEnd({"--set", "save-logs", "on"}).status, 0);
    const auto logged = [&] {
        std::error_code ec;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
            if (testing_support::readFile(it->path()).find(std::string(59, '=')) != std::string::npos) return true;
        return false;
    };
    EXPECT_TRUE(testing_support::waitUntil(logged, 5s, 100ms)) << app.output();
    EXPECT_EQ(runToEnd({"--quit"}).status, 0);
    EXPECT_EQ(app.waitForExit(20s), 0);
}
