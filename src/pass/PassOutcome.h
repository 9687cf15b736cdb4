#pragma once
// What the end of a pass's copy run says about the slot: the error the user
// must see, or "" when every file it meant to copy has an identical copy.

#include "engines/RunEnd.h"
#include "pass/ArchivePass.h"
#include "pass/PassResult.h"

#include <cstdint>
#include <optional>
#include <string>

struct PassOutcome {
    bool started = false;     // the run's tools ran
    std::int32_t status = 0;  // the copying tool's exit status
    std::optional<PassCounts> counts;
    // After the run: why the destination is no longer the archive ("" while
    // it is), whether it has too little room (less than the floor, or than
    // the largest file that failed, or no file left to make), and whether
    // it takes no writes at all.
    std::string destinationProblem;
    bool outOfRoom = false;
    bool readOnly = false;

    // How the copy run of a pass ended, and what the destination looks like now.
    static PassOutcome of(const ArchivePass& pass, const RunEnd& end);

    std::string error() const;
    // The pass's result: the counts, the error (one the pass met before its
    // run comes first) and the oldest file left without a copy.
    PassResult result(const ArchivePass& pass) const;
};
