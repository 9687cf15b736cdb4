#include "platform/preferences/PreferenceSnapshot.h"

#include "platform/preferences/UserDefaults.h"

namespace platform {

PreferenceSnapshot PreferenceSnapshot::read(const std::vector<std::string>& keys) {
    PreferenceSnapshot snapshot;
    const std::vector<Value> values = UserDefaults::standard().objectsForKeys(keys);
    for (std::size_t i = 0; i < keys.size() && i < values.size(); ++i) snapshot.values_[keys[i]] = values[i];
    return snapshot;
}

Value PreferenceSnapshot::object(const std::string& key) const {
    const auto it = values_.find(key);
    return it != values_.end() ? it->second : UserDefaults::standard().objectForKey(key);
}

std::optional<std::string> PreferenceSnapshot::string(const std::string& key) const {
    return object(key).toString();
}

} // namespace platform
