#include "watch/PassOutcome.h"

namespace {

// rsync's statuses for a run in which only some files failed or vanished:
// the counts say whether any copy is missing. A destination that cannot
// keep owners (a card-reader's file system) ends every run with 23 while
// every copy is whole.
bool onlySomeFiles(std::int32_t status) { return status == 23 || status == 24; }

std::string copiesFailed(std::int64_t n) { return std::to_string(n) + (n == 1 ? " copy failed" : " copies failed"); }

} // namespace

std::string PassOutcome::error() const {
    if (!started) return "the copy run could not start";
    if (!destinationPresent) return "destination missing";
    const std::int64_t failed = counts ? counts->failed : 0;
    const bool troubled = failed > 0 || status != 0;
    if (status == kDiskFullStatus || (troubled && belowFreeSpaceFloor)) return "destination full";
    if (failed > 0) return copiesFailed(failed);
    if (status != 0 && !onlySomeFiles(status)) return "the copy run ended with status " + std::to_string(status);
    return "";
}
