#include "platform/desktop/FileSystemTimes.h"

#include "platform/runtime/FileDescriptor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <tuple>

namespace platform {
namespace {

// The folder itself, or the one it will be made in: never further up, where
// the probe would land in some other folder.
std::optional<std::filesystem::path> folderOrParent(std::filesystem::path path) {
    // "a/b/" names the folder b, whose parent is a, as "a/b" does.
    if (!path.has_filename() && path.has_relative_path()) path = path.parent_path();
    for (const auto& candidate : {path, path.parent_path()}) {
        struct stat st {};
        if (!candidate.empty() && ::stat(candidate.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return candidate;
    }
    return std::nullopt;
}

std::optional<bool> probe(const std::filesystem::path& folder) {
    const auto file = folder / (".tolv-archiver-time-probe-" + std::to_string(::getpid()));
    FileDescriptor probeFile(::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!probeFile.valid()) return std::nullopt;
    // An odd second and a fraction: a two-second or whole-second clock loses one of them.
    const struct timespec times[2] = {{1'700'000'001, 500'000'123}, {1'700'000'001, 500'000'123}};
    struct stat st {};
    const bool measured = ::futimens(probeFile.get(), times) == 0 && ::fstat(probeFile.get(), &st) == 0;
    probeFile.reset();
    ::unlink(file.c_str());
    if (!measured) return std::nullopt;
    return st.st_mtim.tv_sec == times[1].tv_sec && st.st_mtim.tv_nsec == times[1].tv_nsec;
}

// A file system as the answer is kept for: its device number alone is taken
// again by the next disk plugged in, or the next share mounted, once it goes.
using FileSystemKey = std::tuple<dev_t, long, std::uint64_t>;

std::optional<FileSystemKey> keyOf(const std::filesystem::path& folder) {
    struct stat st {};
    struct statfs fs {};
    if (::stat(folder.c_str(), &st) != 0 || ::statfs(folder.c_str(), &fs) != 0) return std::nullopt;
    std::uint64_t fsid = 0;
    std::memcpy(&fsid, &fs.f_fsid, std::min(sizeof fsid, sizeof fs.f_fsid));
    return FileSystemKey{st.st_dev, static_cast<long>(fs.f_type), fsid};
}

} // namespace

bool keepsExactTimes(const std::string& path) {
    static std::mutex mutex;
    static std::map<FileSystemKey, bool> known;
    const auto folder = folderOrParent(path);
    const auto key = folder ? keyOf(*folder) : std::nullopt;
    if (!key) return true;
    {
        std::lock_guard lock(mutex);
        if (auto it = known.find(*key); it != known.end()) return it->second;
    }
    const auto exact = probe(*folder);
    if (!exact) return true;
    std::lock_guard lock(mutex);
    known[*key] = *exact;
    return *exact;
}

} // namespace platform
