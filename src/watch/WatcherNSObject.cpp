#include "watch/WatcherNSObject.h"

#include "core/ArchiveDestination.h"
#include "core/DestinationMarker.h"
#include "core/Settings.h"
#include "core/validateFolderPrefWithParam.h"
#include "platform/preferences/UserDefaults.h"
#include "platform/runtime/Log.h"
#include "tools/KLVR_Task.h"
#include "tools/SynchronizationPolicy.h"
#include "tools/TaskDone.h"
#include "tools/ChangedFiles.h"
#include "tools/DestinationCheck.h"
#include "tools/FolderSlotRules.h"
#include "tools/FreeSpaceFloor.h"
#include "tools/PassOutcome.h"
#include "tools/PassResult.h"
#include "tools/SettleTime.h"
#include "watch/watcher.h"

#include <algorithm>
#include <filesystem>
#include <thread>
#include <utility>

using platform::logf;
using platform::Notification;
using platform::NotificationCenter;
using platform::UserDefaults;

namespace {

std::string joinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

UserDefaults& prefs() { return UserDefaults::standard(); }

// Events the stream could not report one by one: only a walk of the whole
// folder finds what they would have named.
bool needsFullWalk(const platform::FileEventStream::Event& event) {
    using platform::FileEventStream;
    return event.flags & (FileEventStream::UserDropped | FileEventStream::KernelDropped | FileEventStream::RootChanged |
                          FileEventStream::Unmount | FileEventStream::MustScanSubDirs);
}

// A request to archive one folder, as the stream, a poll or a follow-up makes it.
Notification changeOf(const std::string& folder) {
    return Notification{kWatcherItemChanged, nullptr, platform::UserInfo{{kUserInfoWatchPath, folder}}, {}};
}

} // namespace

// ---- life cycle -------------------------------------------------------------

std::shared_ptr<WatcherNSObject> WatcherNSObject::create() {
    std::shared_ptr<WatcherNSObject> w(new WatcherNSObject());
    w->subscribe(kWatcherSetParams, &WatcherNSObject::handleWatcherSetParamsNotification2);
    return w;
}

WatcherNSObject::~WatcherNSObject() { NotificationCenter::defaultCenter().removeObserver(this); }

void WatcherNSObject::subscribe(const std::string& name, void (WatcherNSObject::*handler)(const Notification&)) {
    // The centre must not keep the watcher alive: it holds only a weak reference.
    std::weak_ptr<WatcherNSObject> weak = weak_from_this();
    NotificationCenter::defaultCenter().addObserver(this, name, [weak, handler](const Notification& n) {
        if (auto self = weak.lock()) ((*self).*handler)(n);
    });
}

void WatcherNSObject::setupObservers() {
    subscribe(kWatcherDoStart, &WatcherNSObject::handleWatcherDoStartNotification);
    subscribe(kWatcherDoStop, &WatcherNSObject::handleWatcherDoStopNotification);
    subscribe(kWatcherDoStopAll, &WatcherNSObject::handleWatcherDoStopAllNotification);
    subscribe(kWatcherDoStartAll, &WatcherNSObject::handleWatcherDoStartAllNotification);
    subscribe(kWatcherItemChanged, &WatcherNSObject::handleFoundNewFile);
    subscribe(kWatcherDoPollFolder, &WatcherNSObject::handleWatcherDoPollFolderNotification);
    subscribe(kDestinationDidChange, &WatcherNSObject::handleDestinationChanged);
}

void WatcherNSObject::announce(const std::string& name, const platform::UserInfo& extra) {
    platform::UserInfo info = extra;
    info[kUserInfoWatcherObj] = shared_from_this();
    NotificationCenter::defaultCenter().post(name, nullptr, info);
}

// ---- properties --------------------------------------------------------------

ParamDictionary WatcherNSObject::_param() const {
    std::lock_guard lock(mutex_);
    return param_;
}

void WatcherNSObject::set_Param(const ParamDictionary& param) {
    std::lock_guard lock(mutex_);
    param_ = param;
}

std::string WatcherNSObject::_whichPath() const {
    std::lock_guard lock(mutex_);
    return stream_.whichPath;
}

std::shared_ptr<platform::RunLoop> WatcherNSObject::_CFRunLoopRef() const {
    std::lock_guard lock(mutex_);
    return stream_.runLoop;
}

std::string WatcherNSObject::getPrefNameForInProgress(std::int16_t index) { return CommonHeader::inProgressKey(index); }

