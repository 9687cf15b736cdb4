#include "watch/WatcherNSObject.h"
#include "core/DestinationProblem.h"

#include "core/ArchiveDestination.h"
#include "core/Settings.h"
#include "core/validateFolderPrefWithParam.h"
#include "platform/alias/MountTableWatch.h"
#include "platform/runtime/Log.h"
#include "pass/DestinationCheck.h"
#include "pass/FolderSlotRules.h"
#include "pass/FreeSpaceFloor.h"
#include "pass/PassOutcome.h"
#include "pass/PassRun.h"
#include "core/SettleTime.h"
#include "engines/TaskDone.h"
#include "platform/runtime/Worker.h"
#include "watch/watcher.h"

#include <thread>
#include <utility>

using platform::logf;
using platform::Notification;
using platform::NotificationCenter;

namespace {
}

// ---- life cycle -------------------------------------------------------------

WatcherNSObject::WatcherNSObject() : settleFollowUp_(loop_.loop()) {}

std::shared_ptr<WatcherNSObject> WatcherNSObject::create() {
    std::shared_ptr<WatcherNSObject> w(new WatcherNSObject());
    w->subscribe(kWatcherSetParams, [](WatcherNSObject& self, const Notification&) { self.setupWatcher(); });
    return w;
}

WatcherNSObject::~WatcherNSObject() { NotificationCenter::defaultCenter().removeObserver(this); }

void WatcherNSObject::subscribe(const std::string& name, Handler handler) {
    // The centre must not keep the watcher alive: it holds only a weak reference.
    std::weak_ptr<WatcherNSObject> weak = weak_from_this();
    NotificationCenter::defaultCenter().addObserver(this, name, [weak, handler](const Notification& n) {
        if (auto self = weak.lock()) handler(*self, n);
    });
}

void WatcherNSObject::setupObservers() {
    using Self = WatcherNSObject;
    onLoop([](Self& self) { self.startCountTimer(); });
    subscribe(kWatcherDoStart, [](Self& self, const Notification& n) {
        if (self.matchesIndex(n, "handleWatcherDoStartNotification")) self.switchOn();
    });
    subscribe(kWatcherDoStop, [](Self& self, const Notification& n) {
        if (self.matchesIndex(n, "handleWatcherDoStopNotification")) self.unloadWatcher();
    });
    subscribe(kWatcherDoStartAll, [](Self& self, const Notification& n) {
        logf("WatcherNSObject => handleWatcherDoStartAllNotification...%s (index %d)", n.name.c_str(), self.index_);
        self.switchOn();
    });
    subscribe(kWatcherDoStopAll, [](Self& self, const Notification& n) {
        logf("WatcherNSObject => handleWatcherDoStopAllNotification...%s (index %d)", n.name.c_str(), self.index_);
        self.unloadWatcher();
    });
    subscribe(kWatcherItemChanged, [](Self& self, const Notification& n) {
        const std::string* watchPath = n.info<std::string>(kUserInfoWatchPath);
        self.requestScan(watchPath ? std::optional(*watchPath) : std::nullopt);
    });
    subscribe(kWatcherDoPollFolder, [](Self& self, const Notification&) {
        logf("WatcherNSObject => handleWatcherDoPollFolderNotification...index = %d", self.index_);
        if (auto path = self.storedFolder()) self.requestScan(*path);
    });
    subscribe(kDestinationDidChange, [](Self& self, const Notification& n) {
        const auto* reason = n.info<std::string>(kUserInfoReason);
        self.onLoop([problem = reason ? *reason : std::string()](Self& self) {
            const bool changed = std::exchange(self.destinationProblem_, problem) != problem;
            if (changed) self.countUnarchived();
        });
        const bool* returned = n.info<bool>(kUserInfoReturned);
        if (returned && *returned) self.queueRequest([](Self& self) { self.destinationReturned(); });
        const std::uint64_t* freeBytes = n.info<std::uint64_t>(kUserInfoFreeBytes);
        if (freeBytes && !FreeSpaceFloor::isBelow(*freeBytes, FreeSpaceFloor::floorBytes()))
            self.queueRequest([](Self& self) { self.spaceFreed(); });
    });
}

// ---- files nobody archives ------------------------------------------------------

