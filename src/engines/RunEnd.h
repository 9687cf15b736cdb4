#pragma once
// How a copy run ended, as its engine tells it to the run's owner: whether
// its tools ran, the copying tool's exit status, and what it did to the
// files it looked at (a run that never started did nothing to count).

#include "engines/PassCounts.h"

#include <cstdint>
#include <functional>
#include <optional>

struct RunEnd {
    // The status a run that never began reports, as platform::Task does for
    // a program it could not start.
    static constexpr std::int32_t kNotStartedStatus = 127;

    bool started = false;
    std::int32_t status = kNotStartedStatus;
    std::optional<PassCounts> counts;

    bool ranWell() const { return started && status == 0; }
};

using RunEnded = std::function<void(const RunEnd&)>;
