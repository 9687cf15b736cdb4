#pragma once
// The events a stream has gathered but not yet delivered: one entry per
// path, in the order the paths first changed, with their flags combined.

#include "platform/fileevents/FileEventStream.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace platform {

class FileEventBatch {
public:
    void add(const std::string& path, std::uint32_t flags);
    bool empty() const { return events_.empty(); }
    std::size_t size() const { return events_.size(); }
    // Hands the gathered events over and starts a new batch.
    std::vector<FileEventStream::Event> take();

private:
    std::vector<FileEventStream::Event> events_;
    std::unordered_map<std::string, std::size_t> positions_;
};

} // namespace platform
