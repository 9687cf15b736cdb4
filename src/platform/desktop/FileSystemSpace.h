#pragma once
// What room the file system of a folder has left, as an unprivileged
// writer sees it, and whether it takes writes at all.

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

struct FileSystemSpace {
    std::uintmax_t availableBytes = 0;
    std::optional<std::uintmax_t> availableFiles; // none where the file system has no fixed number
    bool readOnly = false;
};

// nullopt when the folder cannot be looked at (it is gone).
std::optional<FileSystemSpace> fileSystemSpace(const std::string& folder);

} // namespace platform
