#include "platform/desktop/FileAttributes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace platform {
namespace {

FileAttributes::Date toDate(const struct statx_timestamp& t) {
    using namespace std::chrono;
    return FileAttributes::Date(duration_cast<system_clock::duration>(seconds(t.tv_sec) + nanoseconds(t.tv_nsec)));
}

std::optional<FileAttributes> attributesOf(const std::filesystem::path& path, int flags) {
    struct statx sx {};
    if (path.empty() || statx(AT_FDCWD, path.c_str(), flags, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0)
        return std::nullopt;
    FileAttributes a;
    a.isDirectory = S_ISDIR(sx.stx_mode);
    a.isSymbolicLink = S_ISLNK(sx.stx_mode);
    a.isRegularFile = S_ISREG(sx.stx_mode);
    a.size = sx.stx_size;
    a.modificationDate = toDate(sx.stx_mtime);
    if (sx.stx_mask & STATX_BTIME) a.creationDate = toDate(sx.stx_btime);
    a.permissions = sx.stx_mode & 07777;
    a.owner = sx.stx_uid;
    a.group = sx.stx_gid;
    a.device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    a.inode = sx.stx_ino;
    return a;
}

} // namespace

std::optional<FileAttributes> FileAttributes::ofItem(const std::filesystem::path& path) {
    return attributesOf(path, AT_SYMLINK_NOFOLLOW);
}

std::optional<FileAttributes> FileAttributes::following(const std::filesystem::path& path) {
    return attributesOf(path, 0);
}

bool FileAttributes::ownersAreSettable() { return geteuid() == 0; }

bool FileAttributes::isDeletable(const std::filesystem::path& path) {
    std::filesystem::path parent = path.parent_path();
    if (parent.empty()) parent = ".";
    struct stat folder {};
    if (stat(parent.c_str(), &folder) != 0 || access(parent.c_str(), W_OK | X_OK) != 0) return false;
    // In a sticky folder (such as /tmp) only the owner may remove an item.
    if (folder.st_mode & S_ISVTX) {
        struct stat item {};
        uid_t me = geteuid();
        if (me != 0 && lstat(path.c_str(), &item) == 0 && item.st_uid != me && folder.st_uid != me) return false;
    }
    return true;
}

} // namespace platform
