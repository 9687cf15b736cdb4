// Ending the application in the middle of a pass: nothing it started runs
// on, nothing is lost, and the next launch finds no stale busy flag.
#include "platform/preferences/UserDefaults.h"
#include "support/ChosenDestination.h"
#include "support/AppProcess.h"
#include "support/ChildProcesses.h"
#include "support/ChildrenInTheFuture.h"
#include "support/FileContents.h"
#include "support/TempHome.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <set>
#include <thread>

namespace fs = std::filesystem;
using platform::UserDefaults;
using testing_support::AppProcess;
using testing_support::TempHome;
using namespace std::chrono_literals;

namespace {

// The process groups of the application's children.
std::set<pid_t> childGroups(pid_t application) {
    std::set<pid_t> groups;
    for (pid_t pid : testing_support::allProcesses())
        if (const auto p = testing_support::procStat(pid); p && p->parent == application && p->group != application)
            groups.insert(p->group);
    return groups;
}

bool anyInGroups(const std::set<pid_t>& groups) {
    for (pid_t pid : testing_support::allProcesses())
        if (const auto p = testing_support::procStat(pid); p && groups.count(p->group)) return true;
    return false;
}

bool eventually(const std::function<bool()>& done, std::chrono::milliseconds timeout = 20s) {
    return testing_support::waitUntil(done, timeout, 20ms);
}

TEST(ForcedQuitTest, NothingTheApplicationStartedOutlivesItAndNothingIsLost) {
    // With a window, the busy alert must not come back while the forced quit ends it.
    for (const std::string how : {"--quit --force", "SIGKILL", "--quit --force, window shown"}) {
        SCOPED_TRACE(how);
        TempHome home;
        const fs::path dest = home.makeFolder("Backup"), source = home.makeFolder("Shoot/Main");
        for (int i = 0; i < 400; ++i)
            home.writeFile("Shoot/Main/d" + std::to_string(i % 8) + "/img" + std::to_string(i) + ".jpg",
                           std::string(4096, 'x'));
        auto& prefs = UserDefaults::standard();
        testing_support::chooseDestination(dest, prefs);
        prefs.setObject("prefCameraFolderPathFormat1", source.string());
        prefs.setBool("prefCameraFolderPathAliasDataIsValidFormat1", true);
        prefs.setInteger("prefBackupSourceImagesAfterMinutesOld", 0);
        prefs.setInteger("prefMinimumFreeSpaceMB", 0); // a nearly full test disk must not stop the pass
        prefs.setBool("prefEnableDeleteOldSourceImages", true);
        prefs.setInteger("prefDeleteSourceImagesAfterDaysOld", 1);
        ASSERT_TRUE(prefs.synchronize());
        const auto before = testing_support::fileContents(source);
        // The application's bfs sees the clock 3 days ahead, so the pass deletes.
        testing_support::ChildrenInTheFuture future(3);
        if (!future.active()) GTEST_SKIP() << "libfaketime is not installed";
        // The clock library drops itself from the environment of a program it
        // does not fake: the application must be one for its bfs to get it.
        setenv("FAKETIME_ONLY_CMDS", "Tolv-Archiver,bfs", 1);

        auto options = AppProcess::application();
        const bool windowShown = how.ends_with("window shown");
        if (windowShown) {
            options.environment["DISPLAY"] = ":99";
            options.environment["QT_QPA_PLATFORM"] = "offscreen";
        }
        auto app = std::make_unique<AppProcess>(options);
        ASSERT_TRUE(app->waitForOutput("Inside AppDelegate => ibStopAllWatcher")) << app->output();
        if (windowShown) {
            ASSERT_TRUE(app->waitForOutput("Main window shown")) << app->output();
        }
        AppProcess scan(AppProcess::application({"--scan"}));
        ASSERT_EQ(scan.waitForExit(), 0) << scan.output();
        // Mid-pass: some files copied and deleted, the walk still running.
        ASSERT_TRUE(eventually([&] { return testing_support::fileContents(source).size() < before.size() - 10; }))
            << app->output();
        std::set<pid_t> groups;
        ASSERT_TRUE(eventually([&] { return !(groups = childGroups(app->pid())).empty(); }));
        if (how == "SIGKILL") {
            app->signal(SIGKILL);
        } else {
            // Asked without --force, a busy application says so at once.
            AppProcess ask(AppProcess::application({"--quit"}));
            EXPECT_EQ(ask.waitForExit(5s), 1) << ask.output();
            EXPECT_NE(ask.output().find("busy archiving: not quitting"), std::string::npos) << ask.output();
            AppProcess quit(AppProcess::application({"--quit", "--force"}));
            EXPECT_EQ(quit.waitForExit(), 0) << quit.output();
        }
        EXPECT_TRUE(app->waitForExit(10s).has_value()) << app->output();
        EXPECT_TRUE(eventually([&] { return !anyInGroups(groups); }, 10s)) << "children left running";
        testing_support::expectNothingLost(before, source, dest / "Main");
        EXPECT_LT(testing_support::fileContents(source).size(), before.size()) << "the pass was deleting";
        EXPECT_GT(testing_support::fileContents(source).size(), 0u) << "and was cut off mid-way";
        // No copy half written under a temporary name is left behind.
        for (const auto& [path, contents] : testing_support::fileContents(dest / "Main"))
            EXPECT_NE(fs::path(path).filename().string().front(), '.') << path;

        // The next launch finds the flag of the cut-off pass and clears it.
        app = std::make_unique<AppProcess>(AppProcess::application());
        ASSERT_TRUE(app->waitForOutput("Inside AppDelegate => ibStopAllWatcher")) << app->output();
        UserDefaults::resetStandard();
        EXPECT_FALSE(UserDefaults::standard().boolForKey("prefWatcherObject01InProgress"));
        AppProcess quit(AppProcess::application({"--quit"}));
        EXPECT_EQ(quit.waitForExit(), 0);
        EXPECT_EQ(app->waitForExit(), 0);
    }
}

} // namespace
