#include "core/SettleTime.h"

#include "platform/desktop/FileAttributes.h"

#include <algorithm>
#include <system_error>

namespace fs = std::filesystem;

namespace SettleTime {
namespace {

// The copy run's find counts a file's age in whole minutes, rounded down,
// and selects it once that count exceeds the setting: a file is taken when
// it is (minutes + 1) full minutes old.
std::chrono::minutes settleAge(long minutes) { return std::chrono::minutes(minutes + 1); }
// A second more is surely past that.
constexpr std::chrono::seconds kMargin{1};
// Shares and other machines' clocks drift by seconds, not by a minute.
constexpr std::chrono::minutes kClockDrift{1};

bool isAhead(Clock::time_point t, Clock::time_point now) { return t > now + kClockDrift; }
bool isDatedAhead(const Times& times) { return times.modified > times.changed + kClockDrift; }
bool isOld(Clock::time_point t, long minutes, Clock::time_point now) { return now - t >= settleAge(minutes); }

// The time the settle test reads. A file whose modification time lies
// ahead of the moment this machine last changed it carries a date that a
// camera's clock set, not one of a write here (a write sets both to now):
// it is judged by that change. A file with both times ahead (a FAT card
// keeps the camera's time for both) has nothing this machine saw to hold
// it back.
std::optional<Clock::time_point> judgedBy(const Times& times, Clock::time_point now) {
    if (isAhead(times.modified, now) && isAhead(times.changed, now)) return std::nullopt;
    if (isDatedAhead(times)) return times.changed;
    return times.modified;
}

} // namespace

std::optional<Times> ofFile(const fs::path& file) {
    const auto attributes = platform::FileAttributes::ofItem(file);
    if (!attributes || !attributes->isRegularFile) return std::nullopt;
    return Times{attributes->modificationDate, attributes->statusChangeDate};
}

bool isYoung(const Times& times, long minutes, Clock::time_point now) {
    const auto judged = judgedBy(times, now);
    return minutes > 0 && judged && !isOld(*judged, minutes, now);
}

Clock::time_point settledAt(const Times& times, long minutes, Clock::time_point now) {
    return judgedBy(times, now).value_or(now - settleAge(minutes)) + settleAge(minutes) + kMargin;
}

bool isDatedInTheFuture(const Times& times, Clock::time_point now) { return isAhead(times.modified, now); }


Clock::time_point waitingSince(const Times& times, Clock::time_point now) {
    Clock::time_point since = now;
    for (const auto t : {times.modified, times.changed})
        if (t <= now) since = std::min(since, t);
    return since;
}

bool isJudgedByItsChange(const Times& times, Clock::time_point now) {
    return isDatedAhead(times) || (isAhead(times.modified, now) && isAhead(times.changed, now));
}

YoungFiles youngFiles(const fs::path& folder, long minutes, Clock::time_point now) {
    YoungFiles young;
    if (minutes <= 0) return young;
    std::optional<Clock::time_point> settles;
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        const auto times = ofFile(it->path());
        if (!times) continue; // not a regular file, or vanished during the walk
        if (isDatedInTheFuture(*times, now)) ++young.futureDated;
        if (isYoung(*times, minutes, now)) {
            ++young.count;
            const auto moment = settledAt(*times, minutes, now);
            if (!settles || moment > *settles) settles = moment;
            const auto since = waitingSince(*times, now);
            if (!young.oldest || since < *young.oldest) young.oldest = since;
        } else if (isJudgedByItsChange(*times, now)) {
            young.settledByChange.push_back(it->path().string());
        }
    }
    young.settleMoment = settles;
    return young;
}

} // namespace SettleTime
