// The commands of the application delegate: busy flags, the start/stop-all
// toggle, poll, scan and the delete-old warning.

#include "app/lifecycle/AppDelegate.h"
#include "app/ApplicationMain.h"
#include "app/widgets/StateButton.h"
#include "core/MyAliasKit.h"
#include "support/MainWindowFixture.h"
#include "support/NotificationRecorder.h"
#include "support/StderrCapture.h"

#include <QAction>
#include <QPushButton>

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

namespace fs = std::filesystem;
using testing_support::NotificationRecorder;
using testing_support::processEventsUntil;
using testing_support::StderrCapture;

namespace {

const std::vector<std::string> kCommandNames{kWatcherDoStopAll, kWatcherDoStartAll, kWatcherSetParams,
                                             kWatcherDoPollFolder, kWatcherItemChanged};

const std::string kDestPath = "prefDestinationFolderPathFormat1";
const std::string kDestValid = "prefDestinationFolderPathAliasDataIsValidFormat1";
const std::string kDestAlias = "prefDestinationFolderPathAliasDataFormat1";

class AppDelegateCommandsTest : public testing_support::MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        delegate = AppDelegate::create();
    }
    NotificationRecorder posts{kCommandNames};
};

// ---- busy flags ----------------------------------------------------------------

TEST_F(AppDelegateCommandsTest, HasRunningTasksChecksAllFourFlagsWhenNoneIsSet) {
    StderrCapture log;
    EXPECT_FALSE(delegate->hasRunningTasks());
    for (const char* key : {"prefWatcherObject00InProgress", "prefWatcherObject01InProgress",
                            "prefWatcherObject02InProgress", "prefWatcherObject03InProgress"})
        EXPECT_TRUE(log.contains(std::string("key ") + key + ": FREE")) << key << "\n" << log.text();
}

TEST_F(AppDelegateCommandsTest, HasRunningTasksStopsAtTheFirstBusyFlag) {
    prefs().setBool("prefWatcherObject02InProgress", true);
    prefs().setBool("prefWatcherObject03InProgress", true);
    StderrCapture log;
    EXPECT_TRUE(delegate->hasRunningTasks());
    EXPECT_TRUE(log.contains("key prefWatcherObject00InProgress: FREE"));
    EXPECT_TRUE(log.contains("key prefWatcherObject01InProgress: FREE"));
    EXPECT_TRUE(log.contains("key prefWatcherObject02InProgress: Busy"));
    EXPECT_FALSE(log.contains("prefWatcherObject03InProgress")) << log.text();
}

TEST_F(AppDelegateCommandsTest, ClearRunningTasksFlagsRemovesAllFourAndSavesAtOnce) {
    for (int i = 0; i < 4; ++i) prefs().setBool(CommonHeader::inProgressKey(i), true);
    prefs().setObject("prefKeptAlongside", "kept");
    ASSERT_TRUE(prefs().synchronize());
    delegate->clearRunningTasksFlags();
    auto onDisk = platform::Value::readPlistFile(platform::UserDefaults::standardFilePath());
    ASSERT_TRUE(onDisk && onDisk->dictionary());
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(prefs().userObjectForKey(CommonHeader::inProgressKey(i)).isNone()) << i;
        EXPECT_EQ(onDisk->dictionary()->count(CommonHeader::inProgressKey(i)), 0u) << "index " << i << " on disk";
    }
    EXPECT_EQ(*(*onDisk)["prefKeptAlongside"].string(), "kept");
    EXPECT_FALSE(delegate->hasRunningTasks());
}

// ---- start/stop-all toggle ---------------------------------------------------------

TEST_F(AppDelegateCommandsTest, ToggleWithoutSenderAlwaysStops) {
    delegate->ibStopAllWatcher(nullptr);
    EXPECT_EQ(posts.names(), std::vector<std::string>{kWatcherDoStopAll});
    EXPECT_EQ(posts.entries()[0].object, nullptr);
    EXPECT_FALSE(posts.entries()[0].hasUserInfo);
}

