#include "platform/alias/FileIdentity.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstring>

namespace platform {

namespace {

std::optional<FileIdentity> identityAt(int directoryFd, const char* name, bool follow) {
    struct statx sx {};
    const int statFlags = follow ? 0 : AT_SYMLINK_NOFOLLOW;
    if (statx(directoryFd, name, statFlags, STATX_TYPE | STATX_INO | STATX_BTIME, &sx) != 0) return std::nullopt;
    FileIdentity id;
    id.device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    id.inode = sx.stx_ino;
    id.isDirectory = S_ISDIR(sx.stx_mode);
    if (sx.stx_mask & STATX_BTIME) {
        id.hasBirthTime = true;
        id.birthSeconds = sx.stx_btime.tv_sec;
        id.birthNanoseconds = sx.stx_btime.tv_nsec;
    }
    alignas(struct file_handle) unsigned char buffer[sizeof(struct file_handle) + FileIdentity::kMaxHandleBytes];
    auto* fh = reinterpret_cast<struct file_handle*>(buffer);
    fh->handle_bytes = FileIdentity::kMaxHandleBytes;
    int mountId = 0;
    const int handleFlags = follow ? AT_SYMLINK_FOLLOW : 0;
    if (name_to_handle_at(directoryFd, name, fh, &mountId, handleFlags) == 0 &&
        fh->handle_bytes <= FileIdentity::kMaxHandleBytes) {
        id.handleType = fh->handle_type;
        id.handle.assign(fh->f_handle, fh->f_handle + fh->handle_bytes);
    }
    return id;
}

} // namespace

std::optional<FileIdentity> FileIdentity::ofPath(const std::string& path) {
    if (path.empty()) return std::nullopt;
    return identityAt(AT_FDCWD, path.c_str(), true);
}

std::optional<FileIdentity> FileIdentity::at(int directoryFd, const char* name) {
    return identityAt(directoryFd, name, false);
}

FileIdentity::Match FileIdentity::compare(const FileIdentity& other) const {
    if (inode != other.inode || isDirectory != other.isDirectory) return Match::Different;
    bool witnessed = false;
    if (hasBirthTime && other.hasBirthTime) {
        if (birthSeconds != other.birthSeconds || birthNanoseconds != other.birthNanoseconds) return Match::Different;
        witnessed = true;
    }
    if (!handle.empty() && !other.handle.empty()) {
        if (handleType != other.handleType || handle != other.handle) return Match::Different;
        witnessed = true;
    }
    return witnessed ? Match::Same : Match::Unwitnessed;
}

} // namespace platform
