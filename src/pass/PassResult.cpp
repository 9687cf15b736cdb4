#include "pass/PassResult.h"

#include "core/CommonHeader.h"
#include "platform/preferences/UserDefaults.h"

#include <algorithm>
#include <cstdio>

using platform::Value;

namespace {

const char* const kEnded = "ended";
const char* const kCopied = "copied";
const char* const kFailed = "failed";
const char* const kDeleted = "deleted";
const char* const kWaiting = "waiting";
const char* const kSeconds = "seconds";
const char* const kError = "error";
const char* const kOldestUnarchived = "oldestUnarchived";
const char* const kFirstFailed = "firstFailed";
const char* const kFast = "fast";
const char* const kFutureDated = "futureDated";

// Counts never go below zero, whatever a hand-edited file says.
std::int64_t count(const Value& v) { return v.isNumber() ? std::max<std::int64_t>(0, v.toInteger()) : 0; }

} // namespace

PassResult PassResult::unstarted(int slot, const std::string& why) {
    PassResult result;
    result.ended = std::chrono::system_clock::now();
    result.error = why;
    const auto previous = load(slot);
    result.oldestUnarchived = previous && previous->oldestUnarchived ? previous->oldestUnarchived : result.ended;
    return result;
}

std::string PassResult::preferenceKey(int slot) {
    char key[48];
    std::snprintf(key, sizeof key, "prefWatcherObject%02iLastPass", slot);
    return key;
}

std::string PassResult::lastArchivedKey(int slot) {
    char key[48];
    std::snprintf(key, sizeof key, "prefWatcherObject%02iLastArchived", slot);
    return key;
}

std::optional<PassResult> PassResult::load(int slot) { return loadFrom(preferenceKey(slot)); }

std::optional<PassResult> PassResult::loadLastArchived(int slot) {
    if (auto archived = loadFrom(lastArchivedKey(slot))) return archived;
    // Kept before the two were told apart: the last pass, if it archived.
    auto last = load(slot);
    return last && last->error.empty() ? last : std::nullopt;
}

std::optional<PassResult> PassResult::loadFrom(const std::string& key) {
    const Value stored = platform::UserDefaults::standard().objectForKey(key);
    const auto ended = stored[kEnded].date();
    if (!stored.isDictionary() || !ended) return std::nullopt;
    PassResult r;
    r.ended = *ended;
    r.copied = count(stored[kCopied]);
    r.failed = count(stored[kFailed]);
    r.deleted = count(stored[kDeleted]);
    r.waiting = count(stored[kWaiting]);
    r.seconds = stored[kSeconds].isNumber() ? std::max(0.0, stored[kSeconds].toDouble()) : 0;
    r.error = stored[kError].toString().value_or("");
    r.oldestUnarchived = stored[kOldestUnarchived].date();
    r.firstFailed = stored[kFirstFailed].toString().value_or("");
    r.fast = stored[kFast].toBool();
    r.futureDated = count(stored[kFutureDated]);
    return r;
}

void PassResult::store(int slot) const {
    Value::Dictionary d{{kEnded, Value(ended)},     {kCopied, Value(copied)},   {kFailed, Value(failed)},
                        {kDeleted, Value(deleted)}, {kWaiting, Value(waiting)}, {kSeconds, Value(seconds)},
                        {kError, Value(error)}};
    if (oldestUnarchived) d[kOldestUnarchived] = Value(*oldestUnarchived);
    if (!firstFailed.empty()) d[kFirstFailed] = Value(firstFailed);
    d[kFast] = Value(fast);
    if (futureDated > 0) d[kFutureDated] = Value(futureDated);
    auto& prefs = platform::UserDefaults::standard();
    // A pass refused or spoiled by a problem does not hide the last one
    // that archived the folder.
    if (error.empty()) prefs.setObject(lastArchivedKey(slot), Value(d));
    prefs.setObject(preferenceKey(slot), Value(std::move(d)));
    prefs.synchronize();
}

std::string PassResult::futureNote() const {
    if (futureDated <= 0) return "";
    return " · " + std::to_string(futureDated) + (futureDated == 1 ? " photo" : " photos") +
           " dated in the future (camera clock?)";
}

std::string PassResult::counts() const {
    return std::to_string(copied) + " copied, " + std::to_string(failed) + " failed, " + std::to_string(deleted) +
           " deleted, " + std::to_string(waiting) + " waiting";
}

std::string PassResult::summary(const std::string& folder) const {
    char duration[32];
    std::snprintf(duration, sizeof duration, "%.2f s", seconds);
    return "pass of " + folder + ": " + counts() + ", " + duration;
}

void PassResult::markRunning(int slot, bool running) {
    auto& prefs = platform::UserDefaults::standard();
    const std::string key = CommonHeader::inProgressKey(slot);
    if (running) prefs.setBool(key, true);
    else prefs.removeObjectForKey(key);
    prefs.synchronize();
}
