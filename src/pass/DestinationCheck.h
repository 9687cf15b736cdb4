#pragma once
// Every look at the destination's file system, from a pass, the monitor or
// a report, runs on one worker lane (platform::BoundedCall) and is waited
// for only so long: a share that stops answering leaves its caller with
// "destination not responding" instead of holding it in the kernel. While
// one look is stuck, the others answer so at once, and nothing is written
// or deleted: a pass that cannot look at its destination does not start.

#include "core/ArchiveDestination.h"

#include <chrono>
#include <functional>
#include <stop_token>

class DestinationCheck {
public:
    DestinationCheck() = delete;

    // A disk spinning up answers well within this; a hung share never does.
    static constexpr std::chrono::milliseconds kBound{std::chrono::seconds(20)};

    // ArchiveDestination::locate() (or inspect(), writing nothing) and,
    // when the destination is ready, its free space.
    static DestinationState locate(std::chrono::milliseconds bound = kBound, std::stop_token stop = {});
    // locate() from stored values already read (a pass's).
    static DestinationState locate(const platform::PreferenceSnapshot& stored);
    // The same for a pass into one archive folder (ArchiveDestination::locate).
    static DestinationState locate(const platform::PreferenceSnapshot& stored, const ArchiveClaim& claim);
    static DestinationState inspect(std::chrono::milliseconds bound = kBound, std::stop_token stop = {});
    // Any other look; false when it did not end in time (look must own
    // what it writes: it may end long after this returns).
    static bool within(std::function<void()> look, std::chrono::milliseconds bound = kBound);
    // within(), once a child has seen the stored destination answer: for a
    // look at a share that may already hang (the launch's validation).
    static bool withinOnceAnswering(std::function<void()> look, std::chrono::milliseconds bound = kBound);
};
