#pragma once
// The watcher of one source folder slot: starts and stops the event stream
// thread of its folder and runs the archive pass when the folder changes.
//
// One loop per slot decides everything, in order. Commands (start, stop,
// set params, poll, scan, the destination's return) arrive as notifications
// on whatever thread posts them; stream reports on the stream thread; the
// end of a copy run on the engine's thread. Each is queued to the slot's
// own loop (a LoopThread), which alone touches the stream handles, the
// current pass, the pending changes and the timers (the periodic full pass
// and the settle follow-up). What other threads may read is published
// (shown_) or counted (outstanding_).
//
// - Passes run one at a time. A request during a pass sets the one-deep
//   "pass wanted" flag: however many came, one follow-up pass runs after
//   the current one. Files left as too young get a follow-up once settled.
// - Each pass captures its folders and settings once (ArchivePass); its
//   clean-up and follow-ups use that value, not the preferences of the moment.
// - With fast archiving on, a pass that events asked for is incremental: it
//   copies only the files the events named, and what lies in the folders
//   they named (PendingChanges). Commands,
//   dropped events, a failed pass, turning watching on and the periodic
//   timer ask for a full pass instead.
// - The engine hands the end of a pass's run to this watcher alone (the
//   job's RunEnded); "KLVVR_TASK_DONE" then reaches any other listener.

#include "core/CommonHeader.h"
#include "platform/alias/MountTableWatch.h"
#include "platform/fileevents/StreamCancel.h"
#include "platform/runtime/Guarded.h"
#include "engines/PassProgress.h"
#include "engines/RunEnd.h"
#include "platform/runtime/LoopThread.h"
#include "platform/runtime/NotificationCenter.h"
#include "pass/ArchivePass.h"
#include "pass/PassResult.h"
#include "pass/UnarchivedFiles.h"
#include "watch/PendingChanges.h"
#include "watch/SettleFollowUp.h"
#include "watch/SlotStream.h"
#include "watch/StreamOwner.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class WatcherNSObject : public std::enable_shared_from_this<WatcherNSObject>, public watcher::StreamOwner {
public:
    // Creates a watcher subscribed to "WatcherSetParams", with its loop running.
    static std::shared_ptr<WatcherNSObject> create();
    ~WatcherNSObject() override;
    WatcherNSObject(const WatcherNSObject&) = delete;
    WatcherNSObject& operator=(const WatcherNSObject&) = delete;

    // Properties: the index and parameters are set once, before setupObservers().
    std::int16_t _index() const { return index_; }
    void set_index(std::int16_t index) { index_ = index; }
    ParamDictionary _param() const { return shown_.get().param; }
    void set_Param(const ParamDictionary& param);
    // A request is queued or a pass runs.
    bool _insideFoundItemLoop() const { return outstanding_ > 0; }
    // Nothing is queued on the slot's loop, nor running there.
    bool loopIsIdle() const { return onLoop_ == 0; }
    // How far the running copy run has got; nullopt without one, or while it has nothing to copy.
    std::optional<PassProgress::Shown> progress() const {
        const auto running = progress_.get();
        return running ? running->shown() : std::nullopt;
    }
    std::string _whichPath() const { return shown_.get().whichPath; }
    // Settled files waiting for a copy while nothing archives the folder
    // (not watched, or the destination away), counted once a minute and
    // after each pass; nullopt while nothing waits that way.
    std::optional<UnarchivedFiles::Count> unarchived() const { return unarchived_.get(); }
    // The stream thread's loop while the folder is watched, else null.
    std::shared_ptr<platform::RunLoop> _CFRunLoopRef() const { return shown_.get().streamLoop; }

    static std::string getPrefNameForInProgress(std::int16_t index);

    void setupObservers();
    // All three queue their work to the slot's loop. Switching on (the
    // start commands) also archives what came while nobody watched.
    void setupWatcher();
    void switchOn();
    void unloadWatcher();

    // What the stream thread reports (watcher::StreamOwner).
    bool streamDidStart(const watcher::StreamHandles& handles) override;
    void streamDidReport(const std::string& watchedPath,
                         const std::vector<platform::FileEventStream::Event>& events) override;

