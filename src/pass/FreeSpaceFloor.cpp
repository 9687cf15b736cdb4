#include "pass/FreeSpaceFloor.h"

#include "core/Settings.h"
#include "platform/desktop/FileSystemSpace.h"

#include <algorithm>
#include <cstdio>

namespace FreeSpaceFloor {
namespace {

constexpr std::uintmax_t kMegabyte = 1024 * 1024;

} // namespace

std::uintmax_t floorBytes() {
    return bytesOf(Settings::read());
}

std::uintmax_t bytesOf(const Settings& settings) {
    return static_cast<std::uintmax_t>(settings.minimumFreeMB) * kMegabyte;
}

std::optional<std::uintmax_t> freeBytes(const std::filesystem::path& folder) {
    const auto space = platform::fileSystemSpace(folder.string());
    if (!space) return std::nullopt;
    return space->availableBytes;
}

std::string gigabytes(std::uintmax_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f GB", static_cast<double>(bytes) / 1e9);
    return text;
}

bool isBelow(const std::optional<std::uintmax_t>& free, std::uintmax_t floor) {
    return free && *free < floor;
}

} // namespace FreeSpaceFloor
