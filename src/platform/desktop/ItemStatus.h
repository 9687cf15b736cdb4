#pragma once
// What the file system says of one item, to the nanosecond, for comparing a
// source item with its copy the way rsync compares them.

#include <cstdint>
#include <filesystem>
#include <optional>

namespace platform {

struct ItemStatus {
    enum class Kind { Regular, Directory, Link, Other };

    Kind kind = Kind::Other;
    std::uint64_t size = 0;
    std::int64_t modifiedSeconds = 0;
    long modifiedNanoseconds = 0;
    unsigned permissions = 0; // the mode's permission bits (07777)
    unsigned owner = 0;
    unsigned group = 0;

    // The item itself (a link is not followed); nullopt when nothing is there.
    static std::optional<ItemStatus> ofItem(const std::filesystem::path& path);
    // The item a link leads to, or the item itself.
    static std::optional<ItemStatus> following(const std::filesystem::path& path);
    // Whether this process can give copies their owner (only root can).
    static bool ownersAreSettable();
};

} // namespace platform