void WatcherNSObject::startCountTimer() {
    std::weak_ptr<WatcherNSObject> weak = weak_from_this();
    loop_.loop()->addTimer(platform::RunLoop::Seconds(2), platform::RunLoop::Seconds(60), [weak] {
        if (auto self = weak.lock()) self->countUnarchived();
    });
}

// Never beside a pass (it would count what the pass is copying), and only
// while nothing archives the folder: not watched, or the destination away.
void WatcherNSObject::countUnarchived() {
    if (pass_ || counting_) return;
    const bool watched = shown_.get().streamLoop != nullptr;
    const Settings::Folder folder = Settings::folder(_param());
    const bool on = folder.path && !folder.path->empty() && folder.valid && Settings::slotSwitchedOn(index_, folder);
    if (!on || (watched && destinationProblem_.empty())) return publishUnarchived(std::nullopt);
    const auto archived = PassResult::loadLastArchived(index_);
    const auto from = archived ? std::optional(archived->started()) : std::nullopt;
    const auto minutes = static_cast<unsigned>(std::max<long>(0, Settings::read().settleMinutes));
    counting_ = true;
    std::weak_ptr<WatcherNSObject> weak = weak_from_this();
    platform::startWorker(
        [weak, source = *folder.path, minutes, from] {
            auto count = UnarchivedFiles::count(source, minutes, from);
            if (auto self = weak.lock())
                self->onLoop([count](WatcherNSObject& self) {
                    self.counting_ = false;
                    if (!self.pass_) self.publishUnarchived(count);
                });
        },
        [weak, index = index_](const std::string& why) {
            logf("WatcherNSObject => index %d: the files without a copy were not counted: %s", index, why.c_str());
            if (auto self = weak.lock()) self->onLoop([](WatcherNSObject& self) { self.counting_ = false; });
        });
}

void WatcherNSObject::publishUnarchived(std::optional<UnarchivedFiles::Count> count) {
    if (count && count->files == 0) count.reset();
    if (unarchived_.get() == count) return;
    unarchived_.set(count);
    announce(kWatcherUnarchivedCounted);
}

void WatcherNSObject::onLoop(Work work) {
    ++onLoop_;
    loop_.perform([weak = weak_from_this(), work = std::move(work)] {
        if (auto self = weak.lock()) {
            work(*self);
            --self->onLoop_;
        }
    });
}

void WatcherNSObject::queueRequest(Work request) {
    ++outstanding_;
    onLoop([request = std::move(request)](WatcherNSObject& self) {
        request(self);
        --self.outstanding_;
    });
}

void WatcherNSObject::announce(const std::string& name, const platform::UserInfo& extra) {
    platform::UserInfo info = extra;
    info[kUserInfoWatcherObj] = shared_from_this();
    NotificationCenter::defaultCenter().post(name, nullptr, info);
}

// ---- properties --------------------------------------------------------------

void WatcherNSObject::set_Param(const ParamDictionary& param) {
    shown_.update([&](Shown& shown) { shown.param = param; });
}

std::string WatcherNSObject::getPrefNameForInProgress(std::int16_t index) { return CommonHeader::inProgressKey(index); }

std::optional<std::string> WatcherNSObject::storedFolder() const { return Settings::folder(_param()).path; }

// ---- starting and stopping the stream ---------------------------------------

void WatcherNSObject::setupWatcher() {
    onLoop([](WatcherNSObject& self) { self.startStream(false); });
}

void WatcherNSObject::switchOn() {
    onLoop([](WatcherNSObject& self) { self.startStream(true); });
}

void WatcherNSObject::unloadWatcher() {
    onLoop([](WatcherNSObject& self) {
        self.watchWhenBack_ = false; // switched off: a source that returns is not watched
        self.stopStream();
        self.countUnarchived();
    });
}

void WatcherNSObject::startStream(bool catchUp) {
    logf("Inside WatcherNSObject => setupWatcher...index = %d", index_);
    stopStream();
    catchUpWanted_ = catchUp;
    stream_.start(index_, _param(), shared_from_this());
}

bool WatcherNSObject::streamDidStart(const watcher::StreamHandles& handles) {
    // A stop or restart meanwhile has cancelled this start's token.
    if (handles.start && handles.start->cancelled()) return false;
    // The thread holds this watcher until its loop stops, so the loop is there to decide.
    onLoop([handles](WatcherNSObject& self) { self.adoptStream(handles); });
    return true;
}

