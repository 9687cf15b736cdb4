#pragma once
// The mounts this process sees, read from /proc/self/mountinfo: which file
// system is mounted where, so a volume can be found again at a new place.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct MountEntry {
    std::uint64_t device = 0;  // makedev(major, minor) of the file system
    std::string root;          // folder of the file system seen at the mount point ("/" unless bound)
    std::string mountPoint;
    std::string fsType;
    std::string source;
};

class MountTable {
public:
    // Never throws; lines that do not parse are skipped.
    static MountTable parse(std::string_view mountinfo);
    // Empty when /proc is not there.
    static MountTable current();

    const std::vector<MountEntry>& entries() const { return entries_; }

    // The mount that holds an absolute, canonical path: the longest mount
    // point above it whose device is the given one, or failing that the
    // longest mount point above it (btrfs subvolumes report other devices).
    // The later of two equal mount points wins, as it hides the earlier.
    std::optional<MountEntry> mountOf(const std::string& path, std::uint64_t device) const;

    // The file system's UUID from /dev/disk/by-uuid, or "" when none is
    // listed for the device (tmpfs, containers without udev).
    static std::string uuidOfDevice(std::uint64_t device);

    // "a/b" for ("/mnt/x/a/b", "/mnt/x"); nullopt when path is not below base.
    static std::optional<std::string> relativeBelow(const std::string& path, const std::string& base);
    // base joined with a relative path ("" gives base).
    static std::string join(const std::string& base, const std::string& relative);

private:
    std::vector<MountEntry> entries_;
};

} // namespace platform
