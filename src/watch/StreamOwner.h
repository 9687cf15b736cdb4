#pragma once
// What a stream thread reports to the watcher that started it. The thread
// calls its owner directly: its events concern that one watcher only.

#include "platform/fileevents/FileEventStream.h"
#include "platform/fileevents/StreamCancel.h"
#include "platform/runtime/RunLoop.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace watcher {

// The handles of a running stream thread.
struct StreamHandles {
    std::string whichPath; // name of the preference that holds the watched path
    platform::FileEventStream* stream = nullptr;
    std::shared_ptr<platform::RunLoop> runLoop;
    platform::RunLoop::Id timer = 0;
    // The token of the start that made the thread: which start it was.
    std::shared_ptr<platform::StreamCancel> start;
};

class StreamOwner {
public:
    virtual ~StreamOwner() = default;
    // On the stream thread, once its stream runs. False when the owner no
    // longer wants this thread: it then ends. An owner that finds out later
    // stops the handles' run loop instead.
    virtual bool streamDidStart(const StreamHandles& handles) = 0;
    // On the stream thread, once per delivered batch: the watched folder as
    // the owner handed it over, and the events: the folders they named, with
    // the stream's flags (events dropped, the folder itself gone).
    virtual void streamDidReport(const std::string& watchedPath,
                                 const std::vector<platform::FileEventStream::Event>& events) = 0;
};

} // namespace watcher