TEST_F(AppDelegateCommandsTest, ToggleStateNamesWhatToDoAndTheTitleTheNextAction) {
    StateButton button;
    button.setText("untouched");

    button.setState(StateButton::kOnState);
    delegate->ibStopAllWatcher(&button);
    EXPECT_EQ(button.text(), "Turn On");
    EXPECT_EQ(posts.names(), std::vector<std::string>{kWatcherDoStopAll});

    posts.clear();
    button.setState(StateButton::kOffState);
    delegate->ibStopAllWatcher(&button);
    EXPECT_EQ(button.text(), "Turn Off");
    EXPECT_EQ(posts.names(), std::vector<std::string>{kWatcherDoStartAll});

    posts.clear();
    button.setText("mixed title");
    button.setState(StateButton::kMixedState);
    StderrCapture log;
    delegate->ibStopAllWatcher(&button);
    EXPECT_EQ(button.text(), "mixed title");
    EXPECT_TRUE(posts.names().empty());
    EXPECT_TRUE(log.contains("state = -1")) << log.text();
}

TEST_F(AppDelegateCommandsTest, ClickingTheWindowsToggleAlternatesStartAndStop) {
    loadWindow();
    StateButton* toggle = window->toggleButton();
    ASSERT_NE(toggle, nullptr);
    EXPECT_EQ(toggle->text(), "Turn On");
    toggle->click();
    EXPECT_EQ(toggle->text(), "Turn Off");
    toggle->click();
    EXPECT_EQ(toggle->text(), "Turn On");
    toggle->click();
    EXPECT_EQ(posts.names(), (std::vector<std::string>{kWatcherDoStartAll, kWatcherDoStopAll, kWatcherDoStartAll}));
    // A click moves a mixed toggle on to "on", which stops.
    toggle->setState(StateButton::kMixedState);
    toggle->click();
    EXPECT_EQ(posts.names().back(), kWatcherDoStopAll);
}

TEST_F(AppDelegateCommandsTest, MenuAndButtonsReachTheirCommands) {
    loadWindow();
    prefs().setObject(kDestPath, home.makeFolder("Backup").string());
    prefs().setBool("prefDestinationFolderPathEnableFormat1", false);
    auto trigger = [&](const char* name) {
        auto* action = window->findChild<QAction*>(name);
        ASSERT_NE(action, nullptr) << name;
        action->trigger();
    };
    trigger("actionPollAllFolders");
    EXPECT_TRUE(processEventsUntil([&] { return posts.names().size() == 2; }));
    EXPECT_EQ(posts.names(), (std::vector<std::string>{kWatcherSetParams, kWatcherDoPollFolder}));
    trigger("actionDeleteOldWarning");
    EXPECT_EQ(dialogs->alerts().size(), 1u);
    trigger("actionScanNow");
    window->findChild<QPushButton*>("scanButton")->click();
    EXPECT_TRUE(processEventsUntil([&] { return posts.count(kWatcherItemChanged) == 2; }));
}

// ---- poll -------------------------------------------------------------------------

TEST_F(AppDelegateCommandsTest, OnlyTheFirstPollOfARunIsCarriedOut) {
    EXPECT_FALSE(delegate->_isPolling());
    delegate->pollAllPaths();
    // Off the GUI thread, as a scan.
    EXPECT_TRUE(processEventsUntil([&] { return posts.entries().size() == 2; }));
    auto first = posts.entries();
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0].name, kWatcherSetParams);
    EXPECT_EQ(first[0].object, delegate.get());
    EXPECT_EQ(first[1].name, kWatcherDoPollFolder);
    EXPECT_EQ(first[1].object, nullptr);
    EXPECT_TRUE(delegate->_isPolling());

    StderrCapture log;
    delegate->pollAllPaths();
    EXPECT_EQ(posts.entries().size(), 2u);
    EXPECT_TRUE(log.contains("Inside AppDelegate => pollAllPaths...Another Polling still in progress...")) << log.text();
}

// ---- scan -------------------------------------------------------------------------

// Each folder's pass then finds no archive to copy into, and says so.
TEST_F(AppDelegateCommandsTest, ScanWithoutUsableDestinationBeepsAndStillAsksEveryFolder) {
    delegate->doScanAgainInThread(); // nothing chosen yet
    EXPECT_EQ(dialogs->beeps(), 1);

    // A destination that was deleted, with alias data that cannot find it.
    fs::path gone = home.makeFolder("Backup");
    prefs().setObject(kDestPath, gone.string());
    prefs().setBool(kDestValid, true);
    fs::remove(gone);
    delegate->doScanAgainInThread();
    EXPECT_EQ(dialogs->beeps(), 2);
    EXPECT_FALSE(prefs().boolForKey(kDestValid));
    EXPECT_EQ(*prefs().stringForKey(kDestPath), gone.string());
    EXPECT_EQ(posts.count(kWatcherItemChanged), 2u);
}

