// A destination share that stops answering: the application keeps
// answering, says so, deletes nothing, quits when told, and archives
// everything once the share answers again.
#include "platform/preferences/UserDefaults.h"
#include "support/AppProcess.h"
#include "support/ChosenDestination.h"
#include "support/FileContents.h"
#include "support/HangingShare.h"
#include "support/TempHome.h"

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
    const auto end = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(100ms);
    }
    return true;
}

// The application's main thread has ended: the process is gone, or only a
// thread held in the kernel by the hung share is left of it (nobody can end
// that one; it goes when the share answers).
bool mainThreadEnded(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(in, line)) return true;
    const auto close = line.rfind(')');
    return close == std::string::npos || line.at(close + 2) == 'Z' || line.at(close + 2) == 'X';
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

TEST(HungDestinationTest, AnsweringQuittingAndCatchingUpWhileTheShareHangs) {
    TempHome home;
    std::string why;
    auto share = HangingShare::make(home.path() / "server", home.path() / "Share", &why);
    if (!share) GTEST_SKIP() << why;
    const fs::path dest = share->at() / "Backup";
    fs::create_directories(dest);
    const fs::path source = home.makeFolder("Shoot/Main");
    for (int i = 0; i < 40; ++i)
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
    ASSERT_TRUE(prefs.synchronize());
    const auto before = testing_support::fileContents(source);

    auto options = AppProcess::application();
    options.environment["DISPLAY"] = ":99";
    options.environment["QT_QPA_PLATFORM"] = "offscreen";
    auto app = std::make_unique<AppProcess>(options);
    ASSERT_TRUE(app->waitForOutput("Main window shown")) << app->output();

    share->hang();
    const auto hung = Clock::now();
    AppProcess scan(AppProcess::application({"--scan"}));
    EXPECT_EQ(scan.waitForExit(5s), 0) << scan.output();
    // Asked again and again while it hangs, the application answers at once,
    // and within a minute it says what is wrong.
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
    EXPECT_EQ(testing_support::fileContents(source), before) << "nothing is deleted while the copies cannot be read";

    const auto quitAsked = Clock::now();
    AppProcess quit(AppProcess::application({"--quit", "--force"}));
    EXPECT_EQ(quit.waitForExit(10s), 0) << quit.output();
    EXPECT_TRUE(eventually([&] { return mainThreadEnded(app->pid()); }, 10s)) << app->output();
    std::printf("--quit --force to the end of the main thread: %.1f s\n",
                std::chrono::duration<double>(Clock::now() - quitAsked).count());

    // Answering again: what is left of the application goes, and the next
    // start archives everything.
    share->release();
    EXPECT_TRUE(app->waitForExit(10s).has_value()) << app->output();
    app = std::make_unique<AppProcess>(options);
    ASSERT_TRUE(app->waitForOutput("Main window shown")) << app->output();
    AppProcess again(AppProcess::application({"--scan"}));
    EXPECT_EQ(again.waitForExit(10s), 0) << again.output();
    EXPECT_TRUE(eventually([&] { return testing_support::fileContents(dest / "Main") == before; }, 30s))
        << app->output();
    testing_support::expectNothingLost(before, source, dest / "Main");
    AppProcess done(AppProcess::application({"--quit"}));
    EXPECT_EQ(done.waitForExit(), 0) << done.output();
    EXPECT_EQ(app->waitForExit(), 0);
}

} // namespace
