#include "watch/DestinationMonitor.h"

#include "core/CommonHeader.h"
#include "platform/alias/MountTableWatch.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/NotificationCenter.h"
#include "watch/PassResult.h"
#include "watch/WatcherNSObject.h"

using platform::logf;
using platform::NotificationCenter;

DestinationMonitor::DestinationMonitor() {
    auto& prefs = platform::UserDefaults::standard();
    const ParamDictionary destination = CommonHeader::slotParameters(CommonHeader::kDestinationSlot);
    // Choosing another folder, or marking one, changes what a pass finds.
    for (const std::string& key : {destination.at(sPrefCameraFolderPathKey), ArchiveDestination::kIdKey})
        observers_.push_back(prefs.addObserver(key, [this](const std::string&, const platform::Value&) { recheck(); }));
    // A pass may meet a problem first: a marker gone without a mount changing.
    NotificationCenter::defaultCenter().addObserver(this, kWatcherPassEnded, [this](const platform::Notification& n) {
        if (metADestinationProblem(n)) recheck();
    });
    // Its first check starts at once; it finds watch_ set, as it waits for the lock.
    std::lock_guard lock(mutex_);
    watch_ = std::make_unique<platform::MountTableWatch>(kInterval, [this](auto) { check(); });
}

bool DestinationMonitor::metADestinationProblem(const platform::Notification& n) {
    int slot = -1;
    if (const auto* watcher = n.info<std::shared_ptr<WatcherNSObject>>(kUserInfoWatcherObj); watcher && *watcher)
        slot = (*watcher)->_index();
    else if (const auto* index = n.info<std::int32_t>(kUserInfoIndex))
        slot = *index;
    const auto last = PassResult::load(slot);
    return last && ArchiveDestination::isDestinationProblem(last->error);
}

DestinationMonitor::~DestinationMonitor() {
    NotificationCenter::defaultCenter().removeObserver(this);
    for (auto id : observers_) platform::UserDefaults::standard().removeObserver(id);
    // watch_, the last member, goes first: its thread ends while the state it
    // writes, and watch_ itself, which a last check may still set, are there.
}

std::optional<DestinationState> DestinationMonitor::current() const {
    std::lock_guard lock(mutex_);
    return state_;
}

void DestinationMonitor::recheck() {
    std::lock_guard lock(mutex_);
    if (watch_) watch_->wake();
}

void DestinationMonitor::check() {
    const DestinationState now = ArchiveDestination::locate();
    bool returned = false;
    if (!takeChange(now, &returned)) return;
    if (!now.problem.empty())
        logf("Destination: %s: %s", now.problem.c_str(), now.detail.c_str());
    else if (returned)
        logf("Destination: %s is back: archiving what waited for it", now.path.c_str());
    NotificationCenter::defaultCenter().post(kDestinationDidChange, nullptr,
                                             platform::UserInfo{{kUserInfoReason, now.problem},
                                                                {kUserInfoWatchPath, now.path},
                                                                {kUserInfoReturned, returned}});
}

bool DestinationMonitor::takeChange(const DestinationState& now, bool* returned) {
    std::lock_guard lock(mutex_);
    // While the destination is ready, mounts and passes tell of a change;
    // while it is not, it is looked at once a minute as well.
    watch_->setInterval(now.problem.empty() ? std::chrono::milliseconds(0) : kInterval);
    if (state_ && state_->problem == now.problem && state_->path == now.path) return false;
    *returned = state_ && !state_->problem.empty() && now.problem.empty();
    state_ = now;
    return true;
}
