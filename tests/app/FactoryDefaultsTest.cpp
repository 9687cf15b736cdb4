#include "app/lifecycle/AppDelegate.h"
#include "core/Settings.h"
#include "platform/preferences/UserDefaults.h"
#include "support/AppProcess.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>

#include <array>
#include <csignal>
#include <cstdio>
#include <filesystem>

namespace fs = std::filesystem;
using platform::UserDefaults;
using testing_support::AppProcess;
using testing_support::TempHome;

namespace {

// Runs a command through the shell and returns what it printed on both streams.
std::string runShell(const std::string& command) {
    std::string out;
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (!p) return out;
    std::array<char, 4096> buf;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
    pclose(p);
    return out;
}

std::string quoted(const fs::path& p) { return "'" + p.string() + "'"; }

// The application keeps running until it is told to quit: run it without a
// window until the line appears, then end it the way a service manager would.
std::string runUntilLogged(AppProcess::Options options, const std::string& line) {
    options.arguments.push_back("--headless");
    AppProcess app(options);
    EXPECT_TRUE(app.started()) << options.executable;
    EXPECT_TRUE(app.waitForOutput(line)) << app.output();
    app.signal(SIGTERM);
    EXPECT_EQ(app.waitForExit(), 0) << app.output();
    return app.output();
}

} // namespace

// The code's table of settings and the factory file give every setting the same default.
TEST(FactoryDefaultsTest, TheSettingsTableAndTheFactoryFileAgree) {
    TempHome home;
    const auto factory = AppDelegate::setupFactoryDefaults();
    ASSERT_TRUE(factory);
    for (const Settings::Entry& entry : Settings::table()) {
        SCOPED_TRACE(entry.key);
        ASSERT_TRUE(factory->count(entry.key));
        EXPECT_EQ(factory->at(entry.key), entry.defaultValue);
    }
    // Nothing stored: what is read is the table's (and the file's) defaults.
    const Settings read = Settings::read(), defaults;
    EXPECT_EQ(read.settleMinutes, defaults.settleMinutes);
    EXPECT_EQ(read.deleteAfterDays, defaults.deleteAfterDays);
    EXPECT_EQ(read.minimumFreeMB, defaults.minimumFreeMB);
}

TEST(FactoryDefaultsTest, RegisteredValuesAnswerButAreNotStored) {
    TempHome home;
    ASSERT_TRUE(AppDelegate::setupFactoryDefaults());
    UserDefaults& prefs = UserDefaults::standard();
    EXPECT_EQ(prefs.integerForKey("prefBackupSourceImagesAfterMinutesOld"), 20);
    EXPECT_EQ(prefs.integerForKey("prefDeleteSourceImagesAfterDaysOld"), 30);
    EXPECT_FALSE(prefs.boolForKey("prefEnableDeleteOldSourceImages"));
    EXPECT_EQ(prefs.integerForKey("prefDaysToSaveLogs"), 14);
    EXPECT_TRUE(prefs.boolForKey("prefUseAbsolueBundlePathForProgramArguments"));
    for (int i = 1; i <= 3; ++i) {
        EXPECT_TRUE(prefs.boolForKey("prefCameraFolderPathEnableFormat" + std::to_string(i)));
        EXPECT_EQ(prefs.integerForKey("prefStartingNoCameraFormat" + std::to_string(i)), 1);
    }
    auto agent = prefs.objectForKey("prefLaunchAgentContent");
    ASSERT_TRUE(agent.dictionary());
    EXPECT_EQ(*agent["TolvAgentPlistVersion"].string(), "2");
    EXPECT_TRUE(agent["StartCalendarInterval"].dictionary());
    EXPECT_TRUE(agent["ProgramArguments"].array());
    EXPECT_TRUE(agent["Label"].string());
    // The user's layer stays empty: nothing of the defaults reaches the file.
    EXPECT_TRUE(prefs.userObjectForKey("prefDaysToSaveLogs").isNone());
    prefs.synchronize();
    auto onDisk = platform::Value::readPlistFile(UserDefaults::standardFilePath());
    EXPECT_TRUE(!onDisk || !onDisk->dictionary() || onDisk->dictionary()->count("prefDaysToSaveLogs") == 0);
}

