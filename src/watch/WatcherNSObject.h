#pragma once
// The watcher of one source folder slot: starts and stops the event stream
// thread of its folder and runs the archive pass when the folder changes.
// It talks to the rest of the program only through notifications.

#include "core/CommonHeader.h"
#include "platform/runtime/NotificationCenter.h"
#include "platform/runtime/RunLoop.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace platform {
class FileEventStream;
}

class WatcherNSObject : public std::enable_shared_from_this<WatcherNSObject> {
public:
    // Creates a watcher subscribed to "WatcherSetParams" and
    // "KLVVR_TASK_DONE". A temporary watcher only carries a stream thread's
    // start notification and never acts on anything.
    static std::shared_ptr<WatcherNSObject> create();
    static std::shared_ptr<WatcherNSObject> createTemporary();
    ~WatcherNSObject();
    WatcherNSObject(const WatcherNSObject&) = delete;
    WatcherNSObject& operator=(const WatcherNSObject&) = delete;

    // Properties.
    std::int16_t _index() const { return index_; }
    void set_index(std::int16_t index) { index_ = index; }
    ParamDictionary _param() const;
    void set_Param(const ParamDictionary& param);
    bool _insideFoundItemLoop() const { return insideFoundItemLoop_; }
    std::string _whichPath() const;
    std::shared_ptr<platform::RunLoop> _CFRunLoopRef() const;

    static std::string getPrefNameForInProgress(std::int16_t index);

    void setupObservers();
    void setupWatcher();
    void unloadWatcher();

    // Stream thread body (runs on the thread setupWatcher detaches).
    void doSetupWatchFolderInThreadNew(const std::optional<platform::UserInfo>& setup);

    // Notification handlers.
    void handleWatcherDoStartAllNotification(const platform::Notification& n);
    void handleWatcherDoStopAllNotification(const platform::Notification& n);
    void handleWatcherDoStartNotification(const platform::Notification& n);
    void handleWatcherDoStopNotification(const platform::Notification& n);
    void handleWatcherStartedNotification(const platform::Notification& n);
    void handleWatcherSetParamsNotification2(const platform::Notification& n);
    void handleFoundNewFile(const platform::Notification& n);
    void handleWatcherDoPollFolderNotification(const platform::Notification& n);
    void handleFileSynchingDone(const platform::Notification& n);
    void removeOldEmptyFolders(const std::string& path);

    // What a stream thread's temporary watcher carries to the slot's watcher.
    struct StreamHandles {
        std::string whichPath;
        platform::FileEventStream* stream = nullptr;
        std::shared_ptr<platform::RunLoop> runLoop;
        platform::RunLoop::Id timer = 0;
        std::uint64_t generation = 0; // which setupWatcher started the thread
    };
    void setStreamHandles(const StreamHandles& handles);
    // Whether the stream thread started with this generation is still wanted.
    bool isCurrentStream(std::uint64_t generation) const;

private:
    WatcherNSObject() = default;
    void subscribe(const std::string& name, void (WatcherNSObject::*handler)(const platform::Notification&));
    bool matchesIndex(const platform::Notification& n, const char* what) const;
    std::string prefString(const std::string& paramName) const;

    // Archive pass steps.
    bool claimPass(const std::optional<std::string>& changedPath);
    void endWithoutPass();
    void markBusy(bool busy);
    void startSynchronization(const std::string& source, const std::string& archiveDestination);
    void runFollowUps();
    void scheduleSettleFollowUp();
    void cancelSettleFollowUp();

    bool temporary_ = false;
    std::int16_t index_ = 0;
    std::atomic<bool> insideFoundItemLoop_{false};
    std::atomic<bool> followUpRequested_{false};
    bool didSetupObservers_ = false;

    // Stream fields are written by the stream thread and read and cleared by
    // whichever thread stops the watcher.
    mutable std::mutex mutex_;
    ParamDictionary param_;
    std::string pathToWatch_; // stays empty; only logged
    StreamHandles stream_;
    std::uint64_t generation_ = 0;       // bumped by every start and stop
    platform::RunLoop::Id settleTimer_ = 0;
    std::shared_ptr<platform::RunLoop> settleLoop_;
};
