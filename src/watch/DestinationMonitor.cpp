#include "watch/DestinationMonitor.h"
#include "core/DestinationProblem.h"
#include "core/Settings.h"

#include "core/CommonHeader.h"
#include "core/RemoteArchive.h"
#include "platform/alias/MountTableWatch.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/NotificationCenter.h"
#include "pass/DestinationCheck.h"

#include <utility>

using platform::logf;
using platform::NotificationCenter;

namespace {
constexpr std::uintmax_t kMegabyte = 1024 * 1024;
}

DestinationMonitor::DestinationMonitor() {
    const ParamDictionary destination = CommonHeader::slotParameters(CommonHeader::kDestinationSlot);
    // Choosing another folder, or marking one, changes what a pass finds.
    for (const std::string& key : {destination.at(sPrefCameraFolderPathKey), ArchiveDestination::kIdKey})
        observers_.push_back(Settings::observe(key, [this] { recheck(); }));
    // A pass changes the free space, and may meet a problem first: a marker
    // gone without a mount changing.
    NotificationCenter::defaultCenter().addObserver(this, kWatcherPassEnded,
                                                    [this](const platform::Notification&) { recheck(); });
    // Asked by the user: a server in its back-off is tried at once.
    NotificationCenter::defaultCenter().addObserver(this, kDestinationRetry, [this](const platform::Notification&) {
        RemoteArchive::resetBackOff();
        recheck();
    });
    // Its first check starts at once; it finds watch_ set, as it waits for the lock.
    std::lock_guard lock(mutex_);
    watch_ = std::make_unique<platform::MountTableWatch>(kInterval, [this](auto) { check(); });
}

DestinationMonitor::~DestinationMonitor() {
    stopping_.request_stop();
    NotificationCenter::defaultCenter().removeObserver(this);
    for (auto id : observers_) Settings::stopObserving(id);
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
    const DestinationState now = DestinationCheck::locate(DestinationCheck::kBound, stopping_.get_token());
    if (stopping_.stop_requested()) return;
    bool returned = false;
    const Change change = takeChange(now, &returned);
    if (change == Change::None) return;
    if (change == Change::State && !now.problem.empty())
        logf("Destination: %s: %s", now.problem.c_str(), now.detail.c_str());
    else if (returned)
        logf("Destination: %s is back: archiving what waited for it", now.path.c_str());
    platform::UserInfo info{
        {kUserInfoReason, now.problem}, {kUserInfoWatchPath, now.path}, {kUserInfoReturned, returned}};
    if (now.freeBytes) info[kUserInfoFreeBytes] = static_cast<std::uint64_t>(*now.freeBytes);
    NotificationCenter::defaultCenter().post(kDestinationDidChange, nullptr, info);
}

std::chrono::milliseconds DestinationMonitor::intervalFor(const DestinationState& state) {
    if (state.problem.empty()) return kReadyInterval;
    // A server that cannot be reached is tried again only once its back-off
    // has passed (RemoteArchive); a look before then costs nothing.
    if (DestinationProblem::of(state.problem) == DestinationProblem::Kind::NotResponding ||
        RemoteArchive::isConnectionProblem(state.problem))
        return kNotRespondingInterval;
    return kInterval;
}

DestinationMonitor::Change DestinationMonitor::takeChange(const DestinationState& now, bool* returned) {
    std::lock_guard lock(mutex_);
    watch_->setInterval(intervalFor(now));
    const std::optional<DestinationState> before = std::exchange(state_, now);
    *returned = before && !before->problem.empty() && now.problem.empty();
    if (!before || before->problem != now.problem || before->path != now.path) return Change::State;
    // Free space is told when it changes by a megabyte or more.
    const auto megabytes = [](const std::optional<std::uintmax_t>& bytes) {
        return bytes ? std::optional(*bytes / kMegabyte) : std::nullopt;
    };
    return megabytes(before->freeBytes) == megabytes(now.freeBytes) ? Change::None : Change::Space;
}
