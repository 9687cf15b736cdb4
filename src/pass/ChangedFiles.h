#pragma once
// The files an incremental pass copies: the files that events named and
// the regular files directly inside the folders that events named (a folder
// made or moved in), selected as a full pass's walk selects them (depth 1
// or more below the source, not a link, unmodified for the settle time),
// and what it leaves for later: the folders and files still too young, and
// when the youngest of those will have settled.

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

struct ChangedFiles {
    using Clock = std::chrono::system_clock;

    std::vector<std::string> files;        // "./" + the path below the source
    std::vector<std::string> youngFolders; // as they were named
    std::vector<std::string> youngFiles;   // as they were named
    std::optional<Clock::time_point> settleMoment;
    long youngCount = 0; // files too young, and since when the oldest one waits
    std::optional<Clock::time_point> oldestYoung;
    long futureDated = 0; // files looked at whose camera dated them ahead

    // Folders outside the source, gone, or reached through a link are
    // skipped, and so are files in them: a full pass would not look there
    // either. A named file that is a folder by now is listed as one; one
    // that is gone or no regular file is left out.
    static ChangedFiles list(const std::filesystem::path& source, const std::vector<std::string>& folders,
                             const std::vector<std::string>& namedFiles, long minutes, Clock::time_point now);
};
