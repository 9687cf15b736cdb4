#pragma once
// The values of a set of keys, read from the store at once: whatever is
// decided from them sees one consistent set, and the store is asked once.
// A key the snapshot was not made with is read from the store when asked.

#include "platform/preferences/Value.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace platform {

class PreferenceSnapshot {
public:
    static PreferenceSnapshot read(const std::vector<std::string>& keys);

    Value object(const std::string& key) const;
    // As UserDefaults::stringForKey.
    std::optional<std::string> string(const std::string& key) const;

private:
    std::map<std::string, Value> values_;
};

} // namespace platform
