#include "watch/SlotWatch.h"

#include "platform/runtime/Log.h"
#include "watch/WatcherNSObject.h"

using platform::Notification;
using platform::NotificationCenter;

SlotWatch::SlotWatch(int slot, ParamDictionary params) : slot_(slot), params_(std::move(params)) {
    // What the last run left; from now on the watcher hands each result over.
    lastPass_ = PassResult::load(slot_);
    // Listening before the watcher starts: its first news is not missed.
    subscribe();
    if (slot_ == CommonHeader::kDestinationSlot) return;
    watcher_ = WatcherNSObject::create();
    if (!watcher_) return;
    watcher_->set_index(static_cast<std::int16_t>(slot_));
    watcher_->set_Param(params_); // the watcher's own copy
    watcher_->setupObservers();
    watcher_->setupWatcher();
}

SlotWatch::~SlotWatch() {
    // After this no handler of ours runs, here or on a watcher's thread.
    NotificationCenter::defaultCenter().removeObserver(this);
    if (watcher_) watcher_->unloadWatcher();
}

void SlotWatch::subscribe() {
    auto& center = NotificationCenter::defaultCenter();
    center.addObserver(this, kWatcherPassDidStart, [this](const Notification& n) { passStarted(n); });
    center.addObserver(this, kWatcherDidStop, [this](const Notification& n) {
        if (concerns(n)) passRunning_ = false;
    });
    center.addObserver(this, kWatcherDidStopAll, [this](const Notification&) { passRunning_ = false; });
    center.addObserver(this, kWatcherPassRefused, [this](const Notification& n) {
        const auto* reason = n.info<std::string>(kUserInfoReason);
        if (!concerns(n) || !reason) return;
        std::lock_guard lock(mutex_);
        refusal_ = *reason;
    });
    center.addObserver(this, kWatcherPassEnded, [this](const Notification& n) { passEnded(n); });
    center.addObserver(this, kDestinationDidChange, [this](const Notification& n) { destinationChanged(n); });
}

bool SlotWatch::concerns(const Notification& n) const {
    if (!n.userInfo) return false;
    // The watcher decides; "index" counts only when no watcher came along.
    if (n.userInfo->count(kUserInfoWatcherObj)) {
        const auto* watcher = n.info<std::shared_ptr<WatcherNSObject>>(kUserInfoWatcherObj);
        return watcher && *watcher && (*watcher)->_index() == slot_;
    }
    const auto* index = n.info<std::int32_t>(kUserInfoIndex);
    return index && *index == slot_;
}

void SlotWatch::passStarted(const Notification& n) {
    if (!concerns(n)) return;
    passRunning_ = true;
    std::lock_guard lock(mutex_);
    refusal_.reset();
}

void SlotWatch::passEnded(const Notification& n) {
    if (!concerns(n)) return;
    // The watcher hands over its result; one posted without it is read back.
    const auto* result = n.info<PassResult>(kUserInfoPassResult);
    auto last = result ? std::optional(*result) : PassResult::load(slot_);
    std::lock_guard lock(mutex_);
    lastPass_ = std::move(last);
}

void SlotWatch::destinationChanged(const Notification& n) {
    const auto* reason = n.info<std::string>(kUserInfoReason);
    const auto* free = n.info<std::uint64_t>(kUserInfoFreeBytes);
    std::lock_guard lock(mutex_);
    destinationProblem_ = reason ? *reason : "";
    destinationFreeBytes_ = free ? std::optional<std::uintmax_t>(*free) : std::nullopt;
}

SlotState::Inputs SlotWatch::stateInputs() const {
    SlotState::Inputs in = SlotState::storedSwitches(slot_);
    {
        std::lock_guard lock(mutex_);
        in.last = lastPass_;
        in.destinationProblem = destinationProblem_;
        in.archiveCheck = archiveCheck_;
    }
    in.lastArchived = PassResult::loadLastArchived(slot_);
    in.watching = watcher_ && watcher_->_CFRunLoopRef();
    if (watcher_) in.unarchived = watcher_->unarchived();
    // A copy run with files to take is busy, whatever the watcher's stop
    // and start news said last: its count is what is shown.
    in.progress = progress();
    in.busy = passRunning_ || in.progress;
    return in;
}

SlotState SlotWatch::state() const { return SlotState::of(stateInputs(), std::chrono::system_clock::now()); }

std::optional<PassResult> SlotWatch::lastPass() const {
    std::lock_guard lock(mutex_);
    return lastPass_;
}

bool SlotWatch::busy() const { return passRunning_ || progress(); }

std::optional<PassProgress::Shown> SlotWatch::progress() const {
    return watcher_ ? watcher_->progress() : std::nullopt;
}

std::optional<std::string> SlotWatch::refusal() const {
    std::lock_guard lock(mutex_);
    return refusal_;
}

std::optional<std::string> SlotWatch::destinationProblem() const {
    std::lock_guard lock(mutex_);
    return destinationProblem_;
}

std::optional<std::uintmax_t> SlotWatch::destinationFreeBytes() const {
    std::lock_guard lock(mutex_);
    return destinationFreeBytes_;
}

void SlotWatch::setArchiveCheck(std::optional<PassProgress::Shown> progress) {
    std::lock_guard lock(mutex_);
    archiveCheck_ = progress;
}

std::optional<PassProgress::Shown> SlotWatch::archiveCheck() const {
    std::lock_guard lock(mutex_);
    return archiveCheck_;
}
