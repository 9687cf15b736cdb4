#include "platform/desktop/FileAttributes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

FileAttributes::Date toDate(const struct statx_timestamp& t) {
    using namespace std::chrono;
    return FileAttributes::Date(duration_cast<system_clock::duration>(seconds(t.tv_sec) + nanoseconds(t.tv_nsec)));
}

} // namespace

std::optional<FileAttributes> FileAttributes::ofItem(const std::filesystem::path& path) {
    struct statx sx {};
    if (path.empty() || statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0)
        return std::nullopt;
    FileAttributes a;
    a.isDirectory = S_ISDIR(sx.stx_mode);
    a.isSymbolicLink = S_ISLNK(sx.stx_mode);
    a.modificationDate = toDate(sx.stx_mtime);
    if (sx.stx_mask & STATX_BTIME) a.creationDate = toDate(sx.stx_btime);
    return a;
}

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
