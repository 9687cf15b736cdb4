#pragma once
// What the end of a pass's copy run says about the slot: the error the user
// must see, or "" when every file it meant to copy has an identical copy.

#include "tools/PassCounts.h"

#include <cstdint>
#include <optional>
#include <string>

struct PassOutcome {
    bool started = false;     // the run's tools ran
    std::int32_t status = 0;  // the copying tool's exit status
    std::optional<PassCounts> counts;
    bool destinationPresent = true; // after the run
    bool belowFreeSpaceFloor = false;

    // rsync's status for a write that found the disk full.
    static constexpr std::int32_t kDiskFullStatus = 11;

    std::string error() const;
};
