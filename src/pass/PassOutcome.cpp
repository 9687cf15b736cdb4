#include "pass/PassOutcome.h"
#include "core/DestinationProblem.h"

#include "core/ArchiveDestination.h"
#include "core/DestinationMarker.h"
#include "platform/desktop/FileSystemSpace.h"
#include "pass/DestinationCheck.h"
#include "pass/FreeSpaceFloor.h"

#include <algorithm>
#include <filesystem>
#include <memory>

namespace {

// rsync's statuses for a run in which only some files failed or vanished:
// the counts say whether any copy is missing. A destination that cannot
// keep owners (a card-reader's file system) ends every run with 23 while
// every copy is whole.
bool onlySomeFiles(std::int32_t status) { return status == 23 || status == 24; }

std::string copiesFailed(std::int64_t n) { return std::to_string(n) + (n == 1 ? " copy failed" : " copies failed"); }

std::optional<platform::Date> earliest(std::optional<platform::Date> a, std::optional<platform::Date> b) {
    if (!a) return b;
    if (!b) return a;
    return std::min(*a, *b);
}

// The pass began in the marked archive; a folder without the marker now is
// what its disk left behind when it went.
std::string problemOf(const std::string& destination) {
    std::error_code ec;
    if (!std::filesystem::is_directory(destination, ec)) return ArchiveDestination::kMissing;
    if (!DestinationMarker::isIn(destination)) return ArchiveDestination::kNotMounted;
    return "";
}

struct Look {
    std::string problem;
    std::optional<platform::FileSystemSpace> space;
};

// The destination after the run: on a server, its marker and free space as
// a pass's check finds them; on a disk, the marker still there.
Look lookAt(const ArchivePass& pass) {
    if (pass.toServer()) {
        const DestinationState state = DestinationCheck::locate();
        Look look{state.problem, std::nullopt};
        if (state.ready() && state.freeBytes) look.space = platform::FileSystemSpace{*state.freeBytes, std::nullopt, false};
        return look;
    }
    const std::string destination = std::filesystem::path(pass.archiveFolder).parent_path().string();
    auto look = std::make_shared<Look>();
    if (!DestinationCheck::within([look, destination] {
            look->problem = problemOf(destination);
            if (look->problem.empty()) look->space = platform::fileSystemSpace(destination);
        }))
        return {ArchiveDestination::kNotResponding, std::nullopt};
    return *look;
}

} // namespace

std::string PassOutcome::error() const {
    if (!started) return "the copy run could not start";
    if (!destinationProblem.empty()) return destinationProblem;
    const std::int64_t failed = counts ? counts->failed : 0;
    const bool troubled = failed > 0 || status != 0;
    // rsync's status 11 is any file error, a full disk among them: the
    // destination itself tells which.
    if (troubled && readOnly) return DestinationProblem::text(DestinationProblem::Kind::ReadOnly);
    if (troubled && outOfRoom) return DestinationProblem::text(DestinationProblem::Kind::Full);
    if (failed > 0) return copiesFailed(failed);
    if (status != 0 && !onlySomeFiles(status)) return "the copy run ended with status " + std::to_string(status);
    return "";
}

PassOutcome PassOutcome::of(const ArchivePass& pass, const RunEnd& end) {
    PassOutcome outcome;
    outcome.started = end.started;
    outcome.status = end.started ? end.status : 0;
    if (outcome.started) outcome.counts = end.counts;
    // A destination that went away during the run is the reason its copies
    // failed; one that stopped answering is not waited for.
    // A server that took every copy needs no second look: it costs a login's
    // worth, and the destination's monitor looks after every pass anyway.
    const bool clean = outcome.started && outcome.status == 0 && (!outcome.counts || outcome.counts->failed == 0);
    if (clean && pass.toServer()) return outcome;
    const Look look = lookAt(pass);
    outcome.destinationProblem = look.problem;
    if (!outcome.destinationProblem.empty() || !look.space) return outcome;
    const platform::FileSystemSpace& space = *look.space;
    const std::uint64_t largestFailed = outcome.counts ? outcome.counts->largestFailedBytes : 0;
    outcome.outOfRoom = space.availableBytes < pass.floorBytes || space.availableBytes < largestFailed ||
                        space.availableFiles == std::uintmax_t{0};
    outcome.readOnly = space.readOnly;
    return outcome;
}

PassResult PassOutcome::result(const ArchivePass& pass) const {
    if (!started) return PassResult::unstarted(pass.index, pass.error.empty() ? error() : pass.error);
    PassResult result;
    result.ended = std::chrono::system_clock::now();
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - pass.began).count();
    result.error = pass.error.empty() ? error() : pass.error;
    if (counts) {
        result.copied = counts->copied;
        // Copies on a disk that has gone cannot be looked at: they did not fail.
        result.failed = destinationProblem.empty() ? counts->failed : 0;
        if (result.failed > 0) result.firstFailed = counts->oldestFailedName;
        result.deleted = counts->deleted;
    }
    result.waiting = pass.youngCount;
    result.futureDated = pass.futureDated;
    result.fast = pass.fast;
    const bool failedSeen = counts && destinationProblem.empty();
    result.oldestUnarchived = earliest(pass.oldestYoung, failedSeen ? counts->oldestFailed : std::nullopt);
    return result;
}
