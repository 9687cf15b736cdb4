#pragma once
// When is a file settled, as the copy run's walk decides it, and when will
// the files that a pass left behind as too young have settled?
//
// A file is settled once it has not been modified for the settle time. A
// file whose modification time lies ahead of the time this machine last
// changed it (its status change) carries a date a camera's clock set: it
// is judged by that change, so a photo dated in the future settles like any
// other. The copy run's find selects by modification time alone: files
// judged by their change are handed to a listed copy instead
// (YoungFiles::settledByChange).

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace SettleTime {

using Clock = std::chrono::system_clock;

struct Times {
    Clock::time_point modified;
    Clock::time_point changed;
};

// A regular file's times, not following a link; nullopt when it is not
// there or not a regular file.
std::optional<Times> ofFile(const std::filesystem::path& file);

// The walk has not selected a file with these times yet (never with
// minutes 0: no age test).
bool isYoung(const Times& times, long minutes, Clock::time_point now);
// A moment at which the walk surely selects it.
Clock::time_point settledAt(const Times& times, long minutes, Clock::time_point now);
// Its modification time lies ahead of this machine's clock by more than
// a clock's usual drift: a camera clock set wrong.
bool isDatedInTheFuture(const Times& times, Clock::time_point now);
// Since when the file has waited, as far as this machine can tell: the
// earlier of its times that are not in the future, else now.
Clock::time_point waitingSince(const Times& times, Clock::time_point now);

// The regular files below a folder (depth 1 or more) that the copy run's
// walk does not select yet: how many, since when the oldest one waits, and
// the moment at which the youngest will be selected; how many regular
// files are dated in the future; and the settled ones that the walk never
// selects because they are judged by their change, as absolute paths.
// Nothing with minutes 0 (no age test) but the count of future dates.
struct YoungFiles {
    long count = 0;
    std::optional<Clock::time_point> oldest;
    std::optional<Clock::time_point> settleMoment;
    long futureDated = 0;
    std::vector<std::string> settledByChange;
};
YoungFiles youngFiles(const std::filesystem::path& folder, long minutes, Clock::time_point now);

} // namespace SettleTime
