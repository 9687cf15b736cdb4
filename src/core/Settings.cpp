#include "core/Settings.h"

#include "core/ArchiveDestination.h"
#include "core/CommonHeader.h"
#include "platform/preferences/UserDefaults.h"

#include <algorithm>
#include <type_traits>

namespace {

// How each field is read: a stored number (or switch) replaces the default.
template <class T>
void take(const platform::Value& stored, T& field) {
    if constexpr (std::is_same_v<T, bool>) {
        if (!stored.isNone()) field = stored.toBool();
    } else if constexpr (std::is_floating_point_v<T>) {
        if (stored.isNumber()) field = static_cast<T>(stored.toDouble());
    } else {
        if (stored.isNumber()) field = static_cast<T>(stored.toInteger());
    }
}

// Each field with its key; the defaults are the member initialisers.
template <class Visit>
void eachField(Settings& s, Visit visit) {
    visit(kPrefBackupSourceImagesAfterMinutesOld, s.settleMinutes);
    visit(kPrefEnableDeleteOldSourceImages, s.deleting);
    visit(kPrefDeleteSourceImagesAfterDaysOld, s.deleteAfterDays);
    visit(kPrefUseBatchedSynchronization, s.fast);
    visit(kPrefFullPassIntervalMinutes, s.fullPassMinutes);
    visit(kPrefMinimumFreeSpaceMB, s.minimumFreeMB);
    visit(kPrefBackupLagAlarmMinutes, s.lagAlarmMinutes);
    visit(kPrefVerifyArchiveDays, s.verifyArchiveDays);
    visit(kPrefDaysToSaveLogs, s.daysToSaveLogs);
    visit(kPrefDoSaveLogs, s.saveLogs);
}

std::vector<std::string> settingKeys() {
    Settings s;
    std::vector<std::string> keys;
    eachField(s, [&](const std::string& key, auto&) { keys.push_back(key); });
    return keys;
}

} // namespace

// One read of all of them: a setting changed meanwhile is in none or all.
Settings Settings::read() { return from(platform::PreferenceSnapshot::read(settingKeys())); }

Settings Settings::from(const platform::PreferenceSnapshot& stored) {
    Settings s;
    eachField(s, [&](const std::string& key, auto& field) { take(stored.object(key), field); });
    // Below zero means none, as zero does.
    s.minimumFreeMB = std::max<std::int64_t>(0, s.minimumFreeMB);
    s.lagAlarmMinutes = std::max(0L, s.lagAlarmMinutes);
    return s;
}

platform::PreferenceSnapshot Settings::readForPass() {
    std::vector<std::string> keys = settingKeys();
    for (int slot = 0; slot < CommonHeader::kSlotCount; ++slot) {
        const ParamDictionary slotKeys = CommonHeader::slotParameters(slot);
        for (const auto& [name, key] : CommonHeader::folderReferenceParameters(slotKeys)) keys.push_back(key);
        if (slot != CommonHeader::kDestinationSlot) keys.push_back(slotKeys.at(sPrefCameraFolderPathEnableKey));
    }
    keys.push_back(ArchiveDestination::kIdKey);
    return platform::PreferenceSnapshot::read(keys);
}

std::vector<Settings::Entry> Settings::table() {
    std::vector<Entry> entries;
    Settings defaults;
    eachField(defaults, [&](const std::string& key, auto& field) {
        using T = std::remove_reference_t<decltype(field)>;
        // The factory file stores every number as an integer.
        if constexpr (std::is_same_v<T, bool>)
            entries.push_back({key, platform::Value(field)});
        else
            entries.push_back({key, platform::Value(static_cast<std::int64_t>(field))});
    });
    return entries;
}

bool Settings::switchedOn(const platform::Value& stored) { return stored.isNone() || stored.toBool(); }

bool Settings::slotSwitchedOn(int slot) { return slotSwitchedOn(slot, folder(slot)); }

bool Settings::slotSwitchedOn(int slot, const Folder& folder) {
    return slot == CommonHeader::kDestinationSlot || folder.switchedOn();
}

Settings::Folder Settings::folder(const std::map<std::string, std::string>& slotParams) {
    const std::string pathKey = CommonHeader::param(slotParams, sPrefCameraFolderPathKey);
    const std::string validKey = CommonHeader::param(slotParams, sPrefCameraFolderPathAliasDataIsValidKey);
    const std::string enableKey = CommonHeader::param(slotParams, sPrefCameraFolderPathEnableKey);
    std::vector<std::string> keys;
    for (const auto& key : {pathKey, validKey, enableKey})
        if (!key.empty()) keys.push_back(key);
    const auto stored = platform::PreferenceSnapshot::read(keys);
    Folder f;
    if (!pathKey.empty()) f.path = stored.string(pathKey);
    f.valid = !validKey.empty() && stored.object(validKey).toBool();
    if (!enableKey.empty()) f.enable = stored.object(enableKey);
    return f;
}

Settings::Folder Settings::folder(int slot) { return folder(CommonHeader::slotParameters(slot)); }

// ---- the store ------------------------------------------------------------------

using platform::UserDefaults;

platform::Value Settings::stored(const std::string& key) { return UserDefaults::standard().objectForKey(key); }

platform::Value Settings::storedByUser(const std::string& key) {
    return UserDefaults::standard().userObjectForKey(key);
}

std::optional<std::string> Settings::storedString(const std::string& key) {
    return UserDefaults::standard().stringForKey(key);
}

bool Settings::storedBool(const std::string& key) { return UserDefaults::standard().boolForKey(key); }

void Settings::store(const std::string& key, const platform::Value& value) {
    UserDefaults::standard().setObject(key, value);
}

void Settings::forget(const std::string& key) { UserDefaults::standard().removeObjectForKey(key); }

bool Settings::save() { return UserDefaults::standard().synchronize(); }

std::string Settings::storeDamage() { return UserDefaults::standard().damage(); }

Settings::ObserverId Settings::observe(const std::string& key, std::function<void()> changed) {
    return UserDefaults::standard().addObserver(
        key, [changed = std::move(changed)](const std::string&, const platform::Value&) { changed(); });
}

void Settings::stopObserving(ObserverId id) { UserDefaults::standard().removeObserver(id); }
