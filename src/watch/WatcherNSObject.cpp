#include "watch/WatcherNSObject.h"

#include "core/validateFolderPrefWithParam.h"
#include "platform/runtime/Log.h"
#include "platform/preferences/UserDefaults.h"
#include "tools/KLVR_Task.h"
#include "watch/SettleTime.h"
#include "watch/watcher.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <thread>

using platform::logf;
using platform::Notification;
using platform::NotificationCenter;
using platform::UserDefaults;

namespace {

// Days handed to the copy run when deletion is off: no real file is that old.
constexpr long kNeverDeleteDays = 36500;
constexpr long kDefaultMinutes = 20;

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

// The last component of a path, as a folder name: trailing slashes ignored.
std::string lastPathComponent(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string joinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

UserDefaults& prefs() { return UserDefaults::standard(); }

// Minutes a file must rest before it is copied; a setting never stored means 20.
long settleMinutes() {
    platform::Value stored = prefs().objectForKey(kPrefBackupSourceImagesAfterMinutesOld);
    return stored.isNone() ? kDefaultMinutes : static_cast<long>(stored.toInteger());
}

} // namespace

// ---- life cycle -------------------------------------------------------------

std::shared_ptr<WatcherNSObject> WatcherNSObject::create() {
    std::shared_ptr<WatcherNSObject> w(new WatcherNSObject());
    w->subscribe(kWatcherSetParams, &WatcherNSObject::handleWatcherSetParamsNotification2);
    w->subscribe(kKLVVR_TASK_DONE, &WatcherNSObject::handleFileSynchingDone);
    return w;
}

std::shared_ptr<WatcherNSObject> WatcherNSObject::createTemporary() {
    auto w = create();
    w->temporary_ = true;
    return w;
}

WatcherNSObject::~WatcherNSObject() {
    NotificationCenter::defaultCenter().removeObserver(this);
    cancelSettleFollowUp();
}

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
    subscribe(kWatcherDidStart, &WatcherNSObject::handleWatcherStartedNotification);
    subscribe(kWatcherItemChanged, &WatcherNSObject::handleFoundNewFile);
    subscribe(kWatcherDoPollFolder, &WatcherNSObject::handleWatcherDoPollFolderNotification);
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
    {
        std::lock_guard lock(mutex_);
        generation = ++generation_;
    }
    platform::UserInfo setup{{"pathToWatch", *path},
                             {kUserInfoWatchPath, pathKey},
                             {kUserInfoIndex, static_cast<std::int32_t>(index_)},
                             {"generation", generation}};
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
    watcher::doInstallTheWatcherNew(*setup, shared_from_this());
}

void WatcherNSObject::setStreamHandles(const StreamHandles& handles) {
    std::lock_guard lock(mutex_);
    stream_ = handles;
}

bool WatcherNSObject::isCurrentStream(std::uint64_t generation) const {
    std::lock_guard lock(mutex_);
    return generation == generation_;
}

void WatcherNSObject::handleWatcherStartedNotification(const Notification& n) {
    const auto* obj = n.info<std::shared_ptr<WatcherNSObject>>(kUserInfoWatcherObj);
    if (!obj || !*obj || obj->get() == this) return; // a pass of our own
    const WatcherNSObject& started = **obj;
    if (started._index() != index_) {
        logf("WatcherNSObject => handleWatcherStartedNotification...index %d is not mine (%d): not assigning values",
             started._index(), index_);
        return;
    }
    StreamHandles handles;
    {
        std::lock_guard lock(started.mutex_);
        handles = started.stream_;
    }
    std::lock_guard lock(mutex_);
    if (handles.generation != generation_) {
        // Started by a request that a later start or stop has overtaken.
        if (handles.runLoop) handles.runLoop->stop();
        return;
    }
    stream_ = handles;
}

void WatcherNSObject::unloadWatcher() {
    std::shared_ptr<platform::RunLoop> loop;
    {
        std::lock_guard lock(mutex_);
        loop = std::move(stream_.runLoop);
        stream_.runLoop.reset();
        stream_.timer = 0;
        // A thread still starting belongs to the old generation and stops when it reports.
        ++generation_;
    }
    cancelSettleFollowUp();
    if (loop) {
        logf("Trying to Stop myLoop[%i]........", index_);
        loop->stop();
    } else {
        logf("Inside WatcherNSObject => unloadWatcher...myRunLoop[%i] is NIL....", index_);
    }
    NotificationCenter::defaultCenter().post(kWatcherDidStop, nullptr,
                                             platform::UserInfo{{kUserInfoWatcherObj, shared_from_this()}});
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
    if (temporary_) return;
    setupWatcher();
}

