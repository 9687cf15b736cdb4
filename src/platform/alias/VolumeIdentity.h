#pragma once
// Which file system an item lives on, told in ways that survive the volume
// being mounted again: its UUID, the kernel's fsid (derived from the UUID
// on ext4 and btrfs, and readable without /dev/disk) and, lacking both, the
// device number.

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

struct VolumeIdentity {
    std::uint64_t device = 0;
    std::uint64_t fsid = 0;   // 0 when the file system reports none
    std::uint64_t fsMagic = 0; // statfs f_type
    std::string uuid;         // "" when none is listed

    // Follows symbolic links. The UUID is looked up only when asked for,
    // as it reads a folder of /dev.
    static std::optional<VolumeIdentity> ofPath(const std::string& path, bool withUuid);

    bool sameVolumeAs(const VolumeIdentity& other) const;
};

} // namespace platform
