#include "tools/DestinationCheck.h"

#include "platform/runtime/BoundedCall.h"
#include "tools/FreeSpaceFloor.h"

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

DestinationState looked(std::function<DestinationState()> find, std::chrono::milliseconds bound,
                        std::stop_token stop) {
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
    return looked([stored] { return ArchiveDestination::locate(stored); }, kBound, {});
}

DestinationState DestinationCheck::locate(const platform::PreferenceSnapshot& stored, const ArchiveClaim& claim) {
    return looked([stored, claim] { return ArchiveDestination::locate(stored, claim); }, kBound, {});
}

DestinationState DestinationCheck::inspect(std::chrono::milliseconds bound, std::stop_token stop) {
    return looked([] { return ArchiveDestination::inspect(); }, bound, std::move(stop));
}

bool DestinationCheck::within(std::function<void()> look, std::chrono::milliseconds bound) {
    return lane().run(std::move(look), bound);
}
