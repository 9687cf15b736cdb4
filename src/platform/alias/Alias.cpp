#include "platform/alias/Alias.h"

#include "platform/alias/AliasRecord.h"
#include "platform/alias/MountTable.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>

namespace platform {

namespace {

std::optional<std::string> canonicalPath(const std::string& path, std::string* reason) {
    std::unique_ptr<char, decltype(&std::free)> real(realpath(path.c_str(), nullptr), &std::free);
    if (!real) {
        if (reason) *reason = path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    return std::string(real.get());
}

std::string parentOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos || slash == 0) return "/";
    return path.substr(0, slash);
}

bool isFolder(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool onRecordedVolume(const AliasRecord& r, const std::string& path) {
    auto volume = VolumeIdentity::ofPath(path, !r.volume.uuid.empty());
    return volume && volume->sameVolumeAs(r.volume);
}

// The path names the recorded item on the recorded volume. Here, where the
// path agrees as well, a file system without witnesses is taken at its word.
bool itemIsAt(const AliasRecord& r, const std::string& path) {
    auto item = FileIdentity::ofPath(path);
    return item && item->compare(r.item) != FileIdentity::Match::Different && onRecordedVolume(r, path);
}

// The item's path below every place where its volume is mounted now.
std::vector<std::string> pathsOnMountedVolume(const AliasRecord& r) {
    std::vector<std::string> paths;
    const std::string inFileSystem = r.pathInFileSystem();
    const MountTable table = MountTable::current();
    for (const auto& mount : table.entries()) {
        if (!r.fsType.empty() && mount.fsType != r.fsType) continue;
        auto below = MountTable::relativeBelow(inFileSystem, mount.root);
        if (!below || !onRecordedVolume(r, mount.mountPoint)) continue;
        paths.push_back(MountTable::join(mount.mountPoint, *below));
    }
    return paths;
}

std::optional<std::string> nearestFolderAbove(const std::string& path) {
    std::string folder = path;
    do {
        folder = parentOf(folder);
        if (isFolder(folder)) return folder;
    } while (folder != "/");
    return std::nullopt;
}

// Searches below the nearest folder above base, then one level up at a
// time, to the root of the volume.
std::optional<std::string> searchAround(const AliasRecord& r, const std::string& base, AliasSearch& search,
                                        std::set<std::string>& searched) {
    auto folder = nearestFolderAbove(base);
    if (!folder || !onRecordedVolume(r, *folder)) return std::nullopt;
    struct stat start {};
    if (stat(folder->c_str(), &start) != 0) return std::nullopt;
    std::string skip;
    while (!search.exhausted()) {
        if (searched.insert(*folder).second) {
            if (auto found = search.below(*folder, skip)) return found;
        }
        if (*folder == "/") break;
        std::string parent = parentOf(*folder);
        struct stat st {};
        if (stat(parent.c_str(), &st) != 0 || st.st_dev != start.st_dev) break; // the volume's root
        skip = *folder;
        folder = parent;
    }
    return std::nullopt;
}

Alias::Resolution found(const std::string& path, std::span<const std::uint8_t> data, std::size_t visited) {
    Alias::Resolution res;
    res.resolved = true;
    res.path = path;
    res.entriesVisited = visited;
    if (auto fresh = Alias::make(path); fresh && !std::equal(fresh->begin(), fresh->end(), data.begin(), data.end())) {
        res.changed = true;
        res.changedData = std::move(*fresh);
    }
    return res;
}

Alias::Resolution failed(Alias::Error error, std::string reason, std::size_t visited = 0) {
    Alias::Resolution res;
    res.error = error;
    res.reason = std::move(reason);
    res.entriesVisited = visited;
    return res;
}

} // namespace

std::optional<Alias::Bytes> Alias::make(const std::string& path, std::string* reason) {
    if (path.empty()) {
        if (reason) *reason = "no path";
        return std::nullopt;
    }
    auto canonical = canonicalPath(path, reason);
    if (!canonical) return std::nullopt;
    auto item = FileIdentity::ofPath(*canonical);
    auto volume = VolumeIdentity::ofPath(*canonical, true);
    if (!item || !volume) {
        if (reason) *reason = *canonical + ": " + std::strerror(errno);
        return std::nullopt;
    }
    AliasRecord r;
    r.path = *canonical;
    r.item = *item;
    r.volume = *volume;
    r.mountPoint = r.mountRoot = "/";
    r.relativePath = r.path.substr(1);
    if (auto mount = MountTable::current().mountOf(r.path, item->device)) {
        r.fsType = mount->fsType;
        r.mountPoint = mount->mountPoint;
        r.mountRoot = mount->root;
        r.relativePath = MountTable::relativeBelow(r.path, mount->mountPoint).value_or(r.relativePath);
    }
    return r.encode();
}

Alias::Resolution Alias::resolve(std::span<const std::uint8_t> data, AliasSearch::Bounds bounds) {
    std::string reason;
    auto record = AliasRecord::decode(data, &reason);
    if (!record) return failed(Error::Damaged, "damaged alias record: " + reason);
    const AliasRecord& r = *record;

    if (itemIsAt(r, r.path)) return found(r.path, data, 0);

    const auto mountedPaths = pathsOnMountedVolume(r);
    for (const auto& path : mountedPaths)
        if (path != r.path && itemIsAt(r, path)) return found(path, data, 0);

    AliasSearch search(r.item, bounds);
    std::set<std::string> searched;
    bool volumeSeen = !mountedPaths.empty();
    std::vector<std::string> bases{r.path};
    bases.insert(bases.end(), mountedPaths.begin(), mountedPaths.end());
    for (const auto& base : bases) {
        if (auto path = searchAround(r, base, search, searched)) return found(*path, data, search.entriesVisited());
        volumeSeen = volumeSeen || !searched.empty();
    }
    if (!volumeSeen) return failed(Error::VolumeMissing, "the volume of " + r.path + " is not mounted");
    return failed(Error::NotFound,
                  r.path + " not found (" + std::to_string(search.entriesVisited()) + " entries searched" +
                      (search.exhausted() ? ", search bound reached)" : ")"),
                  search.entriesVisited());
}

Alias::VolumeCheck Alias::compareVolume(std::span<const std::uint8_t> data, const std::string& path) {
    auto record = AliasRecord::decode(data);
    if (!record) return VolumeCheck::Unknown;
    auto volume = VolumeIdentity::ofPath(path, !record->volume.uuid.empty());
    if (!volume) return VolumeCheck::Unknown;
    return volume->sameVolumeAs(record->volume) ? VolumeCheck::Same : VolumeCheck::Different;
}

Alias::VolumeCheck Alias::compareMountPlace(std::span<const std::uint8_t> data, const std::string& path) {
    auto record = AliasRecord::decode(data);
    auto item = FileIdentity::ofPath(path);
    if (!record || !item) return VolumeCheck::Unknown;
    auto canonical = canonicalPath(path, nullptr);
    if (!canonical) return VolumeCheck::Unknown;
    const auto mount = MountTable::current().mountOf(*canonical, item->device);
    if (!mount) return VolumeCheck::Unknown;
    const bool leftBehind = mount->mountPoint != record->mountPoint &&
                            MountTable::relativeBelow(record->mountPoint, mount->mountPoint).has_value();
    return leftBehind ? VolumeCheck::Different : VolumeCheck::Same;
}

bool Alias::namesItemAt(std::span<const std::uint8_t> data, const std::string& path) {
    auto record = AliasRecord::decode(data);
    return record && itemIsAt(*record, path);
}

} // namespace platform
