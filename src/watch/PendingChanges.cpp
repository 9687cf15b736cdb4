#include "watch/PendingChanges.h"

void PendingChanges::addFolders(const std::vector<std::string>& folders) {
    std::lock_guard lock(mutex_);
    if (full_) return;
    folders_.insert(folders.begin(), folders.end());
    if (folders_.size() <= kMostFolders) return;
    full_ = true;
    folders_.clear();
}

void PendingChanges::requestFull() {
    std::lock_guard lock(mutex_);
    full_ = true;
    folders_.clear();
}

PendingChanges::Taken PendingChanges::take() {
    std::lock_guard lock(mutex_);
    Taken taken{full_, std::vector<std::string>(folders_.begin(), folders_.end())};
    full_ = false;
    folders_.clear();
    return taken;
}

bool PendingChanges::fullRequested() const {
    std::lock_guard lock(mutex_);
    return full_;
}

bool PendingChanges::empty() const {
    std::lock_guard lock(mutex_);
    return !full_ && folders_.empty();
}