void WatcherNSObject::handleWatcherDoStopAllNotification(const Notification& n) {
    logf("WatcherNSObject => handleWatcherDoStopAllNotification...%s (index %d)", n.name.c_str(), index_);
    if (temporary_) return;
    unloadWatcher();
}

void WatcherNSObject::handleWatcherDoStartNotification(const Notification& n) {
    if (temporary_ || !matchesIndex(n, "handleWatcherDoStartNotification")) return;
    setupWatcher();
}

void WatcherNSObject::handleWatcherDoStopNotification(const Notification& n) {
    if (temporary_ || !matchesIndex(n, "handleWatcherDoStopNotification")) return;
    unloadWatcher();
}

void WatcherNSObject::handleWatcherSetParamsNotification2(const Notification& n) {
    (void)n;
    // A temporary watcher holds a stream thread's own loop: restarting it would end that stream.
    if (temporary_) return;
    setupWatcher();
}

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
    // A change of our own folder during a pass gets one follow-up pass.
    const std::string own = prefString(sPrefCameraFolderPathKey);
    if (!own.empty() && (!changedPath || equalsIgnoringCase(*changedPath, own))) followUpRequested_ = true;
    return false;
}

void WatcherNSObject::endWithoutPass() {
    insideFoundItemLoop_ = false;
    markBusy(false);
}

void WatcherNSObject::handleFoundNewFile(const Notification& n) {
    if (temporary_) return;
    logf("WatcherNSObject->handleFoundNewFile...index = %d", index_);
    const std::string* watchPath = n.info<std::string>(kUserInfoWatchPath);
    const std::optional<std::string> requested = watchPath ? std::optional(*watchPath) : std::nullopt;
    if (!claimPass(requested)) return;
    markBusy(true);

    const ParamDictionary param = _param();
    const std::string pathKey = CommonHeader::param(param, sPrefCameraFolderPathKey);
    std::optional<std::string> changed = requested;
    if (!changed && !pathKey.empty()) changed = prefs().stringForKey(pathKey);

    if (!validateFolderPrefWithParam(CommonHeader::folderReferenceParameters(param))) return endWithoutPass();
    const auto stored = pathKey.empty() ? std::nullopt : prefs().stringForKey(pathKey);
    if (!changed || !stored || !equalsIgnoringCase(*changed, *stored)) return endWithoutPass();

    const std::string enableKey = CommonHeader::param(param, sPrefCameraFolderPathEnableKey);
    // An enable switch that was never stored counts as on for a pass.
    if (!enableKey.empty()) {
        platform::Value enabled = prefs().objectForKey(enableKey);
        if (!enabled.isNone() && !enabled.toBool()) return endWithoutPass();
    }

    const std::string rule(49, '=');
    logf("%s", rule.c_str());
    logf("======    HANDLE the FILE or FOLDER       =======");
    logf("%s", rule.c_str());
    NotificationCenter::defaultCenter().post(kWatcherDidStart, nullptr,
                                             platform::UserInfo{{kUserInfoRunLoop, platform::RunLoop::current()},
                                                                {kUserInfoWatcherObj, shared_from_this()}});

    const ParamDictionary destinationRef =
        CommonHeader::folderReferenceParameters(CommonHeader::slotParameters(CommonHeader::kDestinationSlot));
    const std::string destination = prefs().stringForKey(destinationRef.at(sPrefFolderNameKey)).value_or("");
    const std::string archiveDestination = joinPath(destination, lastPathComponent(*changed));
    if (!validateFolderPrefWithParam(destinationRef)) {
        logf("WatcherNSObject->handleFoundNewFile... for index[%i] FAILED to Start Synching - Destination Missing or "
             "Invalid....",
             index_);
        NotificationCenter::defaultCenter().postWithContext(kKLVVR_TASK_DONE, shared_from_this());
        return;
    }
    startSynchronization(*changed, archiveDestination);
}

void WatcherNSObject::startSynchronization(const std::string& source, const std::string& archiveDestination) {
    const long minutes = settleMinutes();
    const bool deleting = prefs().boolForKey(kPrefEnableDeleteOldSourceImages);
    const long days = deleting ? static_cast<long>(prefs().integerForKey(kPrefDeleteSourceImagesAfterDaysOld))
                               : kNeverDeleteDays;
    const auto settled = static_cast<unsigned>(std::max(0L, minutes));
    const auto deleteAfter = static_cast<unsigned>(std::max(0L, days));
    if (prefs().boolForKey(kPrefUseBatchedSynchronization))
        KLVR_Task::synchronizeFileItemsBatchedAtFolderPath(source, archiveDestination, settled, deleteAfter,
                                                           shared_from_this());
    else
        KLVR_Task::synchronizeFileItemsAtFolderPath(source, archiveDestination, settled, deleteAfter,
                                                    shared_from_this());
}

