// The window's fast-archiving switch and its full-pass interval: off and 60
// minutes by the factory defaults, and stored under the keys the watchers read.
#include "core/CommonHeader.h"
#include "support/MainWindowFixture.h"

#include <QCheckBox>
#include <QSpinBox>

#include <gtest/gtest.h>

namespace {

class FastArchivingSettingTest : public testing_support::MainWindowFixture {};

} // namespace

TEST_F(FastArchivingSettingTest, OffByDefaultAndStoredWhenTicked) {
    loadWindow();
    auto* check = window->findChild<QCheckBox*>("fastArchivingCheck");
    ASSERT_NE(check, nullptr);
    EXPECT_TRUE(check->text().startsWith("Fast archiving"));
    EXPECT_FALSE(check->toolTip().isEmpty());
    auto* interval = window->findChild<QSpinBox*>("fullPassSpin");
    ASSERT_NE(interval, nullptr);
    EXPECT_EQ(interval->value(), 60);
    EXPECT_FALSE(interval->isEnabled()) << "it only matters with fast archiving on";
    // Registered as a factory default, not merely absent.
    EXPECT_FALSE(prefs().objectForKey(kPrefUseBatchedSynchronization).isNone());
    EXPECT_FALSE(check->isChecked());

    check->click();
    EXPECT_TRUE(prefs().userObjectForKey(kPrefUseBatchedSynchronization).toBool());
    EXPECT_TRUE(interval->isEnabled());
    interval->setValue(15);
    EXPECT_EQ(prefs().integerForKey(kPrefFullPassIntervalMinutes), 15);
    check->click();
    EXPECT_FALSE(prefs().boolForKey(kPrefUseBatchedSynchronization));
}
