#include "platform/desktop/FileAttributes.h"

#include <cerrno>
#include <cstring>
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
    a.statusChangeDate = toDate(sx.stx_ctime);
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

bool FileAttributes::giveTo(const std::filesystem::path& path, std::string* why) const {
    const auto now = following(path);
    if (!now) {
        if (why) *why = "it is gone";
        return false;
    }
    bool ok = true;
    auto failed = [&](const char* what) {
        if (why && ok) *why = std::string(what) + ": " + std::strerror(errno);
        ok = false;
    };
    // Only what differs, so a file system that keeps no owners (FAT) still
    // takes the time. Owners first: a change of owner clears set-user bits.
    const bool ownerDiffers = ownersAreSettable() && now->owner != owner;
    const bool chowned = ownerDiffers || now->group != group;
    if (chowned && chown(path.c_str(), ownerDiffers ? owner : static_cast<uid_t>(-1), group) != 0)
        failed("cannot set the owner");
    if ((chowned || now->permissions != permissions) && chmod(path.c_str(), permissions) != 0)
        failed("cannot set the permissions");
    using namespace std::chrono;
    const auto since = modificationDate.time_since_epoch();
    const auto whole = duration_cast<seconds>(since);
    const timespec times[2] = {{0, UTIME_OMIT},
                               {static_cast<time_t>(whole.count()),
                                static_cast<long>(duration_cast<nanoseconds>(since - whole).count())}};
    if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) failed("cannot set the time");
    return ok;
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
