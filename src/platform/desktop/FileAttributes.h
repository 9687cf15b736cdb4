#pragma once
// The attributes of one item as the file helpers need them: kind, dates, and
// whether the user may delete it.

#include <chrono>
#include <filesystem>
#include <optional>

namespace platform {

struct FileAttributes {
    using Date = std::chrono::system_clock::time_point;

    bool isDirectory = false;
    bool isSymbolicLink = false;
    Date modificationDate;
    // The birth time. A file system that keeps none reports the epoch, the
    // same "unset" date other systems use.
    Date creationDate;

    // The item's own attributes (a symbolic link is not followed); nullopt
    // when nothing is there.
    static std::optional<FileAttributes> ofItem(const std::filesystem::path& path);

    // Whether this process may remove the item from its folder.
    static bool isDeletable(const std::filesystem::path& path);
};

} // namespace platform
