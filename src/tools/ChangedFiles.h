#pragma once
// The files an incremental pass copies: the regular files directly inside
// the folders that events named, selected as a full pass's walk selects
// them (depth 1 or more below the source, not a link, unmodified for the
// settle time), and what it leaves for later: the folders that still hold
// files too young, and when the youngest of those will have settled.

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

struct ChangedFiles {
    using Clock = std::chrono::system_clock;

    std::vector<std::string> files;        // "./" + the path below the source
    std::vector<std::string> youngFolders; // as they were named
    std::optional<Clock::time_point> settleMoment;
    long youngCount = 0; // files too young, and the oldest one's modification time
    std::optional<Clock::time_point> oldestYoung;

    // Folders outside the source, gone, or reached through a link are
    // skipped: a full pass would not look there either.
    static ChangedFiles list(const std::filesystem::path& source, const std::vector<std::string>& folders, long minutes,
                             Clock::time_point now);
};
