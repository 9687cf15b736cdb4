#include "core/KeptVersions.h"

#include "core/CommonHeader.h"
#include "core/Settings.h"

#include <cstdio>

using platform::Value;

std::optional<KeptVersions> KeptVersions::stored() {
    const Value value = Settings::stored(kPrefKeptVersions);
    if (!value.isDictionary() || !value["countedAt"].date()) return std::nullopt;
    KeptVersions kept;
    kept.count = value["count"].toInteger();
    kept.bytes = value["bytes"].toInteger();
    kept.destination = value["destination"].toString().value_or("");
    kept.countedAt = *value["countedAt"].date();
    return kept;
}

void KeptVersions::store() const {
    Settings::store(kPrefKeptVersions, Value(Value::Dictionary{{"count", Value(count)},
                                                               {"bytes", Value(bytes)},
                                                               {"destination", Value(destination)},
                                                               {"countedAt", Value(countedAt)}}));
}

std::string KeptVersions::text() const {
    if (count == 0) return "";
    char size[32];
    std::snprintf(size, sizeof size, "%.1f GB", static_cast<double>(bytes) / 1e9);
    return std::to_string(count) + (count == 1 ? " kept version, " : " kept versions, ") + size;
}
