#pragma once
// When will the files that a pass left behind as too young have settled?

#include <chrono>
#include <filesystem>
#include <optional>

namespace SettleTime {

using Clock = std::chrono::system_clock;

// The moment at which the youngest regular file below folder (depth 1 or
// more) that the copy run's modification-time test does not select yet
// will be selected; nullopt when every file has settled, when
// minutes is 0 (no age test), or when the folder cannot be read.
std::optional<Clock::time_point> nextSettleMoment(const std::filesystem::path& folder, long minutes, Clock::time_point now);

} // namespace SettleTime
