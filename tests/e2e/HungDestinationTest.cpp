// A destination share that stops answering: the application keeps
// answering, says so, deletes nothing, quits when told, and archives
// everything once the share answers again.
#include "platform/preferences/UserDefaults.h"
#include "support/AppProcess.h"
#include "support/ChildProcesses.h"
#include "support/ChildrenInTheFuture.h"
#include "support/ChosenDestination.h"
#include "support/FileContents.h"
#include "support/HangingShare.h"
#include "support/TempHome.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

namespace fs = std::filesystem;
using platform::UserDefaults;
using testing_support::AppProcess;
using testing_support::HangingShare;
using testing_support::TempHome;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

bool eventually(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    return testing_support::waitUntil(done, timeout, 100ms);
}

struct Status {
    std::optional<int> exit;
    std::string text;
    std::chrono::milliseconds took;
};

Status askStatus() {
    const auto start = Clock::now();
    AppProcess ask(AppProcess::application({"--status"}));
    Status s;
    s.exit = ask.waitForExit(10s);
    s.took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    s.text = ask.output();
    return s;
}

class HungDestinationTest : public ::testing::Test {
protected:
    // A source of `photos` photos archived into a folder of the share,
    // deletion on, and the application running with a window.
    bool start(int photos, std::string* why) {
        share = HangingShare::make(home.path() / "server", home.path() / "Share", why);
        if (!share) return false;
        dest = share->at() / "Backup";
        fs::create_directories(dest);
        source = home.makeFolder("Shoot/Main");
        for (int i = 0; i < photos; ++i)
            home.writeFile("Shoot/Main/d" + std::to_string(i % 4) + "/img" + std::to_string(i) + ".jpg",
                           std::string(2048, 'x'));
        auto& prefs = UserDefaults::standard();
        testing_support::chooseDestination(dest, prefs);
        prefs.setObject("prefCameraFolderPathFormat1", source.string());
        prefs.setBool("prefCameraFolderPathAliasDataIsValidFormat1", true);
        prefs.setInteger("prefBackupSourceImagesAfterMinutesOld", 0);
        prefs.setInteger("prefMinimumFreeSpaceMB", 0);
        prefs.setBool("prefEnableDeleteOldSourceImages", true);
        prefs.setInteger("prefDeleteSourceImagesAfterDaysOld", 1);
        prefs.synchronize();
        before = testing_support::fileContents(source);
        options = AppProcess::application();
        options.environment["DISPLAY"] = ":99";
        options.environment["QT_QPA_PLATFORM"] = "offscreen";
        launch();
        // The launch's own looks at the share (validation, the monitor's
        // first) are behind us once a report tells its free space: a share
        // that hangs in the middle of a look holds the thread making it.
        EXPECT_TRUE(eventually([] { return askStatus().text.find(" free") != std::string::npos; }, 30s))
            << app->output();
        return true;
    }

    void launch() {
        app = std::make_unique<AppProcess>(options);
        ASSERT_TRUE(app->waitForOutput("Main window shown")) << app->output();
    }

    static void command(std::vector<std::string> options) {
        AppProcess sent(AppProcess::application(std::move(options)));
        EXPECT_EQ(sent.waitForExit(5s), 0) << sent.output();
    }

    // A plain --quit is refused while a pass runs: the catching up may still
    // be ending its last pass (its clean-up, or the one more it was asked for).
    void quitOnceIdle() {
        EXPECT_TRUE(eventually([&] { return askStatus().text.find("busy yes") == std::string::npos; }, 60s))
            << app->output();
        command({"--quit"});
    }

    // Asked again and again while the share hangs, the application answers
    // at once, and within a minute it says what is wrong.
    void expectNotResponding(Clock::time_point hung) {
        Status status;
        ASSERT_TRUE(eventually(
            [&] {
                status = askStatus();
                EXPECT_LT(status.took, 2s) << status.text;
                return status.text.find("destination not responding") != std::string::npos;
            },
            60s))
            << status.text << app->output();
        EXPECT_EQ(status.exit, 1) << status.text;
        std::printf("hung share to \"destination not responding\": %.1f s\n",
                    std::chrono::duration<double>(Clock::now() - hung).count());
    }

    // Every photo has its copy, and every original went (they count as old).
    bool allArchived() const {
        return testing_support::fileContents(dest / "Main") == before && testing_support::fileContents(source).empty();
    }

    TempHome home;
    std::unique_ptr<HangingShare> share;
    fs::path dest, source;
    testing_support::FileContents before;
    AppProcess::Options options;
    std::unique_ptr<AppProcess> app;
};

TEST_F(HungDestinationTest, HungBeforeAPassTheApplicationAnswersAndQuitsAndTheNextStartCatchesUp) {
    std::string why;
    testing_support::ChildrenInTheFuture future(3);
    if (!future.active()) GTEST_SKIP() << "libfaketime is not installed";
    setenv("FAKETIME_ONLY_CMDS", "Tolv-Archiver,bfs", 1);
    if (!start(40, &why)) GTEST_SKIP() << why;

    share->hang();
    const auto hung = Clock::now();
    command({"--scan"});
    expectNotResponding(hung);
    EXPECT_EQ(testing_support::fileContents(source), before) << "nothing is deleted while the copies cannot be read";

    const auto quitAsked = Clock::now();
    command({"--quit", "--force"});
    // The looks at the hung share were children's: no thread of the
    // application waits on it, so the whole process ends.
    EXPECT_TRUE(app->waitForExit(10s).has_value()) << app->output();
    std::printf("--quit --force to the end of the process: %.1f s\n",
                std::chrono::duration<double>(Clock::now() - quitAsked).count());

    // Answering again, the next start archives everything.
    share->release();
    launch();
    command({"--scan"});
    EXPECT_TRUE(eventually([&] { return allArchived(); }, 30s)) << app->output();
    testing_support::expectNothingLost(before, source, dest / "Main");
    quitOnceIdle();
    EXPECT_EQ(app->waitForExit(), 0);
}

TEST_F(HungDestinationTest, HungInTheMiddleOfAPassNothingIsDeletedAndTheReturnCatchesUpByItself) {
    std::string why;
    testing_support::ChildrenInTheFuture future(3);
    if (!future.active()) GTEST_SKIP() << "libfaketime is not installed";
    setenv("FAKETIME_ONLY_CMDS", "Tolv-Archiver,bfs", 1);
    if (!start(400, &why)) GTEST_SKIP() << why;

    command({"--scan"});
    ASSERT_TRUE(eventually([&] { return testing_support::fileContents(dest / "Main").size() > 20; }, 30s))
        << app->output();
    share->hang();
    const auto hung = Clock::now();
    const auto left = testing_support::fileContents(source);
    expectNotResponding(hung);
    EXPECT_EQ(testing_support::fileContents(source), left) << "nothing is deleted while the copies cannot be read";

    share->release();
    EXPECT_TRUE(eventually([&] { return allArchived(); }, 60s)) << app->output();
    testing_support::expectNothingLost(before, source, dest / "Main");
    quitOnceIdle();
    EXPECT_EQ(app->waitForExit(), 0);
}

} // namespace
