#pragma once
// A stream of file-system events for one folder tree, delivered in batches
// on the run loop it is scheduled on. Event paths are the directories in
// which something changed, each once per batch; changes that happen after
// the stream was created are reported, coalesced by the latency.
//
// A stream created with FileEvents names the files instead: a file written,
// made, moved, removed or given new attributes is reported by its own path,
// flagged ItemIsFile and with what happened to it. A folder is then
// reported only when its entries must be listed to know what changed in it:
// a folder made or moved into the tree is reported with every folder below
// it, once they are watched, since files can land there before the watch.
// Nothing is reported for a folder removed, moved out or given attributes:
// no file of the tree has changed by it.
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
        // With FileEvents: what happened to the file named.
        ItemCreated = 0x100,
        ItemRemoved = 0x200,
        ItemInodeMetaMod = 0x400, // permissions, owner, times
        ItemRenamed = 0x800,      // moved away or moved in
        ItemModified = 0x1000,    // written to, or closed after writing
        ItemIsFile = 0x10000,     // the path is a file (or a link), not a folder
    };
    enum CreateFlag : std::uint32_t {
        FileEvents = 0x10, // report files by name (see above)
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
                                                   std::shared_ptr<const StreamCancel> cancel = nullptr,
                                                   std::uint32_t createFlags = 0);

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
