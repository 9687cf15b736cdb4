#include "platform/alias/AliasSearch.h"

#include "platform/alias/MountTable.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <vector>

namespace platform {

namespace {

// Closes the folder however the scan ends.
struct FolderStream {
    DIR* dir = nullptr;
    ~FolderStream() {
        if (dir) closedir(dir);
    }
};

bool isDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

bool isSubfolder(int fd, const dirent* d) {
    if (d->d_type == DT_DIR) return true;
    if (d->d_type != DT_UNKNOWN) return false;
    struct stat st {};
    return fstatat(fd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

AliasSearch::AliasSearch(FileIdentity target, Bounds bounds) : target_(std::move(target)), bounds_(bounds) {}

std::optional<std::string> AliasSearch::below(const std::string& root, const std::string& skip) {
    struct stat rootStat {};
    if (stat(root.c_str(), &rootStat) != 0 || !S_ISDIR(rootStat.st_mode)) return std::nullopt;
    // Level by level, so a folder moved a short way is found before the
    // budget goes to deep corners of the tree.
    std::vector<Folder> level{{root, 0}};
    while (!level.empty() && !exhausted()) {
        std::vector<Folder> next;
        for (const auto& folder : level) {
            if (auto found = scan(folder, rootStat.st_dev, skip, next)) return found;
            if (exhausted()) return std::nullopt;
        }
        level = std::move(next);
    }
    return std::nullopt;
}

std::optional<std::string> AliasSearch::scan(const Folder& folder, std::uint64_t device, const std::string& skip,
                                             std::vector<Folder>& next) {
    const int fd = open(folder.path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    FolderStream stream{fdopendir(fd)};
    if (!stream.dir) {
        close(fd);
        return std::nullopt;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || st.st_dev != device) return std::nullopt; // another volume mounted here
    const bool mayDescend = folder.depth + 1 < bounds_.maxDepth;
    while (const dirent* d = readdir(stream.dir)) {
        if (isDot(d->d_name)) continue;
        if (++visited_ > bounds_.maxEntries) {
            visited_ = bounds_.maxEntries;
            return std::nullopt;
        }
        if (d->d_ino == target_.inode) {
            auto id = FileIdentity::at(fd, d->d_name);
            if (id && id->device == device && id->compare(target_) == FileIdentity::Match::Same)
                return MountTable::join(folder.path, d->d_name);
        }
        if (mayDescend && isSubfolder(fd, d)) {
            std::string path = MountTable::join(folder.path, d->d_name);
            if (path != skip) next.push_back({std::move(path), folder.depth + 1});
        }
    }
    return std::nullopt;
}

} // namespace platform
