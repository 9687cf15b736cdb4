#pragma once
// The contents of an alias record and their byte form. The bytes start with
// a magic mark and a format version, then tagged fields (tag, length,
// value), so a later version can add fields and still read older records;
// a reader skips tags it does not know.

#include "platform/alias/FileIdentity.h"
#include "platform/alias/VolumeIdentity.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace platform {

struct AliasRecord {
    std::string path;          // canonical path when the record was made
    FileIdentity item;
    VolumeIdentity volume;
    std::string fsType;        // as /proc/self/mountinfo names it
    std::string mountPoint;
    std::string mountRoot;     // folder of the file system seen at the mount point
    std::string relativePath;  // path below the mount point ("" for the mount point itself)

    static constexpr std::uint16_t kFormatVersion = 1;
    static constexpr std::size_t kMaxRecordBytes = 64 * 1024;
    static constexpr std::size_t kMaxStringBytes = 4096;

    std::vector<std::uint8_t> encode() const;
    // Never throws and never reads outside the bytes; nullopt with the reason
    // for anything that is not a well-formed record.
    static std::optional<AliasRecord> decode(std::span<const std::uint8_t> bytes, std::string* reason = nullptr);

    // The item's path within its file system: mountRoot joined with relativePath.
    std::string pathInFileSystem() const;
};

} // namespace platform
