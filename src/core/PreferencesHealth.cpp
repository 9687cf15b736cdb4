#include "core/PreferencesHealth.h"

#include "platform/preferences/UserDefaults.h"
#include "platform/runtime/Log.h"

using platform::UserDefaults;

namespace {

const char* const kDamagedKey = "prefPreferencesDamaged";

} // namespace

namespace PreferencesHealth {

std::string problem() {
    auto& store = UserDefaults::standard();
    std::string reason = store.damage();
    if (reason.empty()) reason = store.userObjectForKey(kDamagedKey).toString().value_or("");
    return reason.empty() ? "" : "preferences damaged: " + reason;
}

void noteAtStart() {
    auto& store = UserDefaults::standard();
    if (!store.damage().empty()) {
        store.setObject(kDamagedKey, platform::Value(store.damage()));
        store.synchronize();
    }
    if (const std::string text = problem(); !text.empty())
        platform::logf("ERROR: %s; nothing is archived until the folders are chosen again", text.c_str());
}

void foldersChosen() {
    auto& store = UserDefaults::standard();
    if (store.userObjectForKey(kDamagedKey).isNone()) return;
    store.removeObjectForKey(kDamagedKey);
    platform::logf("The folders are chosen again: the lost preferences are no longer reported");
}

} // namespace PreferencesHealth
