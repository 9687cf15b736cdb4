// The window's fast-archiving switch: off by the factory default, and
// stored under the key the archive pass reads.
#include "core/CommonHeader.h"
#include "support/MainWindowFixture.h"

#include <QCheckBox>

#include <gtest/gtest.h>

namespace {

class FastArchivingSettingTest : public testing_support::MainWindowFixture {};

} // namespace

TEST_F(FastArchivingSettingTest, OffByDefaultAndStoredWhenTicked) {
    loadWindow();
    auto* check = window->findChild<QCheckBox*>("fastArchivingCheck");
    ASSERT_NE(check, nullptr);
    EXPECT_EQ(check->text(), "Fast archiving (one rsync run per pass)");
    EXPECT_FALSE(check->toolTip().isEmpty());
    // Registered as a factory default, not merely absent.
    EXPECT_FALSE(prefs().objectForKey(kPrefUseBatchedSynchronization).isNone());
    EXPECT_FALSE(check->isChecked());

    check->click();
    EXPECT_TRUE(prefs().userObjectForKey(kPrefUseBatchedSynchronization).toBool());
    check->click();
    EXPECT_FALSE(prefs().boolForKey(kPrefUseBatchedSynchronization));
}
