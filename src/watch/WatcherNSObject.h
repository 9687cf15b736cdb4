#pragma once
// The watcher of one source folder slot: starts and stops the event stream
// thread of its folder and runs the archive pass when the folder changes.
//
// Threads:
// - Commands (start, stop, set params, poll, scan) arrive as notifications
//   on the posting thread, and a pass they ask for starts on that thread.
// - The slot's stream thread runs its own run loop. It hands its handles
//   to this watcher directly (streamDidStart) and reports each batch of
//   events directly (streamDidReport); no other watcher hears of them.
// - A pass ends on the thread that reports its copy run's end: the engine
//   hands that end (its "KLVVR_TASK_DONE", with the pass as context) to
//   this watcher alone, before any other listener hears of it.
// - Passes of one slot run one at a time: the claim is one atomic step. A
//   request that finds the slot busy sets the one pending flag; however many
//   came, one follow-up pass runs after the current one, on the thread that
//   ended it. Files left as too young get a follow-up on the slot's run loop
//   (the stream thread's) once they have settled; stopping the slot cancels it.
// - Each pass captures its folders and settings once (ArchivePass); its
//   clean-up and follow-ups use that value, not the preferences of the moment.
// - With fast archiving on, a pass that events asked for is incremental: it
//   copies only in the folders the events named (PendingChanges). Commands,
//   dropped events, a failed pass, turning watching on and a periodic timer
//   on the slot's run loop ask for a full pass instead.
// - Stream fields and the current pass are guarded by mutex_.

#include "core/CommonHeader.h"
#include "platform/fileevents/StreamCancel.h"
#include "platform/runtime/NotificationCenter.h"
#include "platform/runtime/RunLoop.h"
#include "tools/ArchivePass.h"
#include "tools/PassResult.h"
#include "watch/PendingChanges.h"
#include "watch/SettleFollowUp.h"
#include "watch/StreamOwner.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class WatcherNSObject : public std::enable_shared_from_this<WatcherNSObject>, public watcher::StreamOwner {
public:
    // Creates a watcher subscribed to "WatcherSetParams"; the ends of its
    // passes' runs come to it directly (TaskDone::expect).
    static std::shared_ptr<WatcherNSObject> create();
    ~WatcherNSObject() override;
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

    // What the stream thread reports (watcher::StreamOwner).
    bool streamDidStart(const watcher::StreamHandles& handles) override;
    void streamDidReport(const std::string& watchedPath,
                         const std::vector<platform::FileEventStream::Event>& events) override;

    // Notification handlers.
    void handleWatcherDoStartAllNotification(const platform::Notification& n);
    void handleWatcherDoStopAllNotification(const platform::Notification& n);
    void handleWatcherDoStartNotification(const platform::Notification& n);
    void handleWatcherDoStopNotification(const platform::Notification& n);
    void handleWatcherSetParamsNotification2(const platform::Notification& n);
    void handleFoundNewFile(const platform::Notification& n);
    void handleWatcherDoPollFolderNotification(const platform::Notification& n);
    // The end of this watcher's current pass's run ("KLVVR_TASK_DONE").
    void handleFileSynchingDone(const platform::Notification& n);
    // The destination came back: the folder is archived at once (see .cpp).
    void handleDestinationChanged(const platform::Notification& n);
    // The clean-up of a folder with the settings of the moment.
    void removeOldEmptyFolders(const std::string& path);

private:
    WatcherNSObject() = default;
    void subscribe(const std::string& name, void (WatcherNSObject::*handler)(const platform::Notification&));
    bool matchesIndex(const platform::Notification& n, const char* what) const;
    std::string prefString(const std::string& paramName) const;
    bool isCurrentStream(std::uint64_t generation) const;
    void announce(const std::string& name, const platform::UserInfo& extra = {});

    // Archive pass steps.
    void requestPass(const std::optional<std::string>& changedPath);
    void choosePassKind(ArchivePass& pass);
    void startFullPassTimer(const watcher::StreamHandles& handles);
    bool claimPass(const std::optional<std::string>& changedPath);
    void freeSlot(); // ends a request, with or without a pass
    void markBusy(bool busy);
    std::shared_ptr<ArchivePass> beginPass(const std::string& source, const std::string& archiveFolder);
    std::shared_ptr<ArchivePass> takePass(const platform::Object& context);
    void startSynchronization(const std::shared_ptr<ArchivePass>& pass);
    void removeOldEmptyFolders(const ArchivePass& pass);
    void refusePass(const std::string& source, const std::string& why);
    void endUnstartedPass(const std::shared_ptr<ArchivePass>& pass, const std::string& why);
    void noteYoungFiles(ArchivePass& pass);
    // Pass results: stored for the slot, logged, and announced ("WatcherPassEnded").
    void recordUnstartedPass(const std::string& source, const std::string& why);
    void recordResult(const std::string& source, const PassResult& result);
    void runFollowUps(const ArchivePass& pass);
    void scheduleSettleFollowUp(const ArchivePass& pass);
    std::optional<std::string> acceptedSource(const std::optional<std::string>& requested);

    std::int16_t index_ = 0;
    std::atomic<bool> insideFoundItemLoop_{false};
    std::atomic<bool> followUpRequested_{false};

    mutable std::mutex mutex_;
    ParamDictionary param_;
    watcher::StreamHandles stream_;
    std::uint64_t generation_ = 0; // bumped by every start and stop
    // Ends the set-up of the stream being started, should it be given up first.
    std::shared_ptr<platform::StreamCancel> setupCancel_;
    std::shared_ptr<ArchivePass> pass_; // the pass whose copy run is under way; never changed once made
    SettleFollowUp settleFollowUp_;
    PendingChanges changes_;
};
