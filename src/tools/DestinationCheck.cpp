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

DestinationState looked(DestinationState (*find)(), std::chrono::milliseconds bound, std::stop_token stop) {
    auto found = std::make_shared<DestinationState>();
    const bool answered = lane().run(
        [found, find] {
            *found = find();
            if (found->ready()) found->freeBytes = FreeSpaceFloor::freeBytes(found->path);
        },
        bound, std::move(stop));
    return answered ? *found : notResponding();
}

} // namespace

DestinationState DestinationCheck::locate(std::chrono::milliseconds bound, std::stop_token stop) {
    return looked(&ArchiveDestination::locate, bound, std::move(stop));
}

DestinationState DestinationCheck::inspect(std::chrono::milliseconds bound, std::stop_token stop) {
    return looked(&ArchiveDestination::inspect, bound, std::move(stop));
}

bool DestinationCheck::within(std::function<void()> look, std::chrono::milliseconds bound) {
    return lane().run(std::move(look), bound);
}
