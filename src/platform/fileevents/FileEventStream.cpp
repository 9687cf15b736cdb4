#include "platform/fileevents/FileEventStream.h"

#include "platform/fileevents/InotifyFileEventStream.h"

namespace platform {

std::unique_ptr<FileEventStream> FileEventStream::create(const std::string& folder, double latencySeconds,
                                                         Callback callback,
                                                         std::shared_ptr<const StreamCancel> cancel,
                                                         std::uint32_t createFlags) {
    return InotifyFileEventStream::open(folder, latencySeconds, std::move(callback), std::move(cancel),
                                        (createFlags & FileEvents) != 0);
}

} // namespace platform
