// The launch in the test process: the will-finish and did-finish phases,
// the rows they build and where the window puts them, the delayed stop
// requests and the launch-agent scan, and the window's bound settings.

#include "app/lifecycle/AppDelegate.h"
#include "app/instance/CommandLine.h"
#include "app/instance/InstanceRequests.h"
#include "app/widgets/RowLayout.h"
#include "support/ChosenDestination.h"
#include "support/MainWindowFixture.h"
#include "support/NotificationRecorder.h"
#include "support/StderrCapture.h"
#include "watch/WatcherNSObject.h"

#include <QCheckBox>
#include <QLabel>
#include <QPointer>
#include <QSpinBox>

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

using testing_support::NotificationRecorder;
using testing_support::processEventsUntil;

namespace {

const std::vector<std::string> kScheduleKeys{"prefNextScheduledLaunchctlTime",
                                             "prefNextScheduledLaunchctlTimeDisplayString", "prefDailyScheduledTime2"};
const std::vector<std::string> kTitleKeys{
    "prefDestinationFolderPathEnableTitleStringFormat1", "prefCameraFolderPathEnableTitleStringFormat1",
    "prefCameraFolderPathEnableTitleStringFormat2", "prefCameraFolderPathEnableTitleStringFormat3"};

RowLayout::Rect toRect(const QRect& r) { return {double(r.x()), double(r.y()), double(r.width()), double(r.height())}; }

class StartupTest : public testing_support::MainWindowFixture {
protected:
    template <class T>
    T* widget(const char* name) const {
        T* w = window->findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QWidget* rowView(int slot) const { return row(slot).view(); }
};

// ---- will-finish -----------------------------------------------------------------

TEST_F(StartupTest, LaunchDropsBusyFlagsOfAnEarlierRunAndAScheduleNeverConfirmed) {
    for (int i = 0; i < 4; ++i) prefs().setBool(CommonHeader::inProgressKey(i), true);
    for (const auto& key : kScheduleKeys) prefs().setObject(key, "left over");
    loadWindow();
    delegate->applicationWillFinishLaunching();
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(prefs().objectForKey(CommonHeader::inProgressKey(i)).isNone()) << i;
    for (const auto& key : kScheduleKeys) EXPECT_TRUE(prefs().objectForKey(key).isNone()) << key;
}

TEST_F(StartupTest, AConfirmedScheduleKeepsItsKeys) {
    prefs().setBool("prefDidSetSchedule", true);
    for (const auto& key : kScheduleKeys) prefs().setObject(key, "kept");
    loadWindow();
    delegate->applicationWillFinishLaunching();
    for (const auto& key : kScheduleKeys) EXPECT_EQ(prefs().stringForKey(key), "kept") << key;
}

TEST_F(StartupTest, AnArgumentThatOnlyContainsTheLaunchAgentWordStartsAManualRun) {
    testing_support::StderrCapture log;
    launch({"Tolv-Archiver", "--fromlaunchagent"});
    EXPECT_TRUE(log.contains("Inside AppDelegate => setupManualTimer... DOES NOTHING....")) << log.text();
    EXPECT_FALSE(log.contains("args contains -fromlaunchagent..."));
    EXPECT_TRUE(prefs().objectForKey("preflastLaunchctlDate").isNone());
}

// ---- did-finish: rows ----------------------------------------------------------------

TEST_F(StartupTest, LaunchRestoresTheSlotTitlesAndBuildsOneRowPerSlot) {
    for (const auto& key : kTitleKeys) prefs().setObject(key, "changed by hand");
    launch();
    for (int slot = 0; slot < 4; ++slot)
        EXPECT_EQ(prefs().stringForKey(kTitleKeys[slot]), CommonHeader::slotTitle(slot)) << slot;

    ASSERT_EQ(delegate->rows().size(), 4u);
    EXPECT_EQ(row(0)._watcherObj(), nullptr);
    auto* destinationEnable = qobject_cast<QAbstractButton*>(row(0).getNSObjectForKey(sPrefCameraFolderPathEnableKey));
    ASSERT_NE(destinationEnable, nullptr);
    EXPECT_FALSE(destinationEnable->isEnabled());
    // Shown by the name --status uses.
    EXPECT_EQ(destinationEnable->text().toStdString(), "Destination/Backup");
    for (int slot = 1; slot < 4; ++slot) {
        EXPECT_EQ(row(slot)._viewIndex(), slot);
        ASSERT_NE(row(slot)._watcherObj(), nullptr) << slot;
        EXPECT_EQ(row(slot)._watcherObj()->_index(), slot);
        EXPECT_EQ(row(slot)._Param(), CommonHeader::slotParameters(slot));
        EXPECT_TRUE(row(slot).getNSObjectForKey(sPrefCameraFolderPathEnableKey)->isEnabled());
    }
    // Each row has its own copy of its parameters, and so has its watcher.
    ParamDictionary changed = row(1)._Param();
    changed[sPrefCameraFolderPathKey] = "somethingElse";
    row(1).set_Param(changed);
    EXPECT_EQ(row(1)._watcherObj()->_param(), CommonHeader::slotParameters(1));
    EXPECT_EQ(row(2)._Param(), CommonHeader::slotParameters(2));
    EXPECT_EQ(prefs().stringForKey("prefVersionDisplayString"), "Vers: 1.0.0 (1)");
}

TEST_F(StartupTest, RowsLieOnTheirAnchorsInTheAnchorsSuperview) {
    launch();
    QWidget* dest = widget<QWidget>("destView");
    QWidget* top = widget<QWidget>("topHalfView");
    ASSERT_EQ(dest->parentWidget(), top->parentWidget());
    QWidget* superview = top->parentWidget();
    const double height = superview->height();
    for (int slot = 0; slot < 4; ++slot) {
        QWidget* view = rowView(slot);
        EXPECT_EQ(view->parentWidget(), superview) << slot;
        const QWidget* anchor = slot == 0 ? dest : top;
        // The frame the layout function gives, taken back into the widget's coordinates.
        const RowLayout::Rect anchorFrame = RowLayout::flipped(toRect(anchor->geometry()), height);
        const RowLayout::Rect ownFrame{0, 0, anchorFrame.width, double(view->height())};
        const RowLayout::Rect expected =
            RowLayout::flipped(RowLayout::frameForRow(slot, anchorFrame, ownFrame), height);
        EXPECT_EQ(toRect(view->geometry()), expected) << "slot " << slot;
    }
    EXPECT_EQ(rowView(1)->geometry().top(), top->geometry().top());
    EXPECT_EQ(rowView(2)->geometry().top(), rowView(1)->geometry().bottom() + 1);
    EXPECT_EQ(rowView(3)->geometry().top(), rowView(2)->geometry().bottom() + 1);
}

TEST_F(StartupTest, RowsNeitherOverlapNorClipAtTheSmallestWindowAndFollowAWiderOne) {
    launch();
    window->resize(1, 1); // the window keeps its minimum size
    ASSERT_TRUE(processEventsUntil([&] { return window->size() == window->minimumSize(); }));
    testing_support::drainEvents();
    QWidget* superview = widget<QWidget>("topHalfView")->parentWidget();
    const QRect separator = widget<QWidget>("rowsSeparator")->geometry();
    for (int slot = 0; slot < 4; ++slot) {
        const QRect r = rowView(slot)->geometry();
        EXPECT_TRUE(superview->rect().contains(r)) << "slot " << slot << " leaves its area";
        EXPECT_GE(r.height(), rowView(slot)->minimumSizeHint().height()) << slot;
        EXPECT_FALSE(r.intersects(separator)) << slot;
        for (int other = slot + 1; other < 4; ++other)
            EXPECT_FALSE(r.intersects(rowView(other)->geometry())) << slot << " overlaps " << other;
        for (QWidget* child : rowView(slot)->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (child->isHidden() && !child->sizePolicy().retainSizeWhenHidden()) continue;
            EXPECT_TRUE(rowView(slot)->rect().contains(child->geometry()))
                << child->objectName().toStdString() << " of row " << slot << " is clipped";
            // Squeezed below what it needs, a control would be cut off.
            const int needed = std::min(child->maximumWidth(), std::max(child->minimumWidth(), child->minimumSizeHint().width()));
            EXPECT_GE(child->width(), needed) << child->objectName().toStdString() << " of row " << slot;
        }
    }
    const int narrow = rowView(1)->width();
    window->resize(window->width() + 300, window->height());
    ASSERT_TRUE(processEventsUntil([&] { return rowView(1)->width() == narrow + 300; }));
    EXPECT_EQ(rowView(0)->width(), rowView(3)->width());
}

TEST_F(StartupTest, RowsEndOnTheGuiThreadWhenTheLastOwnerOfTheDelegateIsAnotherThread) {
    launch();
    QPointer<SelectFolderNSViewController> first = &row(1);
    window.reset();
    std::thread([d = std::move(delegate)]() mutable { d.reset(); }).join();
    EXPECT_FALSE(first.isNull()); // not on the thread that let go
    EXPECT_TRUE(processEventsUntil([&] { return first.isNull(); }));
}

// ---- the delayed requests --------------------------------------------------------

TEST_F(StartupTest, EveryLaunchAsksTheWatchersToStopTwiceOnceTheLoopRuns) {
    NotificationRecorder posts({kWatcherDoStopAll, kWatcherItemChanged});
    loadWindow();
    delegate->awakeFromNib();
    delegate->applicationWillFinishLaunching();
    delegate->applicationDidFinishLaunching();
    EXPECT_EQ(posts.count(kWatcherDoStopAll), 0u); // both wait for the event loop
    ASSERT_TRUE(processEventsUntil([&] { return posts.count(kWatcherDoStopAll) == 2; }));
    EXPECT_EQ(posts.count(kWatcherItemChanged), 0u);
}

TEST_F(StartupTest, LaunchAgentRunRecordsItsStartAndScansAfterTheStops) {
    testing_support::chooseDestination(home.makeFolder("Backup"));
    NotificationRecorder posts({kWatcherDoStopAll, kWatcherItemChanged});
    launch({"Tolv-Archiver", "-x", "-fromlaunchagent"});
    const auto started = prefs().stringForKey("preflastLaunchctlDate");
    ASSERT_TRUE(started && !started->empty());
    ASSERT_TRUE(processEventsUntil([&] { return widget<QLabel>("lastAgentStartLabel")->text().toStdString() == *started; }));

    ASSERT_TRUE(processEventsUntil([&] { return posts.count(kWatcherItemChanged) == 1; }));
    EXPECT_EQ(posts.names(), (std::vector<std::string>{kWatcherDoStopAll, kWatcherDoStopAll, kWatcherItemChanged}));
    EXPECT_EQ(posts.entries().back().object, delegate.get());
}

// ---- bound settings and display-only keys --------------------------------------------

TEST_F(StartupTest, WindowSettingsWriteTheirKeysAndShowWritesFromAnyThread) {
    launch();
    struct Spin {
        const char* name;
        const char* key;
    };
    for (Spin s : {Spin{"minutesOldSpin", "prefBackupSourceImagesAfterMinutesOld"},
                   Spin{"deleteDaysSpin", "prefDeleteSourceImagesAfterDaysOld"},
                   Spin{"logDaysSpin", "prefDaysToSaveLogs"}}) {
        auto* spin = widget<QSpinBox>(s.name);
        EXPECT_EQ(spin->value(), prefs().integerForKey(s.key)) << s.name; // the factory default shows
        spin->setValue(spin->value() + 7);
        EXPECT_EQ(prefs().integerForKey(s.key), spin->value()) << s.name;
    }
    for (auto [name, key] : {std::pair{"deleteOldCheck", "prefEnableDeleteOldSourceImages"},
                             std::pair{"saveLogsCheck", "prefDoSaveLogs"}}) {
        auto* check = widget<QCheckBox>(name);
        check->click();
        EXPECT_EQ(prefs().boolForKey(key), check->isChecked()) << name;
    }
    std::thread([] {
        prefs().setInteger("prefBackupSourceImagesAfterMinutesOld", 42);
        prefs().setObject("prefNextScheduledLaunchctlTimeDisplayString", "Tuesday 07:05");
    }).join();
    EXPECT_TRUE(processEventsUntil([&] { return widget<QSpinBox>("minutesOldSpin")->value() == 42; }));
    EXPECT_TRUE(processEventsUntil([&] { return widget<QLabel>("nextRunLabel")->text() == "Tuesday 07:05"; }));
    EXPECT_EQ(widget<QLabel>("versionLabel")->text().toStdString(), "Vers: 1.0.0 (1)");
}

// Watching switched on while the launch is still under way (--start-all
// sent right after starting the application) is not undone by the launch's
// own stop requests at 0.1 and 0.2 s.
TEST_F(StartupTest, WatchingSwitchedOnDuringTheLaunchStaysOn) {
    prefs().setObject("prefCameraFolderPathFormat1", home.makeFolder("Shoot/Main").string());
    prefs().setBool("prefCameraFolderPathAliasDataIsValidFormat1", true);
    launch();
    InstanceRequests requests(delegate, window.get(), window->toggleButton(), false);
    EXPECT_EQ(requests.answer(CommandLine::parse({"Tolv-Archiver", "--start-all"})).status, 0);
    const auto afterTheStops = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    processEventsUntil([&] { return std::chrono::steady_clock::now() > afterTheStops; });
    EXPECT_EQ(window->toggleButton()->text().toStdString(), "Turn Off");
    EXPECT_TRUE(processEventsUntil([&] { return row(1)._watcherObj()->_CFRunLoopRef() != nullptr; }));
}

} // namespace