void WatcherNSObject::handleFileSynchingDone(const Notification& n) {
    logf("WatcherNSObject->handleFileSynchingDone...userInfo = %p (index %d)", n.context.get(), index_);
    if (temporary_ || n.context.get() != this) return;

    if (prefs().boolForKey(kPrefEnableDeleteOldSourceImages)) {
        const std::string path = prefString(sPrefCameraFolderPathKey);
        logf("Will try to delete empty folders inside this path = %s", path.c_str());
        removeOldEmptyFolders(path);
    }
    NotificationCenter::defaultCenter().post(kWatcherDidStop, nullptr,
                                             platform::UserInfo{{kUserInfoWatcherObj, shared_from_this()}});
    insideFoundItemLoop_ = false;
    markBusy(false);
    runFollowUps();
}

void WatcherNSObject::removeOldEmptyFolders(const std::string& path) {
    std::error_code ec;
    if (path.empty() || !std::filesystem::is_directory(path, ec)) {
        logf("Inside WatcherNSObject => removeOldEmptyFolders...Directory does not exist or is not a directory...km");
        return;
    }
    const long days = static_cast<long>(prefs().integerForKey(kPrefDeleteSourceImagesAfterDaysOld));
    if (days == 0) return;
    // Hidden files are often photos still being written under a temporary
    // name: only those left alone for the settle time are removed.
    const long minutes = settleMinutes();
    const unsigned settled = static_cast<unsigned>(std::max(1L, minutes));
    KLVR_Task::findAtPath(path, std::string("f"), {".*"}, 0u, settled, std::nullopt, std::string("rm"), nullptr);
    KLVR_Task::removeSubdirectoriesAtPath(path, {}, static_cast<unsigned>(days), std::nullopt, nullptr);
}

void WatcherNSObject::handleWatcherDoPollFolderNotification(const Notification& n) {
    (void)n;
    if (temporary_) return;
    logf("WatcherNSObject => handleWatcherDoPollFolderNotification...index = %d", index_);
    auto path = prefs().stringForKey(CommonHeader::cameraFolderPathKey(index_));
    if (!path) return;
    handleFoundNewFile(Notification{kWatcherItemChanged, nullptr, platform::UserInfo{{kUserInfoWatchPath, *path}}, {}});
}

// ---- follow-up passes --------------------------------------------------------

void WatcherNSObject::runFollowUps() {
    if (followUpRequested_.exchange(false)) {
        logf("WatcherNSObject->handleFileSynchingDone...index %d changed during the pass: one more pass", index_);
        handleFoundNewFile(Notification{kWatcherItemChanged, nullptr, std::nullopt, {}});
        return;
    }
    scheduleSettleFollowUp();
}

void WatcherNSObject::scheduleSettleFollowUp() {
    auto loop = _CFRunLoopRef();
    if (!loop) return; // only a watched slot waits for its young files
    const long minutes = settleMinutes();
    const std::string folder = prefString(sPrefCameraFolderPathKey);
    const auto now = SettleTime::Clock::now();
    auto moment = SettleTime::nextSettleMoment(folder, minutes, now);
    if (!moment) return;
    const double delay = std::chrono::duration<double>(*moment - now).count();
    logf("WatcherNSObject => index %d: files too young to copy; next pass in %.0f s", index_, delay);

    cancelSettleFollowUp();
    std::weak_ptr<WatcherNSObject> weak = weak_from_this();
    auto timer = loop->addTimer(platform::RunLoop::Seconds(delay), platform::RunLoop::Seconds(0), [weak] {
        if (auto self = weak.lock()) {
            {
                std::lock_guard lock(self->mutex_);
                self->settleTimer_ = 0;
                self->settleLoop_.reset();
            }
            self->handleFoundNewFile(Notification{kWatcherItemChanged, nullptr, std::nullopt, {}});
        }
    });
    std::lock_guard lock(mutex_);
    settleTimer_ = timer;
    settleLoop_ = loop;
}

void WatcherNSObject::cancelSettleFollowUp() {
    std::shared_ptr<platform::RunLoop> loop;
    platform::RunLoop::Id timer;
    {
        std::lock_guard lock(mutex_);
        loop = std::move(settleLoop_);
        settleLoop_.reset();
        timer = settleTimer_;
        settleTimer_ = 0;
    }
    if (loop && timer) loop->removeTimer(timer);
}
