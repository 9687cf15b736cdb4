#include "tools/SettleTime.h"

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

} // namespace

Clock::time_point modifiedAt(fs::file_time_type written) {
    return std::chrono::time_point_cast<Clock::duration>(fs::file_time_type::clock::to_sys(written));
}

bool isYoung(Clock::time_point modified, long minutes, Clock::time_point now) {
    return minutes > 0 && now - modified < settleAge(minutes);
}

Clock::time_point settledAt(Clock::time_point modified, long minutes) { return modified + settleAge(minutes) + kMargin; }

YoungFiles youngFiles(const fs::path& folder, long minutes, Clock::time_point now) {
    YoungFiles young;
    if (minutes <= 0) return young;
    std::optional<Clock::time_point> youngest;
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        std::error_code fileEc;
        if (!it->is_regular_file(fileEc) || it->is_symlink(fileEc)) continue;
        auto written = it->last_write_time(fileEc);
        if (fileEc) continue; // vanished during the walk
        const auto modified = modifiedAt(written);
        if (!isYoung(modified, minutes, now)) continue;
        ++young.count;
        if (!youngest || modified > *youngest) youngest = modified;
        if (!young.oldest || modified < *young.oldest) young.oldest = modified;
    }
    if (youngest) young.settleMoment = settledAt(*youngest, minutes);
    return young;
}

std::optional<Clock::time_point> nextSettleMoment(const fs::path& folder, long minutes, Clock::time_point now) {
    return youngFiles(folder, minutes, now).settleMoment;
}

} // namespace SettleTime
