#include "watch/DestinationMonitor.h"

#include "core/CommonHeader.h"
#include "platform/alias/MountTableWatch.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/NotificationCenter.h"

using platform::logf;
using platform::NotificationCenter;

DestinationMonitor::DestinationMonitor() {
    auto& prefs = platform::UserDefaults::standard();
    const ParamDictionary destination = CommonHeader::slotParameters(CommonHeader::kDestinationSlot);
    // Choosing another folder, or marking one, changes what a pass finds.
    for (const std::string& key : {destination.at(sPrefCameraFolderPathKey), ArchiveDestination::kIdKey})
        observers_.push_back(prefs.addObserver(key, [this](const std::string&, const platform::Value&) { recheck(); }));
    // A pass that ended may have met the problem first, or filled the disk.
    NotificationCenter::defaultCenter().addObserver(this, kWatcherPassEnded,
                                                    [this](const platform::Notification&) { recheck(); });
    watch_ = std::make_unique<platform::MountTableWatch>(kInterval, [this](auto) { check(); });
}

DestinationMonitor::~DestinationMonitor() {
    NotificationCenter::defaultCenter().removeObserver(this);
    for (auto id : observers_) platform::UserDefaults::standard().removeObserver(id);
    // Stops the checking thread before the state it writes goes.
    watch_.reset();
}

std::optional<DestinationState> DestinationMonitor::current() const {
    std::lock_guard lock(mutex_);
    return state_;
}

void DestinationMonitor::recheck() {
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
    if (state_ && state_->problem == now.problem && state_->path == now.path) return false;
    *returned = state_ && !state_->problem.empty() && now.problem.empty();
    state_ = now;
    return true;
}
