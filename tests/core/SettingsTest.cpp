#include "core/Settings.h"

#include "core/CommonHeader.h"
#include "platform/preferences/UserDefaults.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

using platform::Value;

TEST(SettingsTest, AStoredNumberReplacesTheDefaultAndAnythingElseLeavesIt) {
    testing_support::TempHome home;
    auto& prefs = platform::UserDefaults::standard();
    struct Case {
        Value stored;
        long settle;
        std::int64_t floorMB;
        bool deleting;
    } cases[] = {
        {Value(), 20, 1024, false},             // never stored
        {Value(std::int64_t{0}), 0, 0, false},  // 0 means none
        {Value(std::int64_t{-5}), -5, 0, true}, // a floor below zero is none
        {Value(std::int64_t{7}), 7, 7, true},
        {Value(std::string("12")), 20, 1024, true}, // not a number: the default
        {Value(true), 1, 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored.description());
        for (const std::string& key :
             {kPrefBackupSourceImagesAfterMinutesOld, kPrefMinimumFreeSpaceMB, kPrefEnableDeleteOldSourceImages})
            c.stored.isNone() ? prefs.removeObjectForKey(key) : prefs.setObject(key, c.stored);
        const Settings s = Settings::read();
        EXPECT_EQ(s.settleMinutes, c.settle);
        EXPECT_EQ(s.minimumFreeMB, c.floorMB);
        EXPECT_EQ(s.deleting, c.deleting);
    }
}

TEST(SettingsTest, AnUnsetSwitchIsOnAndTheDestinationHasNone) {
    testing_support::TempHome home;
    auto& prefs = platform::UserDefaults::standard();
    EXPECT_TRUE(Settings::switchedOn(Value()));
    EXPECT_FALSE(Settings::switchedOn(Value(false)));
    const std::string key = CommonHeader::slotParameters(2).at(sPrefCameraFolderPathEnableKey);
    EXPECT_TRUE(Settings::slotSwitchedOn(2));
    prefs.setBool(key, false);
    EXPECT_FALSE(Settings::slotSwitchedOn(2));
    EXPECT_TRUE(Settings::slotSwitchedOn(CommonHeader::kDestinationSlot));
}
