#include "platform/fileevents/FileEventBatch.h"

#include <utility>

namespace platform {

void FileEventBatch::add(const std::string& path, std::uint32_t flags) {
    auto [it, isNew] = positions_.try_emplace(path, events_.size());
    if (isNew)
        events_.push_back({path, flags});
    else
        events_[it->second].flags |= flags;
}

std::vector<FileEventStream::Event> FileEventBatch::take() {
    positions_.clear();
    return std::exchange(events_, {});
}

} // namespace platform
