#pragma once
// The archiving station: the three source slots with their watchers, the
// destination's slot, the destination's monitor and the reporter of
// problems. It needs no window: a headless or scheduled run is the station
// alone, and the main window's rows only observe its slots and send them
// commands.

#include "core/ArchiveDestination.h"
#include "core/CommonHeader.h"
#include "engines/PassProgress.h"
#include "station/ProblemReporter.h"
#include "watch/SlotWatch.h"

#include <array>
#include <memory>
#include <optional>
#include <vector>

class ArchiveReading;
class DestinationMonitor;

class Station {
public:
    Station();
    ~Station();
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // Slot 0 listens for the destination's news; the sources (slots 1..3,
    // in order, their folders already validated) get their watchers. Then
    // the monitor takes its first look.
    void open(const std::vector<ParamDictionary>& sources);

    // Null outside 0..3 and before open().
    std::shared_ptr<SlotWatch> slot(int index) const;
    // The destination as the monitor last found it; nullopt before it has looked.
    std::optional<DestinationState> destinationState() const;
    // The share done of every copy run under way that has files to copy.
    std::optional<PassProgress::Shown> overallProgress() const;
    ProblemReporter& problems() { return problems_; }
    // Null before open().
    ArchiveReading* archiveReading() const { return reading_.get(); }

private:
    std::array<std::shared_ptr<SlotWatch>, CommonHeader::kSlotCount> slots_;
    std::unique_ptr<DestinationMonitor> monitor_;
    std::unique_ptr<ArchiveReading> reading_;
    ProblemReporter problems_;
};
