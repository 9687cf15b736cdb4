#pragma once
// When is a file settled, as the copy run's walk decides it, and when will
// the files that a pass left behind as too young have settled?

#include <chrono>
#include <filesystem>
#include <optional>

namespace SettleTime {

using Clock = std::chrono::system_clock;

Clock::time_point modifiedAt(std::filesystem::file_time_type written);
// The walk has not selected a file modified at `modified` yet (never with
// minutes 0: no age test).
bool isYoung(Clock::time_point modified, long minutes, Clock::time_point now);
// A moment at which the walk surely selects it.
Clock::time_point settledAt(Clock::time_point modified, long minutes);

// The regular files below a folder (depth 1 or more) that the copy run's
// walk does not select yet: how many, the oldest one's modification time,
// and the moment at which the youngest will be selected. None with minutes
// 0 (no age test) or when the folder cannot be read.
struct YoungFiles {
    long count = 0;
    std::optional<Clock::time_point> oldest;
    std::optional<Clock::time_point> settleMoment;
};
YoungFiles youngFiles(const std::filesystem::path& folder, long minutes, Clock::time_point now);

// The moment at which the youngest regular file below folder (depth 1 or
// more) that the copy run's modification-time test does not select yet
// will be selected; nullopt when every file has settled, when
// minutes is 0 (no age test), or when the folder cannot be read.
std::optional<Clock::time_point> nextSettleMoment(const std::filesystem::path& folder, long minutes, Clock::time_point now);

} // namespace SettleTime
