#include "core/ArchiveHealth.h"

#include "core/CommonHeader.h"
#include "core/Settings.h"

namespace {

using platform::Value;

std::string keyFor(int slot) { return kPrefArchiveCheck + "Format" + std::to_string(slot); }

Value::Array listOf(const std::set<std::string>& paths) {
    Value::Array list;
    for (const auto& path : paths) list.emplace_back(path);
    return list;
}

std::set<std::string> setOf(const Value& stored) {
    std::set<std::string> paths;
    if (const auto* list = stored.array())
        for (const auto& item : *list)
            if (const auto* path = item.string()) paths.insert(*path);
    return paths;
}

void putDate(Value::Dictionary& d, const char* key, const std::optional<platform::Date>& date) {
    if (date) d[key] = Value(*date);
}

// "a.jpg", "a.jpg (and 2 more)".
std::string named(const std::set<std::string>& paths) {
    std::string text = *paths.begin();
    if (paths.size() > 1) text += " (and " + std::to_string(paths.size() - 1) + " more)";
    return text;
}

} // namespace

ArchiveHealth ArchiveHealth::stored(int slot) {
    ArchiveHealth h;
    const Value value = Settings::stored(keyFor(slot));
    if (!value.isDictionary()) return h;
    h.archive = value["archive"].toString().value_or("");
    h.damaged = setOf(value["damaged"]);
    h.missing = setOf(value["missing"]);
    h.next = value["next"].toString().value_or("");
    h.owed = std::max<std::int64_t>(0, value["owed"].toInteger());
    h.accountedTo = value["accountedTo"].date();
    h.readThrough = value["readThrough"].date();
    h.lastRead = value["lastRead"].date();
    h.lastShare = value["lastShare"].toInteger();
    h.recorded = value["recorded"].toInteger();
    return h;
}

void ArchiveHealth::store(int slot) const {
    Value::Dictionary d{{"archive", Value(archive)},
                        {"damaged", Value(listOf(damaged))},
                        {"missing", Value(listOf(missing))},
                        {"next", Value(next)},
                        {"owed", Value(owed)},
                        {"lastShare", Value(lastShare)},
                        {"recorded", Value(recorded)}};
    putDate(d, "accountedTo", accountedTo);
    putDate(d, "readThrough", readThrough);
    putDate(d, "lastRead", lastRead);
    Settings::store(keyFor(slot), Value(std::move(d)));
}

void ArchiveHealth::found(const std::string& path, bool isDamaged, bool isMissing) {
    if (isDamaged)
        damaged.insert(path);
    else
        damaged.erase(path);
    if (isMissing)
        missing.insert(path);
    else
        missing.erase(path);
}

std::string ArchiveHealth::problem() const {
    std::string text;
    if (!damaged.empty()) text = "damaged in the archive; no other copy: " + named(damaged);
    if (!missing.empty())
        text += (text.empty() ? "" : "; ") + std::string("missing from the archive: ") + named(missing);
    return text;
}
