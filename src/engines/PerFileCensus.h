#pragma once
// The counts of a per-file run (PassCounts). Its find vector copies and
// deletes file by file and says nothing of it, so the counts come from
// looking: before the run, a walk in this process through the source
// (regular files at depth 1 or more, links not followed) notes the settled
// files whose copy does not match (CopyOutcomes) and, when the days can
// delete, every settled file; after the run, what became of the first, and
// which of the second are gone from the source with a copy in their place.
// A file that settles between this walk and the run's own is copied
// uncounted.
//
// lookBefore() reads the whole source: it belongs on a thread of the run's
// own, never on the caller's. lookAfter() comes after it, on any thread.

#include "engines/CopyOutcomes.h"
#include "engines/PassCounts.h"

#include <string>
#include <vector>

class PerFileCensus {
public:
    PerFileCensus(std::string source, std::string destination, unsigned minutes, unsigned days);

    void lookBefore();
    PassCounts lookAfter() const;
    // The settled files the look before found: those the run's walk takes.
    std::int64_t settledFiles() const { return settled_; }

private:
    const std::string source_;
    const std::string destination_;
    const unsigned minutes_;
    const bool deletes_;
    CopyOutcomes copies_;
    std::vector<std::string> deletable_; // relative to both folders
    std::int64_t settled_ = 0;
};
