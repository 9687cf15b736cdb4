#pragma once
// How many settled files of a source wait for a copy while nothing archives
// them (watching off, or the destination away), and since when: the files
// that changed after the last pass that archived the folder began, less
// the settle time (files too young for that pass waited too). The files a
// pass's walk selects (regular files unchanged for the settle time), read
// here in a walk of the source alone; nothing of the destination is read.
// Asked at most once a minute and never while a pass runs.

#include "platform/runtime/DateFormat.h"

#include <cstdint>
#include <filesystem>
#include <optional>

class UnarchivedFiles {
public:
    UnarchivedFiles() = delete;

    struct Count {
        std::int64_t files = 0;
        std::optional<platform::Date> since; // the oldest one's last change, when there is one
        bool operator==(const Count&) const = default;
    };

    // nullopt when the folder cannot be read (no count is better than a low
    // one). archivedFrom: when the last pass that archived the folder
    // began; nullopt when none did, and every settled file counts.
    static std::optional<Count> count(const std::filesystem::path& source, unsigned settleMinutes,
                                      std::optional<platform::Date> archivedFrom,
                                      platform::Date now = std::chrono::system_clock::now());
};
