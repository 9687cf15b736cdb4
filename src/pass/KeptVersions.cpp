#include "pass/KeptVersions.h"

#include "core/CommonHeader.h"
#include "core/Settings.h"
#include "pass/FreeSpaceFloor.h"

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
    return std::to_string(count) + (count == 1 ? " kept version, " : " kept versions, ") +
           FreeSpaceFloor::gigabytes(static_cast<std::uintmax_t>(bytes));
}
