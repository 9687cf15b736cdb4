#include "watch/PendingChanges.h"

void PendingChanges::addEvents(const std::vector<platform::FileEventStream::Event>& events) {
    using platform::FileEventStream;
    constexpr std::uint32_t kNeedsWalk = FileEventStream::UserDropped | FileEventStream::KernelDropped |
                                         FileEventStream::RootChanged | FileEventStream::Unmount |
                                         FileEventStream::MustScanSubDirs;
    std::vector<std::string> folders;
    std::vector<std::string> files;
    for (const auto& event : events) {
        if (event.flags & kNeedsWalk) return requestFull();
        (event.flags & FileEventStream::ItemIsFile ? files : folders).push_back(event.path);
    }
    add(folders, files);
}

void PendingChanges::add(const std::vector<std::string>& folders, const std::vector<std::string>& files) {
    if (full_) return;
    folders_.insert(folders.begin(), folders.end());
    files_.insert(files.begin(), files.end());
    if (folders_.size() > kMostFolders || files_.size() > kMostFiles) requestFull();
}

void PendingChanges::requestFull() {
    full_ = true;
    folders_.clear();
    files_.clear();
}

PendingChanges::Taken PendingChanges::take() {
    Taken taken{full_, std::vector<std::string>(folders_.begin(), folders_.end()),
                std::vector<std::string>(files_.begin(), files_.end())};
    full_ = false;
    folders_.clear();
    files_.clear();
    return taken;
}

bool PendingChanges::fullRequested() const {
    return full_;
}

bool PendingChanges::empty() const {
    return !full_ && folders_.empty() && files_.empty();
}