void WatcherNSObject::adoptStream(const watcher::StreamHandles& handles) {
    if (!stream_.adopt(handles)) return;
    shown_.update([&](Shown& shown) {
        shown.whichPath = handles.whichPath;
        shown.streamLoop = handles.runLoop;
    });
    // What changed while nobody watched is found by a walk.
    changes_.requestFull();
    startFullPassTimer();
    const platform::UserInfo started{{kUserInfoRunLoop, handles.runLoop},
                                     {kUserInfoIndex, static_cast<std::int32_t>(index_)},
                                     {kUserInfoTimer, handles.timer}};
    announce(kWatcherStreamDidStart, started);
    announce(kWatcherDidStart, started);
    countUnarchived(); // watched from now on: nothing waits unseen
    // Switched on: what arrived while nobody watched (the application was
    // not running, or watching was off) is archived now, not at the next event.
    if (!std::exchange(catchUpWanted_, false)) return;
    logf("WatcherNSObject => index %d: watching from now on; archiving what came meanwhile", index_);
    requestPass(storedFolder());
}

void WatcherNSObject::streamDidReport(const std::string& watchedPath,
                                      const std::vector<platform::FileEventStream::Event>& events) {
    logf("WatcherNSObject => index %d: %zu event(s) below %s", index_, events.size(), watchedPath.c_str());
    queueRequest([watchedPath, events](WatcherNSObject& self) {
        self.changes_.addEvents(events);
        self.requestPass(watchedPath);
    });
}

// While watching with fast archiving, a full pass now and then deletes what
// has grown old and catches anything the events missed.
void WatcherNSObject::startFullPassTimer() {
    const double minutes = Settings::read().fullPassMinutes;
    if (!(minutes > 0)) return;
    const platform::RunLoop::Seconds interval(minutes * 60.0);
    std::weak_ptr<WatcherNSObject> weak = weak_from_this();
    fullPassTimer_ = loop_.loop()->addTimer(interval, interval, [weak] {
        auto self = weak.lock();
        if (!self || !Settings::read().fast) return;
        logf("WatcherNSObject => index %d: the periodic full pass", self->index_);
        self->changes_.requestFull();
        self->requestPass(self->storedFolder());
    });
}

void WatcherNSObject::stopStream() {
    settleFollowUp_.cancel();
    loop_.loop()->removeTimer(std::exchange(fullPassTimer_, 0));
    stream_.stop(index_);
    shown_.update([](Shown& shown) { shown.streamLoop = nullptr; });
    announce(kWatcherDidStop);
}

// ---- command handlers --------------------------------------------------------

bool WatcherNSObject::matchesIndex(const Notification& n, const char* what) const {
    const auto* index = n.info<std::int32_t>(kUserInfoIndex);
    std::int16_t theirs = index ? static_cast<std::int16_t>(*index) : std::int16_t{-1};
    if (theirs != index_) {
        logf("WatcherNSObject => %s...index %d does not match mine (%d)", what, theirs, index_);
        return false;
    }
    return true;
}

// A scan or poll walks the whole folder, whatever events are pending.
void WatcherNSObject::requestScan(const std::optional<std::string>& requested) {
    logf("WatcherNSObject->handleFoundNewFile...index = %d", index_);
    queueRequest([requested](WatcherNSObject& self) {
        self.changes_.requestFull();
        self.requestPass(requested);
    });
}

// What arrived while the disk was away waits for no other event: a watched
// folder, or one whose pass the missing disk stopped, is walked now.
void WatcherNSObject::destinationReturned() {
    const auto last = PassResult::load(index_);
    const bool stopped = last && ArchiveDestination::isDestinationProblem(last->error);
    if (!stream_.running() && !stopped) return;
    walkOwnFolder("the destination is back");
}

// A pass that a full disk stopped waits for no other event either: once
// the disk has room again, the folder is walked.
void WatcherNSObject::spaceFreed() {
    const auto last = PassResult::load(index_);
    if (!last || DestinationProblem::of(last->error) != DestinationProblem::Kind::Full || pass_) return;
    walkOwnFolder("the destination has room again");
}

