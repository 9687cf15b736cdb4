// hangingfs <backing folder> <mount point> [--two-second-times]: mounts the
// backing folder again at the mount point through FUSE, and stays in the
// foreground. SIGUSR1 makes every call hang, as a share that stops
// answering does; SIGUSR2 lets them go on. Attributes are never cached, so
// a hung file system holds every look at it, not only reads and writes.
// With --two-second-times it keeps times as FAT does: to the even second
// below the one it is given.
#define FUSE_USE_VERSION 31
#include <fuse3/fuse.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <ctime>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace hanging {

int backing = -1;
std::atomic<bool> hung{false};
bool twoSecondTimes = false;

void holdWhileHung() {
    while (hung.load()) usleep(20000);
}

// A FUSE path ("/", "/a/b") as one relative to the backing folder.
std::string rel(const char* path) {
    while (*path == '/') ++path;
    return *path ? path : ".";
}

int result(int r) { return r < 0 ? -errno : r; }

void* init(fuse_conn_info*, fuse_config* config) {
    config->attr_timeout = 0;
    config->entry_timeout = 0;
    config->negative_timeout = 0;
    config->use_ino = 1;
    return nullptr;
}

int getattr(const char* path, struct stat* st, fuse_file_info* fi) {
    holdWhileHung();
    if (fi) return result(fstat(static_cast<int>(fi->fh), st));
    return result(fstatat(backing, rel(path).c_str(), st, AT_SYMLINK_NOFOLLOW));
}

int access(const char* path, int mask) {
    holdWhileHung();
    return result(faccessat(backing, rel(path).c_str(), mask, 0));
}

int readlink(const char* path, char* buffer, size_t size) {
    holdWhileHung();
    const ssize_t n = readlinkat(backing, rel(path).c_str(), buffer, size - 1);
    if (n < 0) return -errno;
    buffer[n] = '\0';
    return 0;
}

