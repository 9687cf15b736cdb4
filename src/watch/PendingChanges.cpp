#include "watch/PendingChanges.h"

void PendingChanges::addEvents(const std::vector<platform::FileEventStream::Event>& events) {
    using platform::FileEventStream;
    constexpr std::uint32_t kNeedsWalk = FileEventStream::UserDropped | FileEventStream::KernelDropped |
                                         FileEventStream::RootChanged | FileEventStream::Unmount |
                                         FileEventStream::MustScanSubDirs;
    std::vector<std::string> folders;
    for (const auto& event : events) {
        if (event.flags & kNeedsWalk) return requestFull();
        folders.push_back(event.path);
    }
    addFolders(folders);
}

void PendingChanges::addFolders(const std::vector<std::string>& folders) {
    if (full_) return;
    folders_.insert(folders.begin(), folders.end());
    if (folders_.size() <= kMostFolders) return;
    full_ = true;
    folders_.clear();
}

void PendingChanges::requestFull() {
    full_ = true;
    folders_.clear();
}

PendingChanges::Taken PendingChanges::take() {
    Taken taken{full_, std::vector<std::string>(folders_.begin(), folders_.end())};
    full_ = false;
    folders_.clear();
    return taken;
}

bool PendingChanges::fullRequested() const {
    return full_;
}

bool PendingChanges::empty() const {
    return !full_ && folders_.empty();
}
