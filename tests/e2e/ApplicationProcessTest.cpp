// The built application as its own process: where its log goes at start-up,
// a run without a display, and ending it with a signal.

#include "platform/preferences/UserDefaults.h"
#include "support/ChosenDestination.h"
#include "support/AppProcess.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <thread>

namespace fs = std::filesystem;
using platform::UserDefaults;
using testing_support::AppProcess;
using testing_support::TempHome;

namespace {

UserDefaults& prefs() { return UserDefaults::standard(); }

fs::path logFolder(const TempHome& home) { return home.home() / "Library/Logs/Tolv"; }

std::vector<fs::path> logFiles(const TempHome& home) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (fs::directory_iterator it(logFolder(home), ec), end; !ec && it != end; it.increment(ec))
        files.push_back(it->path());
    return files;
}

// Runs the application without a window until it has logged `line`, then
// ends it as a service manager would.
std::string runUntil(AppProcess::Options options, const std::string& line) {
    options.arguments.push_back("--headless");
    AppProcess app(options);
    EXPECT_TRUE(app.waitForOutput(line)) << app.output();
    app.signal(SIGTERM);
    EXPECT_EQ(app.waitForExit(), 0) << app.output();
    return app.output();
}

TEST(ApplicationProcessTest, TheUsersLogChoiceSendsEverythingAfterTheDecisionIntoTheLogFile) {
    TempHome home;
    prefs().setBool("prefDoSaveLogs", true);
    ASSERT_TRUE(prefs().synchronize());

    AppProcess app(AppProcess::application({"--headless"}));
    auto loggedSoFar = [&] {
        auto files = logFiles(home);
        return files.size() == 1 ? testing_support::readFile(files[0]) : std::string();
    };
    for (int i = 0; i < 300 && loggedSoFar().find("No display: running without a window") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    app.signal(SIGTERM);
    EXPECT_EQ(app.waitForExit(), 0);
    const std::string out = app.output();
    auto files = logFiles(home);
    ASSERT_EQ(files.size(), 1u) << out;
    EXPECT_EQ(files[0].extension(), ".log");
    EXPECT_EQ(files[0].filename().string().rfind("Tolv-Archiver_", 0), 0u) << files[0];
    const std::string logged = testing_support::readFile(files[0]);

    // The decision itself is logged where standard error went at start ...
    EXPECT_NE(out.find("Inside AppDelegate => initialize...WILL ReDirect NSLog to File..."), std::string::npos) << out;
    // ... and every later step into the file, after its banner.
    for (const char* line : {"userDefaultsValuesPath = [", "Checking for Old Log Files to Delete...Done.",
                             "No display: running without a window", "Signal 15 received: quitting"}) {
        EXPECT_NE(logged.find(line), std::string::npos) << line;
        EXPECT_EQ(out.find(line), std::string::npos) << line << " escaped the log file";
    }
    EXPECT_LT(logged.find(std::string(59, '=')), logged.find("userDefaultsValuesPath"));
}

TEST(ApplicationProcessTest, AFactoryDefaultAloneNeverSwitchesTheLogFileOn) {
    TempHome home;
    fs::path copy = home.path() / "Copy.app";
    fs::copy(TOLV_TEST_BUNDLE_PATH, copy, fs::copy_options::recursive);
    fs::path defaults = copy / "Contents/Resources/FactoryDefault.plist";
    auto dict = platform::Value::readPlistFile(defaults);
    ASSERT_TRUE(dict && dict->dictionary());
    (*dict->dictionary())["prefDoSaveLogs"] = platform::Value(true);
    ASSERT_TRUE(dict->writePlistFile(defaults));

    std::string out = runUntil(AppProcess::applicationInBundle(copy), "No display: running without a window");
    EXPECT_NE(out.find("Inside AppDelegate => initialize...Will NOT ReDirect NSLog to File..."), std::string::npos)
        << out;
    EXPECT_NE(out.find("userDefaultsValuesPath = ["), std::string::npos);
    EXPECT_TRUE(logFiles(home).empty());
}

TEST(ApplicationProcessTest, WithoutDisplayItRunsUntilTerminatedAndQuitsCleanly) {
    TempHome home;
    for (int signalNumber : {SIGTERM, SIGINT}) {
        AppProcess app(AppProcess::application()); // no DISPLAY, no WAYLAND_DISPLAY, no --headless
        ASSERT_TRUE(app.waitForOutput("No display: running without a window")) << app.output();
        // Still running once the delayed start-up work is done.
        ASSERT_TRUE(app.waitForOutput("Inside AppDelegate => ibStopAllWatcher")) << app.output();
        EXPECT_EQ(app.waitForExit(std::chrono::milliseconds(300)), std::nullopt);
        // The station alone: no window, so no Qt platform plugin was loaded.
        const std::string maps = testing_support::readFile("/proc/" + std::to_string(app.pid()) + "/maps");
        EXPECT_EQ(maps.find("/platforms/"), std::string::npos);
        app.signal(signalNumber);
        EXPECT_EQ(app.waitForExit(), 0) << app.output();
        EXPECT_NE(app.output().find("Event loop ended: quitting"), std::string::npos);
        EXPECT_EQ(app.output().find("Main window shown"), std::string::npos);
    }
}

// Both runs at once: each waits out the same delays. The second one's
// destination, written by hand, is the empty folder an unmounted backup
// disk leaves: it gets nothing, and the run's exit status says it failed.
// The first names a Qt platform that does not exist: a run without a
// display makes no widget, so it needs none.
TEST(ApplicationProcessTest, ALaunchAgentRunWithoutDisplayArchivesByItself) {
    struct Run {
        bool diskThere;
        std::unique_ptr<TempHome> home;
        fs::path dest;
        std::unique_ptr<AppProcess> app;
    } runs[] = {{true, nullptr, {}, nullptr}, {false, nullptr, {}, nullptr}};
    for (Run& run : runs) {
        run.home = std::make_unique<TempHome>();
        run.dest = run.home->makeFolder("Backup");
        run.home->writeFile("Shoot/Main/2026/img_0001.jpg", "pixels");
        if (run.diskThere)
            testing_support::chooseDestination(run.dest);
        else
            prefs().setObject("prefDestinationFolderPathFormat1", run.dest.string());
        prefs().setObject("prefCameraFolderPathFormat1", (run.home->path() / "Shoot/Main").string());
        prefs().setBool("prefCameraFolderPathAliasDataIsValidFormat1", true);
        prefs().setInteger("prefBackupSourceImagesAfterMinutesOld", 0);
        prefs().setInteger("prefMinimumFreeSpaceMB", 0); // a nearly full test disk must not stop the pass
        ASSERT_TRUE(prefs().synchronize());
        auto options = AppProcess::application({"-fromlaunchagent"});
        if (run.diskThere) options.environment["QT_QPA_PLATFORM"] = "no-such-platform";
        run.app = std::make_unique<AppProcess>(options);
    }
    for (Run& run : runs) {
        SCOPED_TRACE(run.diskThere ? "disk there" : "disk not mounted");
        AppProcess& app = *run.app;
        ASSERT_TRUE(app.waitForOutput("args contains -fromlaunchagent...")) << app.output();
        // Nobody can see a window: once the scan is done, the run ends by itself.
        EXPECT_EQ(app.waitForExit(std::chrono::seconds(40)), run.diskThere ? 0 : 1) << app.output();
        EXPECT_NE(app.output().find("The daily run has archived every folder"), std::string::npos);
        const fs::path archived = run.dest / "Main/2026/img_0001.jpg";
        if (run.diskThere)
            EXPECT_EQ(testing_support::readFile(archived), "pixels") << app.output();
        else
            EXPECT_EQ(fs::directory_iterator(run.dest), fs::directory_iterator()) << app.output();
        EXPECT_TRUE(fs::exists(run.home->path() / "Shoot/Main/2026/img_0001.jpg")); // deletion is off
        auto saved = platform::Value::readPlistFile(run.home->home() / ".config/com.orvane.tolv-archiver.plist");
        ASSERT_TRUE(saved);
        EXPECT_TRUE((*saved)["preflastLaunchctlDate"].string()) << saved->description();
    }
}

} // namespace