int readdir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*, fuse_readdir_flags) {
    holdWhileHung();
    const int fd = openat(backing, rel(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return -errno;
    DIR* dir = fdopendir(fd);
    if (!dir) {
        close(fd);
        return -ENOMEM;
    }
    while (dirent* entry = ::readdir(dir)) fill(buffer, entry->d_name, nullptr, 0, fuse_fill_dir_flags{});
    closedir(dir);
    return 0;
}

int mkdir(const char* path, mode_t mode) {
    holdWhileHung();
    return result(mkdirat(backing, rel(path).c_str(), mode));
}

int unlink(const char* path) {
    holdWhileHung();
    return result(unlinkat(backing, rel(path).c_str(), 0));
}

int rmdir(const char* path) {
    holdWhileHung();
    return result(unlinkat(backing, rel(path).c_str(), AT_REMOVEDIR));
}

int symlink(const char* target, const char* path) {
    holdWhileHung();
    return result(symlinkat(target, backing, rel(path).c_str()));
}

int rename(const char* from, const char* to, unsigned int flags) {
    holdWhileHung();
    if (flags) return -EINVAL;
    return result(renameat(backing, rel(from).c_str(), backing, rel(to).c_str()));
}

int chmod(const char* path, mode_t mode, fuse_file_info*) {
    holdWhileHung();
    return result(fchmodat(backing, rel(path).c_str(), mode, 0));
}

int chown(const char* path, uid_t uid, gid_t gid, fuse_file_info*) {
    holdWhileHung();
    return result(fchownat(backing, rel(path).c_str(), uid, gid, AT_SYMLINK_NOFOLLOW));
}

int truncate(const char* path, off_t size, fuse_file_info* fi) {
    holdWhileHung();
    if (fi) return result(ftruncate(static_cast<int>(fi->fh), size));
    const int fd = openat(backing, rel(path).c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return -errno;
    const int r = result(ftruncate(fd, size));
    close(fd);
    return r;
}

timespec coarse(timespec t) {
    if (t.tv_nsec == UTIME_OMIT) return t;
    if (t.tv_nsec == UTIME_NOW) clock_gettime(CLOCK_REALTIME, &t);
    return timespec{t.tv_sec - t.tv_sec % 2, 0};
}

int utimens(const char* path, const timespec times[2], fuse_file_info*) {
    holdWhileHung();
    const timespec kept[2] = {twoSecondTimes ? coarse(times[0]) : times[0],
                              twoSecondTimes ? coarse(times[1]) : times[1]};
    return result(utimensat(backing, rel(path).c_str(), kept, AT_SYMLINK_NOFOLLOW));
}

int open(const char* path, fuse_file_info* fi) {
    holdWhileHung();
    const int fd = openat(backing, rel(path).c_str(), fi->flags | O_CLOEXEC);
    if (fd < 0) return -errno;
    fi->fh = static_cast<uint64_t>(fd);
    return 0;
}

int create(const char* path, mode_t mode, fuse_file_info* fi) {
    holdWhileHung();
    const int fd = openat(backing, rel(path).c_str(), fi->flags | O_CREAT | O_CLOEXEC, mode);
    if (fd < 0) return -errno;
    fi->fh = static_cast<uint64_t>(fd);
    return 0;
}

int read(const char*, char* buffer, size_t size, off_t offset, fuse_file_info* fi) {
    holdWhileHung();
    return result(static_cast<int>(pread(static_cast<int>(fi->fh), buffer, size, offset)));
}

int write(const char*, const char* buffer, size_t size, off_t offset, fuse_file_info* fi) {
    holdWhileHung();
    return result(static_cast<int>(pwrite(static_cast<int>(fi->fh), buffer, size, offset)));
}

int statfs(const char*, struct statvfs* st) {
    holdWhileHung();
    return result(fstatvfs(backing, st));
}

int release(const char*, fuse_file_info* fi) {
    close(static_cast<int>(fi->fh));
    return 0;
}

int fsync(const char*, int dataOnly, fuse_file_info* fi) {
    holdWhileHung();
    const int fd = static_cast<int>(fi->fh);
    return result(dataOnly ? fdatasync(fd) : ::fsync(fd));
}

} // namespace hanging

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4 || (argc == 4 && std::string(argv[3]) != "--two-second-times")) {
        std::fprintf(stderr, "usage: %s <backing folder> <mount point> [--two-second-times]\n", argv[0]);
        return 2;
    }
    hanging::twoSecondTimes = argc == 4;
    hanging::backing = ::open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (hanging::backing < 0) {
        std::perror(argv[1]);
        return 1;
    }
    std::signal(SIGUSR1, [](int) { hanging::hung = true; });
    std::signal(SIGUSR2, [](int) { hanging::hung = false; });
    umask(0);

    fuse_operations ops{};
    ops.init = hanging::init;
    ops.getattr = hanging::getattr;
    ops.access = hanging::access;
    ops.readlink = hanging::readlink;
    ops.readdir = hanging::readdir;
    ops.mkdir = hanging::mkdir;
    ops.unlink = hanging::unlink;
    ops.rmdir = hanging::rmdir;
    ops.symlink = hanging::symlink;
    ops.rename = hanging::rename;
    ops.chmod = hanging::chmod;
    ops.chown = hanging::chown;
    ops.truncate = hanging::truncate;
    ops.utimens = hanging::utimens;
    ops.open = hanging::open;
    ops.create = hanging::create;
    ops.read = hanging::read;
    ops.write = hanging::write;
    ops.statfs = hanging::statfs;
    ops.release = hanging::release;
    ops.fsync = hanging::fsync;
    char* fuseArgs[] = {argv[0], argv[2], const_cast<char*>("-f"), const_cast<char*>("-o"),
                        const_cast<char*>("fsname=hangingfs")};
    return fuse_main(5, fuseArgs, &ops, nullptr);
}