TEST_F(AppDelegateCommandsTest, ScanRunsOnItsOwnThreadAndPostsTheChangeAsTheDelegate) {
    prefs().setObject(kDestPath, home.makeFolder("Backup").string());
    delegate->ibScanAgain();
    ASSERT_TRUE(processEventsUntil([&] { return posts.count(kWatcherItemChanged) == 1; }));
    const auto e = posts.entries().back();
    EXPECT_EQ(e.object, delegate.get());
    EXPECT_FALSE(e.hasUserInfo);
    EXPECT_NE(e.thread, std::this_thread::get_id());
    EXPECT_EQ(dialogs->beeps(), 0);
}

TEST_F(AppDelegateCommandsTest, ScanRepairsAMovedDestinationFromItsAliasAndGoesAhead) {
    fs::path before = home.makeFolder("Backup");
    prefs().setObject(kDestPath, before.string());
    MyAliasKit::savePath(before.string(), kDestAlias);
    fs::path after = home.path() / "Backup renamed";
    fs::rename(before, after);

    delegate->doScanAgainInThread();
    EXPECT_EQ(posts.count(kWatcherItemChanged), 1u);
    EXPECT_EQ(*prefs().stringForKey(kDestPath), after.string());
    EXPECT_TRUE(prefs().boolForKey(kDestValid));
    EXPECT_EQ(dialogs->beeps(), 0);
}

// ---- delete-old warning -----------------------------------------------------------

TEST_F(AppDelegateCommandsTest, DeleteOldWarningOnlyWarnsWhileTheDestinationIsSwitchedOff) {
    fs::path photo = home.writeFile("Shoot/Main/old.jpg", "x");
    prefs().setObject("prefCameraFolderPathFormat1", photo.parent_path().string());

    delegate->deleteAllOldPhotos(); // the factory defaults switch the destination on
    EXPECT_TRUE(dialogs->alerts().empty());

    prefs().setBool("prefDestinationFolderPathEnableFormat1", false);
    delegate->deleteAllOldPhotos();
    auto alerts = dialogs->alerts();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].message, "ALWAYS Delete OLD PHotos withOUT Archiving.");
    EXPECT_EQ(alerts[0].informativeText, "This will delete all your old folders in the selected source folders:\n\n");
    EXPECT_EQ(alerts[0].defaultButton, "OK");
    EXPECT_TRUE(alerts[0].alternateButton.empty());
    EXPECT_TRUE(alerts[0].otherButton.empty());
    EXPECT_TRUE(fs::exists(photo)); // a warning only
}

// ---- launch mode and display ------------------------------------------------------

TEST(LaunchModeTest, OnlyTheWholeArgumentSelectsTheLaunchAgentRun) {
    EXPECT_TRUE(AppDelegate::isLaunchAgentRun({"Tolv-Archiver", "-fromlaunchagent"}));
    EXPECT_TRUE(AppDelegate::isLaunchAgentRun({"Tolv-Archiver", "-psn_0_1", "-fromlaunchagent", "x"}));
    EXPECT_FALSE(AppDelegate::isLaunchAgentRun({"Tolv-Archiver", "--fromlaunchagent"}));
    EXPECT_FALSE(AppDelegate::isLaunchAgentRun({"Tolv-Archiver", "-fromlaunchagent=1"}));
    EXPECT_FALSE(AppDelegate::isLaunchAgentRun({"Tolv-Archiver -fromlaunchagent"}));
    EXPECT_FALSE(AppDelegate::isLaunchAgentRun({}));
}

TEST(HeadlessTest, RunsWithoutWindowWhenAskedOrWithoutDisplay) {
    EXPECT_TRUE(ApplicationMain::wantsHeadless({"app", "--headless"}, ":0", nullptr));
    EXPECT_TRUE(ApplicationMain::wantsHeadless({"app"}, nullptr, nullptr));
    EXPECT_TRUE(ApplicationMain::wantsHeadless({"app"}, "", ""));
    EXPECT_FALSE(ApplicationMain::wantsHeadless({"app"}, ":0", nullptr));
    EXPECT_FALSE(ApplicationMain::wantsHeadless({"app"}, nullptr, "wayland-0"));
    EXPECT_FALSE(ApplicationMain::wantsHeadless({"app", "-headless"}, ":0", nullptr));
}

} // namespace
