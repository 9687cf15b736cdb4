#pragma once
// What tells one file or folder apart from any other on its volume, however
// it is named: the inode, and the witnesses that an inode was not reused
// for a newer item (birth time, and the file handle, which carries the
// inode's generation number).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool isDirectory = false;
    bool hasBirthTime = false;
    std::int64_t birthSeconds = 0;
    std::uint32_t birthNanoseconds = 0;
    std::int32_t handleType = 0;
    std::vector<std::uint8_t> handle; // empty when the file system gives none

    static constexpr std::size_t kMaxHandleBytes = 128;

    // Follows symbolic links, as choosing a folder through a link means the folder.
    static std::optional<FileIdentity> ofPath(const std::string& path);
    // The entry itself, not what a link points to.
    static std::optional<FileIdentity> at(int directoryFd, const char* name);

    enum class Match {
        Same,         // same inode and every witness both sides have agrees
        Different,
        Unwitnessed,  // same inode, but neither side has a witness to compare
    };
    // Compares inode, kind and witnesses; the device is the caller's business,
    // because a volume mounted again may get another device number.
    Match compare(const FileIdentity& other) const;
};

} // namespace platform
