// A user's session through the real window: choose the folders, switch
// watching on, drop photos into a source folder, see them archived while
// the row's indicator spins and then stops; switch off and scan by hand.

#include "support/MainWindowFixture.h"
#include "support/NotificationRecorder.h"

#include <QPushButton>
#include <QSpinBox>

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using testing_support::NotificationRecorder;
using testing_support::processEventsUntil;

namespace {

class MainWindowEndToEndTest : public testing_support::MainWindowFixture {
protected:
    NotificationRecorder posts{{kWatcherDoStopAll, kWatcherDidStart, kWatcherItemChanged}};

    size_t filesBelow(const fs::path& folder) const {
        size_t n = 0;
        std::error_code ec;
        for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
            if (it->is_regular_file()) ++n;
        return n;
    }
    bool streamStarted(int slot) const {
        for (const auto& e : posts.entries())
            if (e.name == kWatcherDidStart && e.index == slot) return true;
        return false;
    }
};

TEST_F(MainWindowEndToEndTest, WatchingArchivesNewPhotosAndTheRowShowsTheWork) {
    const fs::path dest = home.makeFolder("Backup");
    const fs::path shoot = home.makeFolder("Shoot/Main");
    launch();
    // The user comes after the launch's stop requests.
    ASSERT_TRUE(processEventsUntil([&] { return posts.count(kWatcherDoStopAll) == 2; }));

    chooseThroughPanel(0, dest);
    chooseThroughPanel(1, shoot);
    dialogs->answerNextPanel({ModalUI::kPanelCancel, {}});
    rowButton(2, "ibNSButtonChange")->click();
    EXPECT_EQ(prefs().stringForKey("prefCameraFolderPathFormat1"), shoot.string());
    EXPECT_TRUE(prefs().objectForKey("prefCameraFolderPathAliasDataFormat1").isData());
    EXPECT_TRUE(prefs().objectForKey("prefCameraFolderPathFormat2").isNone());
    EXPECT_EQ(dialogs->panels().at(1).message, "Please Select The Main Images Folder:");
    window->findChild<QSpinBox*>("minutesOldSpin")->setValue(0); // copy at once

    StateButton* toggle = window->toggleButton();
    toggle->click();
    EXPECT_EQ(toggle->text(), "Turn Off");
    ASSERT_TRUE(processEventsUntil([&] { return streamStarted(1); }));

    for (int i = 0; i < 20; ++i) home.writeFile("Shoot/Main/roll/img_" + std::to_string(i) + ".jpg", "photo");
    bool spun = false;
    bool otherRowsSpun = false;
    ASSERT_TRUE(processEventsUntil(
        [&] {
            spun = spun || row(1).indicatorIsAnimating();
            otherRowsSpun = otherRowsSpun || row(0).indicatorIsAnimating() || row(2).indicatorIsAnimating() ||
                            row(3).indicatorIsAnimating();
            return filesBelow(dest / "Main") == 20;
        },
        std::chrono::seconds(60)));
    EXPECT_TRUE(spun);
    EXPECT_TRUE(processEventsUntil([&] { return !row(1).indicatorIsAnimating(); }));
    EXPECT_FALSE(otherRowsSpun);
    EXPECT_EQ(testing_support::readFile(dest / "Main/roll/img_7.jpg"), "photo");

    // Watching off: a new photo waits for the next scan.
    toggle->click();
    EXPECT_EQ(toggle->text(), "Turn On");
    home.writeFile("Shoot/Main/late.jpg", "late");
    window->findChild<QPushButton*>("scanButton")->click();
    ASSERT_TRUE(processEventsUntil([&] { return fs::exists(dest / "Main/late.jpg"); }, std::chrono::seconds(60)));
    size_t scans = 0;
    for (const auto& e : posts.entries()) scans += e.name == kWatcherItemChanged && e.object == delegate.get();
    EXPECT_EQ(scans, 1u);
    EXPECT_TRUE(processEventsUntil([&] { return !row(1).indicatorIsAnimating(); }));
    EXPECT_EQ(dialogs->beeps(), 0);
}

} // namespace
