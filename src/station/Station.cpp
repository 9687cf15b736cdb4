#include "station/Station.h"

#include "station/ArchiveReading.h"
#include "watch/DestinationMonitor.h"

Station::Station() : problems_(*this) {}

// The reading and the monitor stop first: nothing they tell reaches slots that have gone.
Station::~Station() {
    reading_.reset();
    monitor_.reset();
}

void Station::open(const std::vector<ParamDictionary>& sources) {
    slots_[CommonHeader::kDestinationSlot] = std::make_shared<SlotWatch>(
        CommonHeader::kDestinationSlot, CommonHeader::slotParameters(CommonHeader::kDestinationSlot));
    for (std::size_t i = 0; i < sources.size() && i + 1 < slots_.size(); ++i)
        slots_[i + 1] = std::make_shared<SlotWatch>(static_cast<int>(i + 1), sources[i]);
    // Once the slots listen: they know what it finds from its first look on.
    monitor_ = std::make_unique<DestinationMonitor>();
    reading_ = std::make_unique<ArchiveReading>(*this);
}

std::shared_ptr<SlotWatch> Station::slot(int index) const {
    if (index < 0 || index >= static_cast<int>(slots_.size())) return nullptr;
    return slots_[static_cast<std::size_t>(index)];
}

std::optional<DestinationState> Station::destinationState() const {
    return monitor_ ? monitor_->current() : std::nullopt;
}

std::optional<PassProgress::Shown> Station::overallProgress() const {
    PassProgress::Shown all{};
    bool any = false;
    for (const auto& slot : slots_)
        if (const auto progress = slot ? slot->progress() : std::nullopt) {
            all.done += progress->done;
            all.total += progress->total;
            any = true;
        }
    if (!any || all.total == 0) return std::nullopt;
    return all;
}