void WatcherNSObject::walkOwnFolder(const char* because) {
    const std::string own = storedFolder().value_or("");
    if (own.empty()) return;
    logf("WatcherNSObject => index %d: %s: archiving %s", index_, because, own.c_str());
    changes_.requestFull();
    requestPass(own);
}

// ---- the archive pass -------------------------------------------------------

void WatcherNSObject::markBusy(bool busy) { PassResult::markRunning(index_, busy); }

void WatcherNSObject::requestPass(const std::optional<std::string>& requested) {
    if (pass_) {
        logf("WatcherNSObject->handleFoundNewFile...self._insideFoundItemLoop is TRUE...SKIPPING index = %i", index_);
        // A change of the folder being archived gets one follow-up pass.
        if (!requested || *requested == pass_->source) passWanted_ = true;
        return;
    }
    markBusy(true);
    // Everything the pass decides from, in one read of the store.
    const platform::PreferenceSnapshot stored = Settings::readForPass();
    const auto source = acceptedSource(requested, stored);
    if (!source) return markBusy(false);
    // The destination, which may hang, is looked at on its bounded lane only (startPass).
    if (auto why = FolderSlotRules::refusal(index_, *source, FolderSlotRules::Others::EnabledSources, stored)) {
        refusePass(*source, *why);
        return markBusy(false);
    }
    startPass(*source, stored);
}

void WatcherNSObject::startPass(const std::string& source, const platform::PreferenceSnapshot& stored) {
    // Everything the pass writes goes below the folder found and proven
    // here, never below a stored path that may name what a disk left behind.
    // The destination, which may hang, is looked at on its bounded lane only.
    const DestinationState destination =
        DestinationCheck::locate(stored, ArchiveClaim{FolderSlotRules::archiveName(source), index_});
    if (auto why = FolderSlotRules::besideDestination(source, destination.realPath)) {
        refusePass(source, *why);
        return markBusy(false);
    }
    const std::string rule(49, '=');
    logf("%s", rule.c_str());
    logf("======    HANDLE the FILE or FOLDER       =======");
    logf("%s", rule.c_str());
    announce(kWatcherPassDidStart, {{kUserInfoRunLoop, loop_.loop()}});
    announce(kWatcherDidStart, {{kUserInfoRunLoop, loop_.loop()}});

    pass_ = std::make_shared<ArchivePass>(ArchivePass::capture(
        index_, source, FolderSlotRules::archiveFolder(destination.path, source), Settings::from(stored)));
    ++outstanding_; // until the pass has ended
    choosePassKind(*pass_);
    if (!destination.ready()) {
        logf("WatcherNSObject->handleFoundNewFile... for index[%i] FAILED to Start Synching - Destination Missing or "
             "Invalid....",
             index_);
        logf("Destination: %s", destination.detail.c_str());
        return endUnstartedPass(pass_, destination.problem);
    }
    // A disk too full for this pass's copies gets none of them, and no
    // deletion either: the next pass with room archives them.
    if (FreeSpaceFloor::isBelow(destination.freeBytes, pass_->floorBytes))
        return endUnstartedPass(pass_, DestinationProblem::text(DestinationProblem::Kind::Full));
    startSynchronization(pass_);
}

void WatcherNSObject::refusePass(const std::string& source, const std::string& why) {
    logf("ERROR: no pass of %s (index %d): %s", source.c_str(), index_, why.c_str());
    announce(kWatcherPassRefused, {{kUserInfoReason, why}});
    recordResult(source, PassResult::unstarted(index_, "refused: " + why));
}

void WatcherNSObject::endUnstartedPass(const std::shared_ptr<ArchivePass>& pass, const std::string& why) {
    pass->error = why;
    // Nothing was copied, so the clean-up has nothing it may remove.
    TaskDone::post(
        pass, [this, pass](const RunEnd& end) { passEnded(pass, end); }, RunEnd{});
}

void WatcherNSObject::recordResult(const std::string& source, const PassResult& result) {
    result.store(index_);
    logf("%s", result.summary(source).c_str());
    if (!result.error.empty()) logf("ERROR: %s: %s", source.c_str(), result.error.c_str());
    announce(kWatcherPassEnded, {{kUserInfoPassResult, result}});
    // Once the pass is over: what it left (or could not take) is counted again.
    onLoop([](WatcherNSObject& self) { self.countUnarchived(); });
}

