#include "tools/SettleTime.h"

#include "platform/desktop/FileAttributes.h"
#include "tools/FindRequest.h"

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
constexpr std::chrono::minutes kClockDrift = FindRequest::kClockDrift;

bool isAhead(Clock::time_point t, Clock::time_point now) { return t > now + kClockDrift; }
bool isOld(Clock::time_point t, long minutes, Clock::time_point now) { return now - t >= settleAge(minutes); }

// The time the settle test reads: the modification time, or for a file
// dated in the future, when this machine changed it.
std::optional<Clock::time_point> judgedBy(const Times& times, Clock::time_point now) {
    if (!isAhead(times.modified, now)) return times.modified;
    if (!isAhead(times.changed, now)) return times.changed;
    return std::nullopt; // both ahead: nothing this machine saw holds it back
}

} // namespace

std::optional<Times> ofFile(const fs::path& file) {
    const auto attributes = platform::FileAttributes::ofItem(file);
    if (!attributes || !attributes->isRegularFile) return std::nullopt;
    return Times{attributes->modificationDate, attributes->statusChangeDate};
}

Clock::time_point modifiedAt(fs::file_time_type written) {
    return std::chrono::time_point_cast<Clock::duration>(fs::file_time_type::clock::to_sys(written));
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
        if (!isYoung(*times, minutes, now)) continue;
        ++young.count;
        const auto moment = settledAt(*times, minutes, now);
        if (!settles || moment > *settles) settles = moment;
        const auto since = waitingSince(*times, now);
        if (!young.oldest || since < *young.oldest) young.oldest = since;
    }
    young.settleMoment = settles;
    return young;
}

} // namespace SettleTime
