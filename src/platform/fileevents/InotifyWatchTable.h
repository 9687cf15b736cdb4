#pragma once
// One inotify instance and the folders it watches: which watch descriptor
// stands for which folder path, and back. Folders are watched as whole
// trees, parents before children, so a folder made while its parent is
// being walked is either seen by the walk or reported by the parent's watch.

#include <cstddef>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

namespace platform {

class InotifyWatchTable {
public:
    struct TreeResult {
        std::vector<std::string> folders; // newly or still watched, parents first
        bool tableFull = false;           // the per-user watch limit stopped the walk
        int topError = 0;                 // errno when the top folder itself failed
    };

    InotifyWatchTable();
    ~InotifyWatchTable();
    InotifyWatchTable(const InotifyWatchTable&) = delete;
    InotifyWatchTable& operator=(const InotifyWatchTable&) = delete;

    // -1 when no instance could be made (then openError() says why).
    int fd() const { return fd_; }
    int openError() const { return openError_; }

    // Watches folder and every folder below it. The top folder may be a
    // symbolic link when followTopLink is set; links below are never followed.
    TreeResult watchTree(const std::string& folder, bool followTopLink);
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

    int fd_ = -1;
    int openError_ = 0;
    std::unordered_map<int, std::string> paths_;
    // Ordered, so that the folders below one folder form one key range.
    std::map<std::string, int> wds_;
};

} // namespace platform
