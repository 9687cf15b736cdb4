#include "engines/PassCounts.h"

#include <string>

namespace {

const std::string kCopied = "passCopied";
const std::string kFailed = "passFailed";
const std::string kDeleted = "passDeleted";
const std::string kOldestFailed = "passOldestFailed";
const std::string kLargestFailed = "passLargestFailed";
const std::string kOldestFailedName = "passOldestFailedName";

template <class T>
const T* entry(const platform::UserInfo& info, const std::string& key) {
    auto it = info.find(key);
    return it == info.end() ? nullptr : std::any_cast<T>(&it->second);
}

} // namespace

void PassCounts::addTo(platform::UserInfo& info) const {
    info[kCopied] = copied;
    info[kFailed] = failed;
    info[kDeleted] = deleted;
    info[kLargestFailed] = largestFailedBytes;
    if (oldestFailed) info[kOldestFailed] = *oldestFailed;
    if (!oldestFailedName.empty()) info[kOldestFailedName] = oldestFailedName;
}

std::optional<PassCounts> PassCounts::from(const platform::UserInfo& info) {
    const auto* copied = entry<std::int64_t>(info, kCopied);
    const auto* failed = entry<std::int64_t>(info, kFailed);
    const auto* deleted = entry<std::int64_t>(info, kDeleted);
    if (!copied || !failed || !deleted) return std::nullopt;
    PassCounts counts{*copied, *failed, *deleted, std::nullopt, {}, 0};
    if (const auto* largest = entry<std::uint64_t>(info, kLargestFailed)) counts.largestFailedBytes = *largest;
    if (const auto* oldest = entry<platform::Date>(info, kOldestFailed)) counts.oldestFailed = *oldest;
    if (const auto* name = entry<std::string>(info, kOldestFailedName)) counts.oldestFailedName = *name;
    return counts;
}
