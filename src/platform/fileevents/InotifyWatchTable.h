#pragma once
// One inotify instance and the folders it watches: which watch descriptor
// stands for which folder path, and back. Folders are watched as whole
// trees, parents before children, so a folder made while its parent is
// being walked is either seen by the walk or reported by the parent's watch.
// A walk ends before its next folder once the table's cancel token is set.

#include "platform/fileevents/StreamCancel.h"

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace platform {

class InotifyWatchTable {
public:
    struct TreeResult {
        std::size_t watched = 0; // folders newly or still watched
        bool tableFull = false;  // the per-user watch limit stopped the walk
        bool cancelled = false;  // the cancel token stopped the walk
        int topError = 0;        // errno when the top folder itself failed
    };
    // Called for each folder watched by a walk, parents first.
    using Visitor = std::function<void(int wd, const std::string& folder)>;

    explicit InotifyWatchTable(std::shared_ptr<const StreamCancel> cancel = nullptr);
    ~InotifyWatchTable();
    InotifyWatchTable(const InotifyWatchTable&) = delete;
    InotifyWatchTable& operator=(const InotifyWatchTable&) = delete;

    // -1 when no instance could be made (then openError() says why).
    int fd() const { return fd_; }
    int openError() const { return openError_; }

    // Watches folder and every folder below it. The top folder may be a
    // symbolic link when followTopLink is set; links below are never followed.
    TreeResult watchTree(const std::string& folder, bool followTopLink, const Visitor& visit = nullptr);
    // Drops the watches of folder and of every folder below it.
    void unwatchTree(const std::string& folder);
    // Walks the tree again after events were lost: folders made meanwhile
    // get watches, watches of folders no longer found are dropped.
    TreeResult resync(const std::string& top);
    // The kernel has dropped this watch (the folder is gone).
    void forget(int wd);
    // Closes the instance; every watch goes with it.
    void close();

    // Null for a descriptor that is not (or no longer) in the table.
    const std::string* pathOf(int wd) const;
    int wdOf(const std::string& folder) const;
    std::size_t size() const { return paths_.size(); }

    // The system-wide limit on watches per user, -1 when unreadable.
    static long maxUserWatches();
    static std::string childPath(const std::string& folder, const std::string& name);

private:
    int addWatch(const std::string& folder, bool followLink) const;
    void bind(int wd, const std::string& folder);
    void unbind(int wd);
    void collectSubfolders(const std::string& folder, bool followLink, std::vector<std::string>& into) const;
    bool cancelled() const { return cancel_ && cancel_->cancelled(); }

    const std::shared_ptr<const StreamCancel> cancel_;
    int fd_ = -1;
    int openError_ = 0;
    // Ordered, so that the folders below one folder form one key range.
    std::map<std::string, int> wds_;
    // Each path is kept once, as a key of wds_, whose nodes never move.
    std::unordered_map<int, std::map<std::string, int>::iterator> paths_;
};

} // namespace platform
