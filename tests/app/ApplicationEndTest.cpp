// How the application ends and answers the desktop: the quit guard, the
// window-close rule, open requests, relaunch and the later starts' requests.

#include "app/lifecycle/AppDelegate.h"
#include "app/instance/InstanceRequests.h"
#include "app/lifecycle/Relaunch.h"
#include "app/widgets/StateButton.h"
#include "support/MainWindowFixture.h"
#include "support/NotificationRecorder.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QPushButton>

#include <gtest/gtest.h>

namespace {

using testing_support::processEventsUntil;

class ApplicationEndTest : public testing_support::MainWindowFixture {
protected:
    int quits = 0;
    void launchRecordingQuits() {
        launch();
        delegate->setTerminator([this] { ++quits; });
    }
    void setBusy(bool busy) { prefs().setBool("prefWatcherObject02InProgress", busy); }
};

TEST_F(ApplicationEndTest, TheQuitGuardAsksOnlyWhileAPassRuns) {
    launchRecordingQuits();
    struct Case {
        const char* what;
        bool busy;
        std::optional<int> answer; // the alert's, when one is shown
        bool quits;
    } cases[] = {
        {"idle", false, std::nullopt, true},
        {"busy, NO", true, ModalUI::kDefaultReturn, false},
        {"busy, Force Terminate", true, ModalUI::kAlternateReturn, true},
        {"busy, an odd answer", true, 7, false},
    };
    size_t alerts = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        setBusy(c.busy);
        if (c.answer) dialogs->answerNextAlert(*c.answer);
        const int before = quits;
        EXPECT_EQ(delegate->terminate(nullptr), c.quits);
        EXPECT_EQ(quits - before, c.quits ? 1 : 0);
        if (c.answer) ++alerts;
        ASSERT_EQ(dialogs->alerts().size(), alerts);
    }
    const ModalUI::Alert alert = dialogs->alerts().back();
    EXPECT_EQ(alert.message, "WARNING: APP is Busy Archiving !!!!");
    EXPECT_EQ(alert.defaultButton, "NO");
    EXPECT_EQ(alert.alternateButton, "Force Terminate");
    EXPECT_EQ(alert.informativeText, "There are one or more folders still being Archived.\nYou May Not have Fully "
                                     "Completed the Backup.\n\nAre You Sure You Want to Abort All Process Now??\n\n");
    // A preset answer (--quit --force) shows nothing.
    EXPECT_TRUE(delegate->terminate(nullptr, ModalUI::kAlternateReturn));
    EXPECT_EQ(dialogs->alerts().size(), alerts);
}

TEST_F(ApplicationEndTest, ABusyApplicationKeepsItsWindowUnlessForced) {
    launchRecordingQuits();
    struct Case {
        bool busy;
        std::optional<int> answer;
        bool closes;
        int quits;
    } cases[] = {{false, std::nullopt, true, 0}, {true, ModalUI::kDefaultReturn, false, 0},
                 {true, ModalUI::kAlternateReturn, false, 1}};
    for (const auto& c : cases) {
        setBusy(c.busy);
        if (c.answer) dialogs->answerNextAlert(*c.answer);
        const int before = quits;
        QCloseEvent event;
        QCoreApplication::sendEvent(window.get(), &event);
        EXPECT_EQ(event.isAccepted(), c.closes);
        EXPECT_EQ(quits - before, c.quits);
    }
    EXPECT_TRUE(delegate->applicationShouldTerminateAfterLastWindowClosed(QCoreApplication::instance()));
    EXPECT_FALSE(delegate->applicationShouldTerminateAfterLastWindowClosed(window.get()));
}

TEST_F(ApplicationEndTest, OnlyTheAgentFileOpensAndItStartsTheLaunchAgentScan) {
    launch();
    struct Case {
        std::vector<std::string> files;
        bool scans;
    } cases[] = {
        {{"/Applications/Tolv-Archiver.app/Contents/Resources/com.orvane.tolv-archiver.agent.plist"}, true},
        {{"/tmp/x", "Contents/Resources/com.orvane.tolv-archiver.agent.plist"}, true},
        {{"/elsewhere/Contents/Resources/com.orvane.tolv-archiver.agent.plist"}, false},
        {{"/tmp/photo.jpg"}, false},
    };
    for (const auto& c : cases) {
        prefs().removeObjectForKey(kPreflastLaunchctlDate);
        delegate->openFiles(c.files);
        EXPECT_EQ(!prefs().objectForKey(kPreflastLaunchctlDate).isNone(), c.scans) << c.files.back();
    }
}

TEST(RelaunchTest, TheToolGetsTheBundleThePidAndTheFlags) {
    testing_support::qtTestApp();
    QPushButton button;
    QObject someone;
    struct Case {
        const char* what;
        Relaunch::Parameter parameter;
        std::string flags;
        QObject* sender;
    } cases[] = {
        {"nothing", std::monostate{}, "1", nullptr},
        {"a button", &button, "1", &button},
        {"options without flags", Relaunch::Options{&someone, std::nullopt}, "0", &someone},
        {"options with flags", Relaunch::Options{nullptr, 42}, "42", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Relaunch::Plan plan = Relaunch::plan(c.parameter, "/x/Tolv-Archiver.app", 4711);
        EXPECT_EQ(plan.arguments, (std::vector<std::string>{"/x/Tolv-Archiver.app", "4711", c.flags}));
        EXPECT_EQ(plan.sender, c.sender);
    }
}

TEST_F(ApplicationEndTest, LaterStartsAreAnsweredAsTheWindowWouldBe) {
    launchRecordingQuits();
    prefs().setObject("prefCameraFolderPathFormat1", "/p/\"Main\"");
    InstanceRequests requests(delegate, window.get(), window->toggleButton(), false);
    auto ask = [&](std::vector<std::string> args) {
        args.insert(args.begin(), "Tolv-Archiver");
        return requests.answer(CommandLine::parse(args));
    };
    StateButton* toggle = window->toggleButton();
    EXPECT_EQ(ask({"--start-all"}).status, 0);
    EXPECT_EQ(toggle->text().toStdString(), "Turn Off"); // as a click leaves it
    EXPECT_EQ(ask({"--start-all"}).text, "already watching\n");
    EXPECT_EQ(ask({"--stop-all"}).status, 0);
    EXPECT_EQ(toggle->text().toStdString(), "Turn On");

    const std::string json = ask({"--status", "--json"}).text;
    EXPECT_NE(json.find("\"running\":true"), std::string::npos) << json;
    EXPECT_NE(json.find("\"path\":\"/p/\\\"Main\\\"\""), std::string::npos) << json;
    EXPECT_NE(ask({"--status"}).text.find("Main Images: /p/\"Main\""), std::string::npos);

    setBusy(true);
    // A terminal is answered at once; the busy alert is the window's own.
    const size_t alerts = dialogs->alerts().size();
    const auto refused = ask({"--quit"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.text, "busy archiving: not quitting (--force quits)\n");
    EXPECT_EQ(dialogs->alerts().size(), alerts);
    const auto forced = ask({"--quit", "--force"});
    EXPECT_EQ(forced.status, 0);
    EXPECT_TRUE(processEventsUntil([&] { return quits == 1; }));
}

} // namespace