// The folder a request may archive: its own (or, without one, the stored
// path), when the slot's folder validates, is that same folder and the slot
// is not switched off.
std::optional<std::string> WatcherNSObject::acceptedSource(const std::optional<std::string>& requested,
                                                           const platform::PreferenceSnapshot& stored) {
    const ParamDictionary param = _param();
    const std::string pathKey = CommonHeader::param(param, sPrefCameraFolderPathKey);
    std::optional<std::string> changed = requested;
    if (!changed && !pathKey.empty()) changed = stored.string(pathKey);

    // Validation may rewrite the stored path: a moved folder runs from the next request on.
    const auto folder = validatedFolderPath(CommonHeader::folderReferenceParameters(param), stored);
    const std::string enableKey = CommonHeader::param(param, sPrefCameraFolderPathEnableKey);
    if (!enableKey.empty() && !Settings::switchedOn(stored.object(enableKey))) return std::nullopt;
    if (!folder) {
        // A chosen folder that is gone cannot be archived: the user must know.
        if (changed && !changed->empty()) {
            recordResult(*changed, PassResult::unstarted(index_, "source missing"));
            watchForReturn();
        }
        return std::nullopt;
    }
    if (!changed || *changed != *folder) return std::nullopt;
    return changed;
}

void WatcherNSObject::watchForReturn() {
    // A stream that was on comes back with its folder; one switched off meanwhile does not.
    watchWhenBack_ = watchWhenBack_ || stream_.running();
    if (returnWatch_) return;
    // A card or disk comes back by a mount, which is told at once; a folder
    // made again, by the look every few seconds.
    constexpr std::chrono::seconds kEvery{2};
    logf("WatcherNSObject => index %d: the source is missing; looking for it when the mounts change and every %lld s",
         index_, static_cast<long long>(kEvery.count()));
    // The watcher is held only on its own loop: the watch's thread must
    // never be the one to let it go (it would wait for itself).
    std::weak_ptr<WatcherNSObject> weak = weak_from_this();
    std::weak_ptr<platform::RunLoop> loop = loop_.loop();
    try {
        returnWatch_ = std::make_unique<platform::MountTableWatch>(kEvery, [weak, loop](platform::MountTableWatch::Reason) {
            if (auto running = loop.lock())
                running->perform([weak] {
                    if (auto self = weak.lock()) self->checkReturn();
                });
        });
    } catch (const std::system_error& e) {
        logf("ERROR: index %d: the return of its source cannot be watched (%s); a scan finds it", index_, e.what());
    }
}

void WatcherNSObject::checkReturn() {
    if (!returnWatch_) return;
    const ParamDictionary reference = CommonHeader::folderReferenceParameters(_param());
    const platform::PreferenceSnapshot stored = Settings::readForPass();
    // Validated as a pass validates it: the folder is valid again, and a stream may watch it.
    if (!folderIsInPlace(reference, stored) || !validatedFolderPath(reference, stored)) return;
    returnWatch_.reset(); // from the loop, never from the watch's own thread
    // Its stream watched a folder that went away: a new one watches what is there now.
    if (std::exchange(watchWhenBack_, false)) {
        logf("WatcherNSObject => index %d: the source is back: watching it again", index_);
        return startStream(true);
    }
    walkOwnFolder("the source is back");
}

// Called before the pass is started, so nothing else sees it yet.
void WatcherNSObject::choosePassKind(ArchivePass& pass) {
    // A listed pass for the files a full pass left to be copied by name, with
    // whatever events named meanwhile.
    if (!byName_.empty() && !changes_.fullRequested()) {
        auto taken = changes_.take();
        pass.incremental = true;
        pass.changedFolders = std::move(taken.folders);
        pass.changedFiles = std::move(taken.files);
        pass.changedFiles.insert(pass.changedFiles.end(), byName_.begin(), byName_.end());
        byName_.clear();
        return;
    }
    byName_.clear(); // a full pass finds them again
    auto taken = changes_.take();
    if (!pass.fast || taken.full) return;
    pass.incremental = true;
    pass.changedFolders = std::move(taken.folders);
    pass.changedFiles = std::move(taken.files);
}

