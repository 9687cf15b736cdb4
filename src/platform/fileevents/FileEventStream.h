#pragma once
// A stream of file-system events for one folder tree, delivered in batches
// on the run loop it is scheduled on. Event paths are the directories in
// which something changed, each once per batch; changes that happen after
// the stream was created are reported, coalesced by the latency.
//
// The life of a stream follows create -> scheduleWithRunLoop -> start ->
// (flushes) -> stop -> invalidate, so that a backend on another system's
// event service can take the place of the Linux one behind create().
// Everything but flushAsync() belongs to the thread of the scheduled loop.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

class RunLoop;
class StreamCancel;

class FileEventStream {
public:
    // The values are those of the other system's event service, so a flag
    // read there means the same here.
    enum Flag : std::uint32_t {
        None = 0x00,
        MustScanSubDirs = 0x01, // changes below this path were not all seen
        UserDropped = 0x02,     // our side lost events (the watch table is full)
        KernelDropped = 0x04,   // the kernel's queue overflowed
        RootChanged = 0x20,     // the watched folder itself was deleted, moved or unmounted
        Unmount = 0x80,         // the file system under this path went away
    };

    struct Event {
        std::string path;
        std::uint32_t flags = None;
        bool operator==(const Event&) const = default;
    };

    using Callback = std::function<void(const std::vector<Event>&)>;

    static constexpr double kDefaultLatency = 1.0;

    // Starts watching the folder now; the callback is not called before
    // start(). Null, with a log line, when the folder cannot be watched or
    // cancel is set before the set-up ends (see StreamCancel.h); then no
    // watch is left behind.
    static std::unique_ptr<FileEventStream> create(const std::string& folder, double latencySeconds,
                                                   Callback callback,
                                                   std::shared_ptr<const StreamCancel> cancel = nullptr);

    virtual ~FileEventStream() = default;
    FileEventStream(const FileEventStream&) = delete;
    FileEventStream& operator=(const FileEventStream&) = delete;

    // The folder as given to create(), without trailing slashes.
    virtual const std::string& path() const = 0;

    // Once per stream; the loop is kept alive until invalidate().
    virtual bool scheduleWithRunLoop(std::shared_ptr<RunLoop> loop) = 0;
    // False when not scheduled or already invalidated.
    virtual bool start() = 0;
    // Delivers what has happened so far, now, without waiting for the latency.
    virtual void flushSync() = 0;
    // Asks for a flush on the stream's loop; safe from any thread.
    virtual void flushAsync() = 0;
    // No callbacks after stop(); start() resumes.
    virtual void stop() = 0;
    // Releases the watches and leaves the loop; final.
    virtual void invalidate() = 0;

protected:
    FileEventStream() = default;
};

} // namespace platform
