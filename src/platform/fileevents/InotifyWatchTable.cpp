#include "platform/fileevents/InotifyWatchTable.h"

#include "platform/runtime/Log.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

namespace platform {
namespace {

// IN_MODIFY repeats for every write, but the kernel merges repeats that
// follow each other and the stream coalesces the rest by the latency.
constexpr std::uint32_t kFolderEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE |
                                        IN_ATTRIB | IN_MODIFY | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR |
                                        IN_EXCL_UNLINK;

// The prefix shared by every path below folder.
std::string belowPrefix(const std::string& folder) { return folder == "/" ? folder : folder + "/"; }

bool isSubfolderEntry(int dirFd, const dirent& entry) {
    if (entry.d_type == DT_DIR) return true;
    if (entry.d_type != DT_UNKNOWN) return false;
    // Some file systems leave the type out of the listing.
    struct stat st;
    return fstatat(dirFd, entry.d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
}

bool isDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

} // namespace

InotifyWatchTable::InotifyWatchTable(std::shared_ptr<const StreamCancel> cancel) : cancel_(std::move(cancel)) {
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) openError_ = errno;
}

InotifyWatchTable::~InotifyWatchTable() { close(); }

void InotifyWatchTable::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    paths_.clear();
    wds_.clear();
}

// Depth first, so that the folders waiting to be walked are the siblings
// along one path, not a whole level of the tree.
InotifyWatchTable::TreeResult InotifyWatchTable::watchTree(const std::string& folder, bool followTopLink,
                                                           const Visitor& visit) {
    TreeResult result;
    std::vector<std::string> pending{folder};
    while (!pending.empty()) {
        if (cancelled()) {
            result.cancelled = true;
            break;
        }
        std::string next = std::move(pending.back());
        pending.pop_back();
        const bool isTop = result.watched == 0 && next == folder;
        const bool followLink = isTop && followTopLink;
        int wd = addWatch(next, followLink);
        if (wd < 0) {
            int error = errno;
            if (isTop) result.topError = error;
            if (error == ENOSPC) {
                // Every further watch would fail the same way.
                result.tableFull = true;
                break;
            }
            // A folder that vanished while we walked is reported by its parent.
            if (!isTop && error != ENOENT && error != ENOTDIR)
                logf("FileEventStream: cannot watch folder %s: %s", next.c_str(), strerror(error));
            continue;
        }
        bind(wd, next);
        ++result.watched;
        if (visit) visit(wd, next);
        collectSubfolders(next, followLink, pending);
    }
    return result;
}

void InotifyWatchTable::unwatchTree(const std::string& folder) {
    std::vector<int> dropped;
    if (auto it = wds_.find(folder); it != wds_.end()) dropped.push_back(it->second);
    const std::string prefix = belowPrefix(folder);
    for (auto it = wds_.lower_bound(prefix); it != wds_.end() && it->first.compare(0, prefix.size(), prefix) == 0;
         ++it)
        dropped.push_back(it->second);
    for (int wd : dropped) {
        // EINVAL when the kernel has already dropped it; nothing to undo then.
        inotify_rm_watch(fd_, wd);
        unbind(wd);
    }
}

InotifyWatchTable::TreeResult InotifyWatchTable::resync(const std::string& top) {
    std::unordered_set<int> seen;
    TreeResult result = watchTree(top, true, [&seen](int wd, const std::string&) { seen.insert(wd); });
    // An interrupted walk has not seen everything that still exists.
    if (result.tableFull || result.cancelled || result.topError != 0) return result;
    std::vector<int> stale;
    for (const auto& [wd, node] : paths_)
        if (!seen.count(wd)) stale.push_back(wd);
    for (int wd : stale) {
        inotify_rm_watch(fd_, wd);
        unbind(wd);
    }
    return result;
}

void InotifyWatchTable::forget(int wd) { unbind(wd); }

const std::string* InotifyWatchTable::pathOf(int wd) const {
    auto it = paths_.find(wd);
    return it == paths_.end() ? nullptr : &it->second->first;
}

int InotifyWatchTable::wdOf(const std::string& folder) const {
    auto it = wds_.find(folder);
    return it == wds_.end() ? -1 : it->second;
}

long InotifyWatchTable::maxUserWatches() {
    std::ifstream in("/proc/sys/fs/inotify/max_user_watches");
    long limit = -1;
    if (!(in >> limit)) return -1;
    return limit;
}

std::string InotifyWatchTable::childPath(const std::string& folder, const std::string& name) {
    return belowPrefix(folder) + name;
}

int InotifyWatchTable::addWatch(const std::string& folder, bool followLink) const {
    if (fd_ < 0) {
        errno = EBADF;
        return -1;
    }
    return inotify_add_watch(fd_, folder.c_str(), kFolderEvents | (followLink ? 0 : IN_DONT_FOLLOW));
}

// A descriptor stands for one folder and a folder for one descriptor: the
// kernel hands out the same descriptor again for a folder reached under a
// new name, and a new folder may take the name of one that went away.
void InotifyWatchTable::bind(int wd, const std::string& folder) {
    unbind(wd);
    auto it = wds_.find(folder);
    if (it != wds_.end()) {
        int previous = it->second;
        inotify_rm_watch(fd_, previous);
        unbind(previous);
    }
    paths_.emplace(wd, wds_.emplace(folder, wd).first);
}

void InotifyWatchTable::unbind(int wd) {
    auto it = paths_.find(wd);
    if (it == paths_.end()) return;
    wds_.erase(it->second);
    paths_.erase(it);
}

void InotifyWatchTable::collectSubfolders(const std::string& folder, bool followLink,
                                          std::vector<std::string>& into) const {
    int dirFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW));
    if (dirFd < 0) {
        if (errno != ENOENT && errno != ENOTDIR)
            logf("FileEventStream: cannot list folder %s: %s", folder.c_str(), strerror(errno));
        return;
    }
    DIR* dir = fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return;
    }
    while (const dirent* entry = readdir(dir)) {
        if (!isDotOrDotDot(entry->d_name) && isSubfolderEntry(dirfd(dir), *entry))
            into.push_back(childPath(folder, entry->d_name));
    }
    closedir(dir);
}

} // namespace platform
