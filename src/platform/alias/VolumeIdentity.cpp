#include "platform/alias/VolumeIdentity.h"

#include "platform/alias/MountTable.h"

#include <sys/stat.h>
#include <sys/statfs.h>

#include <cstring>

namespace platform {

std::optional<VolumeIdentity> VolumeIdentity::ofPath(const std::string& path, bool withUuid) {
    struct stat st {};
    struct statfs sf {};
    if (path.empty() || stat(path.c_str(), &st) != 0 || statfs(path.c_str(), &sf) != 0) return std::nullopt;
    VolumeIdentity v;
    v.device = st.st_dev;
    std::uint32_t words[2];
    static_assert(sizeof(words) == sizeof(sf.f_fsid));
    std::memcpy(words, &sf.f_fsid, sizeof(words));
    v.fsid = (static_cast<std::uint64_t>(words[0]) << 32) | words[1];
    v.fsMagic = static_cast<std::uint64_t>(sf.f_type);
    if (withUuid) v.uuid = MountTable::uuidOfDevice(v.device);
    return v;
}

bool VolumeIdentity::sameVolumeAs(const VolumeIdentity& other) const {
    if (!uuid.empty() && !other.uuid.empty()) return uuid == other.uuid;
    if (fsid != 0 && other.fsid != 0) return fsid == other.fsid && fsMagic == other.fsMagic;
    return device == other.device;
}

} // namespace platform
