#pragma once
// The least free space a destination must have for a pass to copy: below
// it a pass copies and deletes nothing, so a filling disk never ends with
// half-written copies and source files that the next pass cannot archive.

#include "core/Settings.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace FreeSpaceFloor {

// "prefMinimumFreeSpaceMB" in bytes; 1024 MB when never stored, none for 0.
std::uintmax_t floorBytes();
std::uintmax_t bytesOf(const Settings& settings);
// The space left to an unprivileged writer of the folder's file system;
// nullopt when it cannot be told (the folder is gone).
std::optional<std::uintmax_t> freeBytes(const std::filesystem::path& folder);
// "79.2 GB": a size as people read it.
std::string gigabytes(std::uintmax_t bytes);
// Whether free space, as freeBytes() told it, is less than the floor.
bool isBelow(const std::optional<std::uintmax_t>& free, std::uintmax_t floor);

} // namespace FreeSpaceFloor
