#pragma once
// What a copy run did to the files it looked at, counted by the engine
// that ran it and carried in its "KLVVR_TASK_DONE" userInfo beside
// "taskStarted" and "taskStatus". Counting never changes what is copied or
// deleted: it only looks at the files before and after the tools ran.

#include "platform/runtime/DateFormat.h"
#include "platform/runtime/NotificationCenter.h"

#include <cstdint>
#include <optional>
#include <string>

struct PassCounts {
    std::int64_t copied = 0;  // files whose copy the run made or replaced
    std::int64_t failed = 0;  // settled files still without an identical copy afterwards
    std::int64_t deleted = 0; // source files the run removed once their copy compared equal
    // The modification time of the oldest failed file; none when none failed.
    std::optional<platform::Date> oldestFailed;
    // That file, relative to the source folder: the one to tell the user of.
    std::string oldestFailedName;
    // The size of the largest failed file: a disk with less room than that
    // left failed it for want of room.
    std::uint64_t largestFailedBytes = 0;

    // Adds "passCopied", "passFailed", "passDeleted" (int64_t),
    // "passLargestFailed" (uint64_t) and, when set, "passOldestFailed"
    // (platform::Date) and "passOldestFailedName" (std::string).
    void addTo(platform::UserInfo& info) const;
    // The counts a userInfo carries; nullopt when it carries none (a run
    // that never started).
    static std::optional<PassCounts> from(const platform::UserInfo& info);
};
