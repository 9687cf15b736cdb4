#pragma once
// The functions of a watcher's stream thread: the thread owns one event
// stream on the watched folder and a flush timer, both on its own run loop,
// and posts "WatcherItemChanged" for every event until its loop is stopped.

#include "platform/fileevents/FileEventStream.h"
#include "platform/runtime/NotificationCenter.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class WatcherNSObject;

namespace watcher {

// The stream's settings; every stream thread uses these same values.
struct StreamSettings {
    std::uint64_t sinceWhen = ~std::uint64_t{0}; // only events after creation
    double latency = 1.0;                         // coalescing delay, seconds
    std::uint32_t flags = 0;                      // directory-level events only
    bool verbose = false;                         // print the path list and the stream
    std::int32_t flushInterval = 3;               // seconds; negative: no flush timer
};
StreamSettings streamSettings();

// The watched path lives in a fixed buffer on the stream thread's stack.
constexpr std::size_t kPathBufferSize = 500;
// Whether a path's UTF-8 form fits the buffer with its terminating NUL.
bool pathFitsBuffer(const std::string& path);

// Sets up the stream, announces the thread with "WatcherDidStart", runs
// the loop and returns once the loop has been stopped. owner is the watcher
// that started the thread; a thread it no longer wants stops at once.
void doInstallTheWatcherNew(const platform::UserInfo& setup, const std::shared_ptr<WatcherNSObject>& owner);

std::unique_ptr<platform::FileEventStream> my_FSEventStreamCreate(const char* path, const StreamSettings& settings,
                                                                  const char* pathBuffer);
void timer_callback(platform::FileEventStream* stream);
void fsevents_callback(platform::FileEventStream* stream, const char* pathBuffer,
                       const std::vector<platform::FileEventStream::Event>& events);

} // namespace watcher
