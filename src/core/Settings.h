#pragma once
// Every setting the archiving reads from the preferences, declared once:
// its key, its type and the value it has while never stored (or stored as
// something that is not a number). FactoryDefault.plist is the stored form
// of the same defaults, registered at start-up; a test keeps the two equal.
//
// Settings::read() takes one snapshot of the values of the moment, so that
// whatever is built from it (a pass, a state line) sees one consistent set.

#include "platform/preferences/PreferenceSnapshot.h"
#include "platform/preferences/Value.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct Settings {
    long settleMinutes = 20;           // prefBackupSourceImagesAfterMinutesOld; 0: copy at once
    bool deleting = false;             // prefEnableDeleteOldSourceImages
    long deleteAfterDays = 30;         // prefDeleteSourceImagesAfterDaysOld
    bool fast = false;                 // prefUseBatchedSynchronization
    double fullPassMinutes = 60;       // prefFullPassIntervalMinutes; 0 or less: none
    std::int64_t minimumFreeMB = 1024; // prefMinimumFreeSpaceMB; 0: no floor
    long lagAlarmMinutes = 60;         // prefBackupLagAlarmMinutes; 0: no alarm
    long verifyArchiveDays = 30;       // prefVerifyArchiveDays; 0: no rolling check
    std::int64_t daysToSaveLogs = 14;  // prefDaysToSaveLogs
    bool saveLogs = false;             // prefDoSaveLogs

    static Settings read();
    static Settings from(const platform::PreferenceSnapshot& stored);

    // One read of everything a pass decides from: these settings, every
    // slot's folder reference and switch, and the destination's archive ID.
    static platform::PreferenceSnapshot readForPass();

    // A folder's enable switch that was never stored counts as on.
    static bool switchedOn(const platform::Value& stored);
    // The switch of a slot as stored; the destination has none and is on.
    static bool slotSwitchedOn(int slot);

    // A slot's folder as stored, in one read: its path, whether its
    // reference validated when last looked at, and its switch.
    struct Folder {
        std::optional<std::string> path;
        bool valid = false;
        platform::Value enable; // as stored: a stream needs it set, a pass counts it unset as on
        bool switchedOn() const { return Settings::switchedOn(enable); }
    };
    static Folder folder(const std::map<std::string, std::string>& slotParams);
    static Folder folder(int slot);
    // A slot's switch from its folder as read; the destination has none and is on.
    static bool slotSwitchedOn(int slot, const Folder& folder);

    // The store beyond the table: the slot table's keys, the destination's
    // and the station's IDs, the user's log choice. Outside the platform
    // layer only the start-up, the schedule and the stored pass results
    // reach the store otherwise.
    static platform::Value stored(const std::string& key); // None when absent
    // As the user set it: a registered default does not count.
    static platform::Value storedByUser(const std::string& key);
    static std::optional<std::string> storedString(const std::string& key);
    static bool storedBool(const std::string& key);                          // NO when absent
    static void store(const std::string& key, const platform::Value& value); // None removes
    static void forget(const std::string& key);
    // Writes the store to its file; false when it could not.
    static bool save();
    // Why the store's file could not be read, "" when it could.
    static std::string storeDamage();
    // Called on the changing thread whenever the key's value changes.
    using ObserverId = std::uint64_t;
    static ObserverId observe(const std::string& key, std::function<void()> changed);
    static void stopObserving(ObserverId id);

    // The table itself, for the test that holds it equal to the factory file.
    struct Entry {
        const std::string& key;
        platform::Value defaultValue;
    };
    static std::vector<Entry> table();
};
