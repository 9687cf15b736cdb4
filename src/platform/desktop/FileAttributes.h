#pragma once
// The attributes of one item as the file helpers need them: kind, dates,
// size, permissions and owners, and whether the user may delete it.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace platform {

struct FileAttributes {
    using Date = std::chrono::system_clock::time_point;

    bool isDirectory = false;
    bool isSymbolicLink = false;
    bool isRegularFile = false;
    std::uint64_t size = 0;
    Date modificationDate; // to the nanosecond
    // When this machine last changed the item (its data or its status):
    // set by the kernel, never by the writer.
    Date statusChangeDate;
    unsigned permissions = 0; // the mode's permission bits (07777)
    unsigned owner = 0;
    unsigned group = 0;
    // Which file it is: a file replaced by another under its name has another.
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    // The birth time. A file system that keeps none reports the epoch, the
    // same "unset" date other systems use.
    Date creationDate;

    // The item's own attributes (a symbolic link is not followed); nullopt
    // when nothing is there.
    static std::optional<FileAttributes> ofItem(const std::filesystem::path& path);
    // The attributes of the item a link leads to, or of the item itself.
    static std::optional<FileAttributes> following(const std::filesystem::path& path);
    // Whether this process can give copies their owner (only root can).
    static bool ownersAreSettable();

    // Gives the item at path (following a link) these permissions, this
    // group, this owner where ownersAreSettable(), and this modification
    // time, as rsync -ptog would; false, with the first reason, when any
    // of them fails (the others are still set).
    bool giveTo(const std::filesystem::path& path, std::string* why = nullptr) const;

    // Whether this process may remove the item from its folder.
    static bool isDeletable(const std::filesystem::path& path);
};

} // namespace platform
