#include "watch/SettleTime.h"

#include <system_error>

namespace fs = std::filesystem;

namespace SettleTime {
namespace {

// The copy run's find counts a file's age in whole minutes, rounded down,
// and selects it once that count exceeds the setting: a file is taken when
// it is (minutes + 1) full minutes old. A second more is surely past that.
constexpr std::chrono::seconds kMargin{1};

} // namespace

std::optional<Clock::time_point> nextSettleMoment(const fs::path& folder, long minutes, Clock::time_point now) {
    if (minutes <= 0) return std::nullopt;
    const auto settle = std::chrono::minutes(minutes + 1);
    std::optional<Clock::time_point> youngest;
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        std::error_code fileEc;
        if (!it->is_regular_file(fileEc) || it->is_symlink(fileEc)) continue;
        auto written = it->last_write_time(fileEc);
        if (fileEc) continue; // vanished during the walk
        auto modified = std::chrono::time_point_cast<Clock::duration>(std::chrono::file_clock::to_sys(written));
        if (now - modified >= settle) continue;
        if (!youngest || modified > *youngest) youngest = modified;
    }
    if (!youngest) return std::nullopt;
    return *youngest + settle + kMargin;
}

} // namespace SettleTime