void WatcherNSObject::startSynchronization(const std::shared_ptr<ArchivePass>& pass) {
    // The run's end comes back to this watcher's loop alone.
    std::weak_ptr<WatcherNSObject> weak = weak_from_this();
    progress_.set(pass->progress);
    PassRun::start(pass, [weak, pass](const RunEnd& end) {
        if (auto self = weak.lock()) self->onLoop([pass, end](WatcherNSObject& self) { self.passEnded(pass, end); });
    });
}

void WatcherNSObject::passEnded(const std::shared_ptr<ArchivePass>& ended, const RunEnd& end) {
    logf("WatcherNSObject->handleFileSynchingDone...userInfo = %p (index %d)", static_cast<void*>(ended.get()), index_);
    // Only the run of this watcher's current pass ends it.
    if (!pass_ || ended != pass_) return;
    const auto pass = std::exchange(pass_, nullptr);
    progress_.set(nullptr);

    // A refused run, or one whose tools never started, copied nothing: what
    // the clean-up would remove may have no copy anywhere.
    const bool ran = end.started;
    // Whatever a failed pass was to copy is found again by a walk (also
    // once a missing destination is back).
    if (!end.ranWell()) changes_.requestFull();
    const bool ranWell = end.ranWell();
    if (!pass->incremental && ran) PassRun::noteYoungFiles(*pass);
    if (!pass->incremental && ranWell) PassRun::noteReplacedOriginals(*pass);
    // Photos its walk left because a camera dated them ahead, and photos that
    // only looked like their copies, are copied by a listed pass right after it.
    if (ranWell && (!pass->settledByChange.empty() || !pass->replacedOriginals.empty())) {
        logf("WatcherNSObject => index %d: %zu settled file(s) dated ahead by their camera and %zu unlike their "
             "copies: copying them by name",
             index_, pass->settledByChange.size(), pass->replacedOriginals.size());
        byName_ = std::move(pass->settledByChange);
        byName_.insert(byName_.end(), pass->replacedOriginals.begin(), pass->replacedOriginals.end());
        passWanted_ = true;
    }
    PassResult result = PassOutcome::of(*pass, end).result(*pass);
    // A card pulled mid-pass cut the pass short: what it did not reach waits.
    const bool sourceGone = !folderIsInPlace(CommonHeader::folderReferenceParameters(_param()), Settings::readForPass());
    if (sourceGone) {
        if (result.error.empty()) result.error = "source missing";
        changes_.requestFull();
        watchForReturn();
    }
    recordResult(pass->source, result);
    if (pass->incremental) {
        changes_.add(pass->youngFolders, pass->youngFiles);
    } else if (pass->deleting && ran && !sourceGone) {
        logf("Will try to delete empty folders inside this path = %s", pass->source.c_str());
        PassRun::cleanUp(*pass);
    } else if (pass->deleting) {
        logf("WatcherNSObject => index %d: nothing was copied from %s, so nothing is cleaned up", index_,
             pass->source.c_str());
    }
    announce(kWatcherDidStop);
    markBusy(false);
    runFollowUps(*pass);
    --outstanding_; // after the follow-up has been asked for: the slot never looks idle between them
}

// ---- follow-up passes --------------------------------------------------------

void WatcherNSObject::runFollowUps(const ArchivePass& pass) {
    if (std::exchange(passWanted_, false)) {
        logf("WatcherNSObject->handleFileSynchingDone...index %d changed during the pass: one more pass", index_);
        // What asked for it has said whether it must be a full pass.
        requestPass(pass.source);
        return;
    }
    scheduleSettleFollowUp(pass);
}

void WatcherNSObject::scheduleSettleFollowUp(const ArchivePass& pass) {
    if (!stream_.running()) return; // only a watched slot waits for its young files
    const auto moment = pass.settleMoment;
    if (!moment) return;
    const platform::RunLoop::Seconds delay = *moment - SettleTime::Clock::now();
    logf("WatcherNSObject => index %d: files too young to copy; next pass in %.0f s", index_, delay.count());
    std::weak_ptr<WatcherNSObject> weak = weak_from_this();
    settleFollowUp_.schedule(delay, [weak, source = pass.source] {
        if (auto self = weak.lock()) self->requestPass(source);
    });
}