std::string WatcherNSObject::prefString(const std::string& paramName) const {
    auto key = CommonHeader::param(_param(), paramName);
    if (key.empty()) return {};
    return prefs().stringForKey(key).value_or("");
}

// ---- starting and stopping the stream ---------------------------------------

void WatcherNSObject::setupWatcher() {
    logf("Inside WatcherNSObject => setupWatcher...index = %d", index_);
    unloadWatcher();

    const ParamDictionary param = _param();
    const std::string enableKey = CommonHeader::param(param, sPrefCameraFolderPathEnableKey);
    if (enableKey.empty() || !prefs().boolForKey(enableKey)) {
        logf("WatcherNSObject => setupWatcher...NOT Enabled...");
        return;
    }
    const std::string pathKey = CommonHeader::param(param, sPrefCameraFolderPathKey);
    const std::string validKey = CommonHeader::param(param, sPrefCameraFolderPathAliasDataIsValidKey);
    const auto path = pathKey.empty() ? std::nullopt : prefs().stringForKey(pathKey);
    const bool isValidPath = !validKey.empty() && prefs().boolForKey(validKey);
    if (!path || !isValidPath) {
        if (!path) logf("WatcherNSObject => setupWatcher...pathToWatch is NIL");
        if (!isValidPath) logf("WatcherNSObject => setupWatcher...isValidPath is FALSE");
        return;
    }

    std::uint64_t generation;
    auto cancel = std::make_shared<platform::StreamCancel>();
    {
        std::lock_guard lock(mutex_);
        generation = ++generation_;
        setupCancel_ = cancel;
    }
    platform::UserInfo setup{{"pathToWatch", *path},
                             {kUserInfoWatchPath, pathKey},
                             {kUserInfoIndex, static_cast<std::int32_t>(index_)},
                             {"generation", generation},
                             {"cancel", cancel}};
    logf("WatcherNSObject => setupWatcher...pathToWatch = %s, watchPath = %s, index = %d", path->c_str(),
         pathKey.c_str(), index_);
    // The thread keeps the watcher and its setup alive until it ends.
    std::thread([self = shared_from_this(), setup] { self->doSetupWatchFolderInThreadNew(setup); }).detach();
}

void WatcherNSObject::doSetupWatchFolderInThreadNew(const std::optional<platform::UserInfo>& setup) {
    if (!setup) {
        logf("Inside WatcherNSObject => doSetupWatchFolderInThreadNew...param is NIL");
        return;
    }
    auto pathIt = setup->find("pathToWatch");
    auto keyIt = setup->find(kUserInfoWatchPath);
    const std::string* path = pathIt == setup->end() ? nullptr : std::any_cast<std::string>(&pathIt->second);
    const std::string* key = keyIt == setup->end() ? nullptr : std::any_cast<std::string>(&keyIt->second);
    if (!path) logf("Inside WatcherNSObject => doSetupWatchFolderInThreadNew...pathToWatch is missing");
    if (!key) logf("Inside WatcherNSObject => doSetupWatchFolderInThreadNew...watchPath is missing");
    if (!path || !key) return;

    std::error_code ec;
    // A path too long for the stream thread's path buffer is refused like a missing folder.
    if (!watcher::pathFitsBuffer(*path) || !std::filesystem::is_directory(*path, ec)) {
        logf("Inside WatcherNSObject => doSetupWatchFolderInThreadNew... FAILED to install the watcher - folder does "
             "NOT exists?");
        return;
    }
    watcher::doInstallTheWatcherNew(*setup, *this);
}

bool WatcherNSObject::isCurrentStream(std::uint64_t generation) const {
    std::lock_guard lock(mutex_);
    return generation == generation_;
}

bool WatcherNSObject::streamDidStart(const watcher::StreamHandles& handles) {
    std::shared_ptr<platform::RunLoop> replaced;
    {
        std::lock_guard lock(mutex_);
        if (handles.generation != generation_) return false;
        // Two starts at once: the first one's stream may have been adopted
        // before the second took its generation. It must not run on unseen.
        replaced = std::exchange(stream_.runLoop, nullptr);
        stream_ = handles;
    }
    if (replaced && replaced != handles.runLoop) replaced->stop();
    // What changed while nobody watched is found by a walk.
    changes_.requestFull();
    startFullPassTimer(handles);
    const platform::UserInfo started{{kUserInfoRunLoop, handles.runLoop},
                                     {kUserInfoIndex, static_cast<std::int32_t>(index_)},
                                     {kUserInfoTimer, handles.timer}};
    announce(kWatcherStreamDidStart, started);
    announce(kWatcherDidStart, started);
    // A stop between adopting the stream and announcing it has already said
    // "stopped"; say it again so the row does not keep showing a stream.
    if (!isCurrentStream(handles.generation)) announce(kWatcherDidStop);
    return true;
}