TEST(FactoryDefaultsTest, ApplicationLogsRegistrationFromBuildTreeAndInstalledCopy) {
    TempHome home;
    fs::path bundle = TOLV_TEST_BUNDLE_PATH;
    std::string out = runUntilLogged(AppProcess::application(), "About to register factory default dictionary:");
    EXPECT_NE(out.find("userDefaultsValuesPath = [" + (bundle / "Contents/Resources/FactoryDefault.plist").string() + "]"),
              std::string::npos) << out;
    EXPECT_NE(out.find("About to register factory default dictionary:"), std::string::npos) << out;

    fs::path prefix = home.path() / "prefix";
    std::string install = runShell("cmake --install " + quoted(bundle.parent_path()) + " --prefix " + quoted(prefix));
    fs::path installed = prefix / "lib/tolv-archiver/Tolv-Archiver.app";
    ASSERT_TRUE(fs::exists(prefix / "bin/tolv-archiver")) << install;
    // What the desktop finds: each file passes its own checker, and the manual
    // and the completion know every option the help names.
    const fs::path share = prefix / "share";
    EXPECT_TRUE(fs::exists(share / "icons/hicolor/scalable/apps/tolv-archiver.svg"));
    for (const std::string& check :
         {"desktop-file-validate " + quoted(share / "applications/tolv-archiver.desktop"),
          "appstreamcli validate --no-net " + quoted(share / "metainfo/com.orvane.tolv-archiver.metainfo.xml"),
          "man -l " + quoted(share / "man/man1/tolv-archiver.1") + " > /dev/null",
          "bash -n " + quoted(share / "bash-completion/completions/tolv-archiver")})
        EXPECT_EQ(std::system((check + " > /dev/null 2>&1").c_str()), 0) << check;
    const std::string help = runShell(quoted(prefix / "bin/tolv-archiver") + " --help");
    const std::string manual = testing_support::readFile(share / "man/man1/tolv-archiver.1");
    const std::string completion = testing_support::readFile(share / "bash-completion/completions/tolv-archiver");
    static const std::regex option("--[a-z][a-z-]+");
    int options = 0;
    for (std::sregex_iterator it(help.begin(), help.end(), option), end; it != end; ++it, ++options) {
        std::string roff = it->str();
        for (size_t i = 0; (i = roff.find('-', i)) != std::string::npos; i += 2) roff.insert(i, "\\");
        EXPECT_NE(manual.find(roff), std::string::npos) << it->str() << " is not in the manual";
        if (it->str() != "--grab-window")
            EXPECT_NE(completion.find(it->str()), std::string::npos) << it->str() << " is not completed";
    }
    EXPECT_GT(options, 15);
    AppProcess::Options installedApp = AppProcess::application();
    installedApp.executable = prefix / "bin/tolv-archiver";
    out = runUntilLogged(installedApp, "About to register factory default dictionary:");
    EXPECT_NE(out.find("userDefaultsValuesPath = [" + (installed / "Contents/Resources/FactoryDefault.plist").string() + "]"),
              std::string::npos) << out;
}

TEST(FactoryDefaultsTest, MissingDefaultsFileRegistersNothing) {
    TempHome home;
    fs::path copy = home.path() / "Copy.app";
    fs::copy(TOLV_TEST_BUNDLE_PATH, copy, fs::copy_options::recursive);
    fs::remove(copy / "Contents/Resources/FactoryDefault.plist");
    std::string out = runUntilLogged(AppProcess::applicationInBundle(copy), "userDefaultsValuesDict == NIL!!!!");
    EXPECT_NE(out.find("userDefaultsValuesDict == NIL!!!!"), std::string::npos) << out;

    // A file that is not a property list is refused the same way.
    home.writeFile("Copy.app/Contents/Resources/FactoryDefault.plist", "<plist><dict><key>x</key>");
    out = runUntilLogged(AppProcess::applicationInBundle(copy), "userDefaultsValuesDict == NIL!!!!");
    EXPECT_NE(out.find("userDefaultsValuesDict == NIL!!!!"), std::string::npos) << out;
}
