#include "core/PreferencesHealth.h"
#include "core/Settings.h"

#include "platform/runtime/Log.h"

namespace {

const char* const kDamagedKey = "prefPreferencesDamaged";

} // namespace

namespace PreferencesHealth {

std::string problem() {
    std::string reason = Settings::storeDamage();
    if (reason.empty()) reason = Settings::storedByUser(kDamagedKey).toString().value_or("");
    return reason.empty() ? "" : "preferences damaged: " + reason;
}

void noteAtStart() {
    if (const std::string damage = Settings::storeDamage(); !damage.empty()) {
        Settings::store(kDamagedKey, platform::Value(damage));
        Settings::save();
    }
    if (const std::string text = problem(); !text.empty())
        platform::logf("ERROR: %s; nothing is archived until the folders are chosen again", text.c_str());
}

void foldersChosen() {
    if (Settings::storedByUser(kDamagedKey).isNone()) return;
    Settings::forget(kDamagedKey);
    platform::logf("The folders are chosen again: the lost preferences are no longer reported");
}

} // namespace PreferencesHealth
