#include "pass/DestinationCheck.h"

#include "core/CommonHeader.h"
#include "core/RemoteDestination.h"
#include "core/Settings.h"
#include "platform/runtime/BoundedCall.h"
#include "platform/runtime/BoundedProbe.h"
#include "pass/FreeSpaceFloor.h"

#include <memory>

namespace {

// Never destroyed: a look may still run on its worker while the program exits.
platform::BoundedCall& lane() {
    static auto* destinationLane = new platform::BoundedCall;
    return *destinationLane;
}

DestinationState notResponding() {
    DestinationState state;
    state.problem = ArchiveDestination::kNotResponding;
    state.detail = "no answer from the destination's file system";
    return state;
}

// A folder on this machine is first looked at by a child: while a share
// hangs, no thread of ours is left waiting on it (such a thread holds the
// application when it quits), and the look itself starts only once the
// share has answered.
bool answers(const std::optional<std::string>& path, std::chrono::milliseconds bound, std::stop_token stop = {}) {
    if (!path || path->empty() || RemoteDestination::looksRemote(*path)) return true;
    return platform::BoundedProbe::isFolder(*path, bound, std::move(stop)) != platform::BoundedProbe::Answer::NoAnswer;
}

std::optional<std::string> storedPath(const platform::PreferenceSnapshot* stored) {
    if (!stored) return Settings::folder(CommonHeader::kDestinationSlot).path;
    return stored->string(CommonHeader::slotParameters(CommonHeader::kDestinationSlot).at(sPrefCameraFolderPathKey));
}

DestinationState looked(std::function<DestinationState()> find, std::chrono::milliseconds bound,
                        std::stop_token stop, const platform::PreferenceSnapshot* stored = nullptr) {
    if (!answers(storedPath(stored), bound, stop)) return notResponding();
    auto found = std::make_shared<DestinationState>();
    const bool answered = lane().run(
        [found, find] {
            *found = find();
            // A destination on another machine told its free space with the rest.
            if (found->ready() && !found->freeBytes) found->freeBytes = FreeSpaceFloor::freeBytes(found->path);
        },
        bound, std::move(stop));
    return answered ? *found : notResponding();
}

} // namespace

DestinationState DestinationCheck::locate(std::chrono::milliseconds bound, std::stop_token stop) {
    return looked([] { return ArchiveDestination::locate(); }, bound, std::move(stop));
}

DestinationState DestinationCheck::locate(const platform::PreferenceSnapshot& stored) {
    return looked([stored] { return ArchiveDestination::locate(stored); }, kBound, {}, &stored);
}

DestinationState DestinationCheck::locate(const platform::PreferenceSnapshot& stored, const ArchiveClaim& claim) {
    return looked([stored, claim] { return ArchiveDestination::locate(stored, claim); }, kBound, {}, &stored);
}

DestinationState DestinationCheck::inspect(std::chrono::milliseconds bound, std::stop_token stop) {
    return looked([] { return ArchiveDestination::inspect(); }, bound, std::move(stop));
}

bool DestinationCheck::within(std::function<void()> look, std::chrono::milliseconds bound) {
    return lane().run(std::move(look), bound);
}

bool DestinationCheck::withinOnceAnswering(std::function<void()> look, std::chrono::milliseconds bound) {
    return answers(storedPath(nullptr), bound) && within(std::move(look), bound);
}