void WatcherNSObject::streamDidReport(const std::string& watchedPath,
                                      const std::vector<platform::FileEventStream::Event>& events) {
    logf("WatcherNSObject => index %d: %zu event(s) below %s", index_, events.size(), watchedPath.c_str());
    std::vector<std::string> folders;
    bool full = false;
    for (const auto& event : events) {
        full = full || needsFullWalk(event);
        folders.push_back(event.path);
    }
    if (full) changes_.requestFull();
    else changes_.addFolders(folders);
    requestPass(watchedPath);
}

// While watching with fast archiving, a full pass now and then deletes what
// has grown old and catches anything the events missed.
void WatcherNSObject::startFullPassTimer(const watcher::StreamHandles& handles) {
    const double minutes = Settings::read().fullPassMinutes;
    if (!(minutes > 0) || !handles.runLoop) return;
    const platform::RunLoop::Seconds interval(minutes * 60.0);
    std::weak_ptr<WatcherNSObject> weak = weak_from_this();
    handles.runLoop->addTimer(interval, interval, [weak, key = handles.whichPath] {
        auto self = weak.lock();
        if (!self || !Settings::read().fast) return;
        logf("WatcherNSObject => index %d: the periodic full pass", self->index_);
        self->changes_.requestFull();
        self->requestPass(prefs().stringForKey(key));
    });
}

