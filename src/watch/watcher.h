#pragma once
// The functions of a watcher's stream thread: the thread owns one event
// stream on the watched folder and a flush timer, both on its own run loop,
// and reports every batch of events to its owner until its loop is stopped.

#include "platform/fileevents/FileEventStream.h"
#include "platform/fileevents/StreamCancel.h"
#include "platform/runtime/NotificationCenter.h"
#include "watch/StreamOwner.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace watcher {

// The stream's settings; every stream thread uses these same values.
struct StreamSettings {
    std::uint64_t sinceWhen = ~std::uint64_t{0}; // only events after creation
    double latency = 1.0;                         // coalescing delay, seconds
    // Files by name, so a pass copies what changed, not what its folder holds.
    std::uint32_t flags = platform::FileEventStream::FileEvents;
    bool verbose = false;                         // print the path list and the stream
    std::int32_t flushInterval = 3;               // seconds; negative: no flush timer
};
StreamSettings streamSettings();

// The watched path lives in a fixed buffer on the stream thread's stack.
constexpr std::size_t kPathBufferSize = 500;
// Whether a path's UTF-8 form fits the buffer with its terminating NUL.
bool pathFitsBuffer(const std::string& path);

// What the stream's callback is given: the watched path, read back from the
// thread's buffer, and the owner it reports to.
struct StreamContext {
    const char* pathBuffer = nullptr;
    StreamOwner* owner = nullptr;
};

// Sets up the stream, hands it to its owner (which announces it), runs the
// loop and returns once the loop has been stopped. A thread its owner no
// longer wants ends at once. The owner outlives the call.
void doInstallTheWatcherNew(const platform::UserInfo& setup, StreamOwner& owner);

// The body of a stream thread: the setup's folder ("pathToWatch") must be
// there and fit the buffer; then as doInstallTheWatcherNew.
void runStreamThread(const platform::UserInfo& setup, StreamOwner& owner);

// cancel, when given, ends the stream's set-up early (the stream is then null).
std::unique_ptr<platform::FileEventStream> my_FSEventStreamCreate(
    const char* path, const StreamSettings& settings, const StreamContext& context,
    std::shared_ptr<const platform::StreamCancel> cancel = nullptr);
void timer_callback(platform::FileEventStream* stream);
void fsevents_callback(platform::FileEventStream* stream, const StreamContext& context,
                       const std::vector<platform::FileEventStream::Event>& events);

} // namespace watcher
