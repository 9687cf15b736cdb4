#pragma once
// The Linux file event stream: one inotify instance watching every folder
// of the tree, read on the stream's run loop.

#include "platform/fileevents/FileEventBatch.h"
#include "platform/fileevents/FileEventStream.h"
#include "platform/fileevents/InotifyWatchTable.h"
#include "platform/fileevents/StreamCancel.h"
#include "platform/runtime/RunLoop.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct inotify_event;

namespace platform {

class InotifyFileEventStream final : public FileEventStream {
public:
    // Null, with a log line, when the folder cannot be watched.
    static std::unique_ptr<InotifyFileEventStream> open(const std::string& folder, double latencySeconds,
                                                        Callback callback,
                                                        std::shared_ptr<const StreamCancel> cancel = nullptr,
                                                        bool fileEvents = false);
    ~InotifyFileEventStream() override;

    const std::string& path() const override { return root_; }
    bool scheduleWithRunLoop(std::shared_ptr<RunLoop> loop) override;
    bool start() override;
    void flushSync() override;
    void flushAsync() override;
    void stop() override;
    void invalidate() override;

private:
    InotifyFileEventStream(std::string folder, double latencySeconds, Callback callback,
                           std::shared_ptr<const StreamCancel> cancel, bool fileEvents);
    bool watchRoot();
    void abandon();

    void onReadable();
    void readKernelQueue(bool everythingQueuedNow);
    void handleBuffer(std::size_t length);
    void resync();
    void handle(const inotify_event& event, const char* name);
    void handleEntry(const std::string& folder, std::uint32_t mask, const std::string& name);
    void handleFolderEntry(const std::string& folder, std::uint32_t mask, const std::string& name);
    void handleSelf(int wd, const std::string& folder, std::uint32_t mask);
    void watchNewFolder(const std::string& folder);
    void noteTableFull();

    void armLatencyTimer();
    void cancelLatencyTimer();
    void deliver();

    const std::string root_;
    const double latency_;
    const Callback callback_;
    const bool fileEvents_;
    InotifyWatchTable table_;
    FileEventBatch pending_;
    std::vector<char> readBuffer_;
    int rootWd_ = -1;
    bool started_ = false;
    bool invalidated_ = false;
    bool resyncNeeded_ = false;
    bool tableFullLogged_ = false;

    std::mutex loopMutex_; // guards loop_ for flushAsync() from other threads
    std::shared_ptr<RunLoop> loop_;
    std::optional<RunLoop::Id> fdSource_;
    std::optional<RunLoop::Id> latencyTimer_;
    // Work queued by flushAsync() checks that the stream still exists.
    std::shared_ptr<bool> lifetime_ = std::make_shared<bool>(true);
};

} // namespace platform