void WatcherNSObject::unloadWatcher() {
    std::shared_ptr<platform::RunLoop> loop;
    std::shared_ptr<platform::StreamCancel> cancel;
    {
        std::lock_guard lock(mutex_);
        cancel = std::exchange(setupCancel_, nullptr);
        loop = std::move(stream_.runLoop);
        stream_.runLoop.reset();
        stream_.timer = 0;
        // A thread still starting belongs to the old generation and ends when it reports.
        ++generation_;
    }
    settleFollowUp_.cancel();
    // A stream still adding its watches stops adding them and lets them go.
    if (cancel) cancel->cancel();
    if (loop) {
        logf("Trying to Stop myLoop[%i]........", index_);
        loop->stop();
    } else {
        logf("Inside WatcherNSObject => unloadWatcher...myRunLoop[%i] is NIL....", index_);
    }
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

void WatcherNSObject::handleWatcherDoStartAllNotification(const Notification& n) {
    logf("WatcherNSObject => handleWatcherDoStartAllNotification...%s (index %d)", n.name.c_str(), index_);
    setupWatcher();
}

void WatcherNSObject::handleWatcherDoStopAllNotification(const Notification& n) {
    logf("WatcherNSObject => handleWatcherDoStopAllNotification...%s (index %d)", n.name.c_str(), index_);
    unloadWatcher();
}

void WatcherNSObject::handleWatcherDoStartNotification(const Notification& n) {
    if (matchesIndex(n, "handleWatcherDoStartNotification")) setupWatcher();
}

void WatcherNSObject::handleWatcherDoStopNotification(const Notification& n) {
    if (matchesIndex(n, "handleWatcherDoStopNotification")) unloadWatcher();
}

void WatcherNSObject::handleWatcherSetParamsNotification2(const Notification&) { setupWatcher(); }

// ---- the archive pass -------------------------------------------------------

void WatcherNSObject::markBusy(bool busy) {
    const std::string key = getPrefNameForInProgress(index_);
    if (busy) prefs().setBool(key, true);
    else prefs().removeObjectForKey(key);
    prefs().synchronize();
}

bool WatcherNSObject::claimPass(const std::optional<std::string>& changedPath) {
    if (!insideFoundItemLoop_.exchange(true)) return true;
    logf("WatcherNSObject->handleFoundNewFile...self._insideFoundItemLoop is TRUE...SKIPPING index = %i", index_);
    // A change of the folder being archived gets one follow-up pass.
    std::string own;
    {
        std::lock_guard lock(mutex_);
        if (pass_) own = pass_->source;
    }
    if (own.empty()) own = prefString(sPrefCameraFolderPathKey); // still checking: no pass captured yet
    if (!own.empty() && (!changedPath || *changedPath == own)) followUpRequested_ = true;
    return false;
}

void WatcherNSObject::freeSlot() {
    // The flag goes first: once the slot is free, a new pass may set it
    // again, and that pass's flag must not be removed by this one.
    markBusy(false);
    insideFoundItemLoop_ = false;
}

void WatcherNSObject::handleFoundNewFile(const Notification& n) {
    logf("WatcherNSObject->handleFoundNewFile...index = %d", index_);
    const std::string* watchPath = n.info<std::string>(kUserInfoWatchPath);
    // A scan or poll walks the whole folder, whatever events are pending.
    changes_.requestFull();
    requestPass(watchPath ? std::optional(*watchPath) : std::nullopt);
}

void WatcherNSObject::requestPass(const std::optional<std::string>& requested) {
    if (!claimPass(requested)) return;
    markBusy(true);
    const auto source = acceptedSource(requested);
    if (!source) return freeSlot();
    if (auto why = FolderSlotRules::refusal(index_, *source, FolderSlotRules::Others::Enabled)) {
        refusePass(*source, *why);
        return freeSlot();
    }

    const std::string rule(49, '=');
    logf("%s", rule.c_str());
    logf("======    HANDLE the FILE or FOLDER       =======");
    logf("%s", rule.c_str());
    announce(kWatcherPassDidStart, {{kUserInfoRunLoop, platform::RunLoop::current()}});
    announce(kWatcherDidStart, {{kUserInfoRunLoop, platform::RunLoop::current()}});

    // Everything the pass writes goes below the folder found and proven
    // here, never below a stored path that may name what a disk left behind.
    const DestinationState destination = DestinationCheck::locate();
    auto pass = beginPass(*source, joinPath(destination.path, FolderSlotRules::archiveName(*source)));
    choosePassKind(*pass);
    if (!destination.ready()) {
        logf("WatcherNSObject->handleFoundNewFile... for index[%i] FAILED to Start Synching - Destination Missing or "
             "Invalid....",
             index_);
        logf("Destination: %s", destination.detail.c_str());
        return endUnstartedPass(pass, destination.problem);
    }
    // A disk too full for this pass's copies gets none of them, and no
    // deletion either: the next pass with room archives them.
    if (FreeSpaceFloor::isBelow(destination.freeBytes, pass->floorBytes)) return endUnstartedPass(pass, "destination full");
    startSynchronization(pass);
}

void WatcherNSObject::refusePass(const std::string& source, const std::string& why) {
    logf("ERROR: no pass of %s (index %d): %s", source.c_str(), index_, why.c_str());
    announce(kWatcherPassRefused, {{kUserInfoReason, why}});
    recordUnstartedPass(source, "refused: " + why);
}

void WatcherNSObject::endUnstartedPass(const std::shared_ptr<ArchivePass>& pass, const std::string& why) {
    pass->error = why;
    // Nothing was copied, so the clean-up has nothing it may remove.
    const Notification done{kKLVVR_TASK_DONE, nullptr, platform::UserInfo{{kUserInfoTaskStarted, false}}, pass};
    handleFileSynchingDone(done);
    NotificationCenter::defaultCenter().post(done); // for any other listener
}

// ---- pass results -------------------------------------------------------------

void WatcherNSObject::recordUnstartedPass(const std::string& source, const std::string& why) {
    recordResult(source, PassResult::unstarted(index_, why));
}

void WatcherNSObject::recordResult(const std::string& source, const PassResult& result) {
    result.store(index_);
    logf("%s", result.summary(source).c_str());
    if (!result.error.empty()) logf("ERROR: %s: %s", source.c_str(), result.error.c_str());
    announce(kWatcherPassEnded, {{kUserInfoPassResult, result}});
}

// The folder a request may archive: its own (or, without one, the stored
// path), when the slot's folder validates, is that same folder and the slot
// is not switched off.
std::optional<std::string> WatcherNSObject::acceptedSource(const std::optional<std::string>& requested) {
    const ParamDictionary param = _param();
    const std::string pathKey = CommonHeader::param(param, sPrefCameraFolderPathKey);
    std::optional<std::string> changed = requested;
    if (!changed && !pathKey.empty()) changed = prefs().stringForKey(pathKey);

    // Validation may rewrite the stored path: a moved folder runs from the next request on.
    const auto stored = validatedFolderPath(CommonHeader::folderReferenceParameters(param));
    const std::string enableKey = CommonHeader::param(param, sPrefCameraFolderPathEnableKey);
    if (!enableKey.empty() && !Settings::switchedOn(prefs().objectForKey(enableKey))) return std::nullopt;
    if (!stored) {
        // A chosen folder that is gone cannot be archived: the user must know.
        if (changed && !changed->empty()) recordUnstartedPass(*changed, "source missing");
        return std::nullopt;
    }
    if (!changed || *changed != *stored) return std::nullopt;
    return changed;
}

std::shared_ptr<ArchivePass> WatcherNSObject::beginPass(const std::string& source,
                                                               const std::string& archiveFolder) {
    auto pass = std::make_shared<ArchivePass>(ArchivePass::capture(index_, source, archiveFolder, Settings::read()));
    std::lock_guard lock(mutex_);
    pass_ = pass;
    return pass;
}

// Called before the pass is started, so nothing else sees it yet.
void WatcherNSObject::choosePassKind(ArchivePass& pass) {
    auto taken = changes_.take();
    if (!pass.fast || taken.full) return;
    pass.incremental = true;
    pass.changedFolders = std::move(taken.folders);
}

std::shared_ptr<ArchivePass> WatcherNSObject::takePass(const platform::Object& context) {
    std::lock_guard lock(mutex_);
    if (!pass_ || context.get() != pass_.get()) return nullptr;
    return std::exchange(pass_, nullptr);
}

void WatcherNSObject::startSynchronization(const std::shared_ptr<ArchivePass>& pass) {
    // The run's end comes back to this watcher alone.
    std::weak_ptr<WatcherNSObject> weak = weak_from_this();
    TaskDone::expect(pass, [weak](const Notification& done) {
        if (auto self = weak.lock()) self->handleFileSynchingDone(done);
    });
    if (pass->incremental) {
        auto changed = ChangedFiles::list(pass->source, pass->changedFolders, pass->settleMinutes,
                                          std::chrono::system_clock::now());
        logf("WatcherNSObject => index %d: %zu file(s) to copy in %zu changed folder(s) of %s", index_,
             changed.files.size(), pass->changedFolders.size(), pass->source.c_str());
        pass->youngFolders = std::move(changed.youngFolders);
        pass->settleMoment = changed.settleMoment;
        pass->youngCount = changed.youngCount;
        pass->oldestYoung = changed.oldestYoung;
        KLVR_Task::synchronizeListedFileItemsAtFolderPath(pass->source, pass->archiveFolder, std::move(changed.files),
                                                          pass);
    } else if (pass->fast)
        KLVR_Task::synchronizeFileItemsBatchedAtFolderPath(pass->source, pass->archiveFolder, pass->copyMinutes(),
                                                           pass->copyDays(), pass);
    else
        KLVR_Task::synchronizeFileItemsAtFolderPath(pass->source, pass->archiveFolder, pass->copyMinutes(),
                                                    pass->copyDays(), pass);
}

void WatcherNSObject::handleFileSynchingDone(const Notification& n) {
    logf("WatcherNSObject->handleFileSynchingDone...userInfo = %p (index %d)", n.context.get(), index_);
    // Only the run of this watcher's current pass ends it.
    auto pass = takePass(n.context);
    if (!pass) return;

    // A refused run, or one whose tools never started, copied nothing: what
    // the clean-up would remove may have no copy anywhere.
    const bool* started = n.info<bool>(kUserInfoTaskStarted);
    const std::int32_t* status = n.info<std::int32_t>(kUserInfoTaskStatus);
    // Whatever a failed pass was to copy is found again by a walk (also
    // once a missing destination is back).
    if (!started || !*started || (status && *status != 0)) changes_.requestFull();
    if (!pass->incremental && started && *started) noteYoungFiles(*pass);
    recordResult(pass->source, PassOutcome::of(*pass, n).result(*pass));
    if (pass->incremental) {
        changes_.addFolders(pass->youngFolders);
    } else if (pass->deleting && started && *started) {
        logf("Will try to delete empty folders inside this path = %s", pass->source.c_str());
        removeOldEmptyFolders(*pass);
    } else if (pass->deleting) {
        logf("WatcherNSObject => index %d: nothing was copied from %s, so nothing is cleaned up", index_,
             pass->source.c_str());
    }
    announce(kWatcherDidStop);
    freeSlot();
    runFollowUps(*pass);
}

void WatcherNSObject::removeOldEmptyFolders(const std::string& path) {
    const auto destinationKey =
        CommonHeader::slotParameters(CommonHeader::kDestinationSlot).at(sPrefCameraFolderPathKey);
    const std::string destination = prefs().stringForKey(destinationKey).value_or("");
    removeOldEmptyFolders(
        ArchivePass::capture(index_, path, joinPath(destination, FolderSlotRules::archiveName(path)), Settings::read()));
}

void WatcherNSObject::removeOldEmptyFolders(const ArchivePass& pass) {
    std::error_code ec;
    if (pass.source.empty() || !std::filesystem::is_directory(pass.source, ec)) {
        logf("Inside WatcherNSObject => removeOldEmptyFolders...Directory does not exist or is not a directory...km");
        return;
    }
    if (pass.deleteAfterDays == 0) return;
    if (auto why = FolderSlotRules::cleanUpRefusal(pass.source, pass.archiveFolder)) {
        logf("WatcherNSObject => no clean-up of %s: %s", pass.source.c_str(), why->c_str());
        return;
    }
    // Hidden files are often photos still being written under a temporary
    // name: only those left alone for the settle time, and copied, go.
    // The copies are reached through the archive's marker, as the pass's own tools reach them.
    const std::string archive = DestinationMarker::reachedThroughMarker(pass.archiveFolder);
    KLVR_Task::findAtPath(pass.source, std::string("f"), {".*"}, 0u, pass.cleanUpMinutes(), std::nullopt,
                          SynchronizationPolicy::verifiedRemoval(archive), nullptr);
    KLVR_Task::removeSubdirectoriesAtPath(pass.source, {}, static_cast<unsigned>(std::max(0L, pass.deleteAfterDays)),
                                          std::nullopt, nullptr);
}

void WatcherNSObject::handleDestinationChanged(const Notification& n) {
    const bool* returned = n.info<bool>(kUserInfoReturned);
    if (!returned || !*returned) return;
    // What arrived while the disk was away waits for no other event: a
    // watched folder, or one whose pass the missing disk stopped, is walked now.
    const auto last = PassResult::load(index_);
    const bool stopped = last && ArchiveDestination::isDestinationProblem(last->error);
    if (!_CFRunLoopRef() && !stopped) return;
    const std::string own = prefString(sPrefCameraFolderPathKey);
    if (own.empty()) return;
    logf("WatcherNSObject => index %d: the destination is back: archiving %s", index_, own.c_str());
    changes_.requestFull();
    requestPass(own);
}

void WatcherNSObject::handleWatcherDoPollFolderNotification(const Notification&) {
    logf("WatcherNSObject => handleWatcherDoPollFolderNotification...index = %d", index_);
    auto path = prefs().stringForKey(CommonHeader::cameraFolderPathKey(index_));
    if (!path) return;
    handleFoundNewFile(changeOf(*path));
}

// ---- follow-up passes --------------------------------------------------------

void WatcherNSObject::runFollowUps(const ArchivePass& pass) {
    if (followUpRequested_.exchange(false)) {
        logf("WatcherNSObject->handleFileSynchingDone...index %d changed during the pass: one more pass", index_);
        // On this thread: a stopped run loop drops queued work, and a follow-up a
        // scan asked for must not be lost because watching was switched off.
        // What asked for it has said whether it must be a full pass.
        requestPass(pass.source);
        return;
    }
    scheduleSettleFollowUp(pass);
}

// A full pass's walk selects only settled files: the young ones are found
// by a walk of our own once it has ended.
void WatcherNSObject::noteYoungFiles(ArchivePass& pass) {
    const auto young = SettleTime::youngFiles(pass.source, pass.settleMinutes, SettleTime::Clock::now());
    pass.youngCount = young.count;
    pass.oldestYoung = young.oldest;
    pass.settleMoment = young.settleMoment;
}

void WatcherNSObject::scheduleSettleFollowUp(const ArchivePass& pass) {
    auto loop = _CFRunLoopRef();
    if (!loop) return; // only a watched slot waits for its young files
    const auto now = SettleTime::Clock::now();
    const auto moment = pass.settleMoment;
    if (!moment) return;
    const platform::RunLoop::Seconds delay = *moment - now;
    logf("WatcherNSObject => index %d: files too young to copy; next pass in %.0f s", index_, delay.count());
    std::weak_ptr<WatcherNSObject> weak = weak_from_this();
    settleFollowUp_.schedule(loop, delay, [weak, source = pass.source] {
        if (auto self = weak.lock()) self->requestPass(source);
    });
}
