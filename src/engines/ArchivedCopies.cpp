#include "engines/ArchivedCopies.h"

#include "platform/desktop/FileAttributes.h"
#include "platform/runtime/Log.h"

using platform::FileAttributes;

namespace {

std::string asFolder(std::string path) { return path.ends_with('/') ? path : path + "/"; }

std::string relativePart(const std::string& name) { return name.starts_with("./") ? name.substr(2) : name; }

// What -ptog would set, to the nanosecond rsync sets times to. rsync sets
// owners only when it runs as root, so otherwise an owner that differs
// stays as it is and is no reason to hand the file to rsync.
bool sameAttributes(const FileAttributes& a, const FileAttributes& b) {
    static const bool ownersSet = FileAttributes::ownersAreSettable();
    return a.permissions == b.permissions && (!ownersSet || a.owner == b.owner) && a.group == b.group &&
           a.modificationDate == b.modificationDate;
}

// Without following a final link: rsync replaces a link where the source
// has a file or folder, so a link never counts as in place.
std::optional<FileAttributes> itemAt(const std::string& path) { return FileAttributes::ofItem(path); }

bool isFile(const std::optional<FileAttributes>& item) { return item && item->isRegularFile; }
bool isFolder(const std::optional<FileAttributes>& item) { return item && item->isDirectory; }

} // namespace

ArchivedCopies::ArchivedCopies(std::string source, std::string destination)
    : source_(asFolder(std::move(source))), destination_(asFolder(std::move(destination))) {}

// The folders first, whose looks are kept: into a new archive, or a new
// folder of it, no name costs a look of its own.
bool ArchivedCopies::inPlace(const std::string& name) {
    const std::string relative = relativePart(name);
    for (auto slash = relative.find('/'); slash != std::string::npos; slash = relative.find('/', slash + 1)) {
        const Folder state = folder(relative.substr(0, slash));
        if (state == Folder::differs || state == Folder::notAFolder) return false;
    }
    const auto to = itemAt(destination_ + relative);
    if (!isFile(to)) return false;
    const auto from = itemAt(source_ + relative);
    return isFile(from) && from->size == to->size && sameAttributes(*from, *to);
}

void ArchivedCopies::copying(const std::string& name) {
    const std::string relative = relativePart(name);
    for (auto slash = relative.find('/'); slash != std::string::npos; slash = relative.find('/', slash + 1)) {
        Folder& state = folder(relative.substr(0, slash));
        if (state == Folder::differs) state = Folder::setByCopy;
    }
}

// Looked at after the copies, which change the folder's time: only what
// still differs is set, so an archive left as it was costs two looks.
void ArchivedCopies::giveRootItsAttributes() const {
    // Following links, as rsync does for a destination given as a folder.
    const auto from = FileAttributes::following(source_);
    const auto to = FileAttributes::following(destination_);
    if (!isFolder(from) || !isFolder(to) || sameAttributes(*from, *to)) return;
    std::string why;
    if (!from->giveTo(destination_, &why))
        platform::logf("the archive folder %s keeps its own attributes: %s", destination_.c_str(), why.c_str());
}

ArchivedCopies::Folder& ArchivedCopies::folder(const std::string& relative) {
    auto [it, added] = folders_.try_emplace(relative, Folder::same);
    if (added) {
        const auto to = itemAt(destination_ + relative);
        const auto from = itemAt(source_ + relative);
        if (!isFolder(to))
            it->second = Folder::notAFolder;
        else if (!isFolder(from) || !sameAttributes(*from, *to))
            it->second = Folder::differs;
    }
    return it->second;
}