private:
    WatcherNSObject();
    using Work = std::function<void(WatcherNSObject&)>;
    // Queues work to the slot's loop; a request counts as outstanding until done.
    void onLoop(Work work);
    void queueRequest(Work request);
    using Handler = std::function<void(WatcherNSObject&, const platform::Notification&)>;
    void subscribe(const std::string& name, Handler handler);
    void requestScan(const std::optional<std::string>& requested);
    void destinationReturned();
    void spaceFreed();
    // A full pass of the slot's own folder, for the reason the log gives.
    void walkOwnFolder(const char* because);
    bool matchesIndex(const platform::Notification& n, const char* what) const;
    std::optional<std::string> storedFolder() const; // the slot's folder as stored
    void announce(const std::string& name, const platform::UserInfo& extra = {});

    // The stream, on the loop.
    void startStream(bool catchUp);
    void stopStream();
    void adoptStream(const watcher::StreamHandles& handles);
    void startFullPassTimer();

    // Archive pass steps, on the loop.
    void requestPass(const std::optional<std::string>& requested);
    void startPass(const std::string& source, const platform::PreferenceSnapshot& stored);
    void choosePassKind(ArchivePass& pass);
    void markBusy(bool busy);
    void startSynchronization(const std::shared_ptr<ArchivePass>& pass);
    void passEnded(const std::shared_ptr<ArchivePass>& pass, const RunEnd& end);
    void refusePass(const std::string& source, const std::string& why);
    void endUnstartedPass(const std::shared_ptr<ArchivePass>& pass, const std::string& why);
    // Pass results: stored for the slot, logged, and announced ("WatcherPassEnded").
    void recordResult(const std::string& source, const PassResult& result);
    void runFollowUps(const ArchivePass& pass);
    void scheduleSettleFollowUp(const ArchivePass& pass);
    std::optional<std::string> acceptedSource(const std::optional<std::string>& requested,
                                              const platform::PreferenceSnapshot& stored);
    // A missing source (a card pulled, a disk unmounted) is looked for until
    // it is back; then watching resumes if it was on, and a full pass runs.
    void watchForReturn();
    void checkReturn();
    // The count of files nobody archives, on a worker of its own.
    void startCountTimer();
    void countUnarchived();
    void publishUnarchived(std::optional<UnarchivedFiles::Count> count);

    // What any thread may read.
    struct Shown {
        ParamDictionary param;
        std::string whichPath;
        std::shared_ptr<platform::RunLoop> streamLoop;
    };
    platform::Guarded<Shown> shown_;
    std::atomic<int> outstanding_{0}; // requests queued, and the running pass
    std::atomic<int> onLoop_{0};      // work queued to the loop or running there
    platform::Guarded<std::shared_ptr<PassProgress>> progress_; // the running copy run's
    platform::Guarded<std::optional<UnarchivedFiles::Count>> unarchived_;

    std::int16_t index_ = 0;
    platform::LoopThread loop_;

    // The loop's alone.
    SlotStream stream_;
    bool catchUpWanted_ = false; // the stream being started was switched on
    platform::RunLoop::Id fullPassTimer_ = 0;
    std::shared_ptr<ArchivePass> pass_; // the pass whose copy run is under way
    bool passWanted_ = false;
    std::vector<std::string> byName_; // for a listed pass after a full one
    std::unique_ptr<platform::MountTableWatch> returnWatch_; // while the source is missing
    bool watchWhenBack_ = false;
    bool counting_ = false;
    std::string destinationProblem_; // as the monitor last told it
    PendingChanges changes_;
    SettleFollowUp settleFollowUp_;
};
