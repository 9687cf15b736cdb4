#include "pass/FolderSlotRules.h"

#include "core/ArchiveRecord.h"
#include "core/CommonHeader.h"
#include "core/DestinationMarker.h"
#include "core/Settings.h"
#include "core/PathString.h"

#include <filesystem>
#include <vector>

namespace {

struct SlotFolder {
    int slot;
    std::string path;
};

// The folders the other slots hold, as stored.
std::vector<SlotFolder> otherFolders(int slot, FolderSlotRules::Others others,
                                     const platform::PreferenceSnapshot& stored) {
    std::vector<SlotFolder> folders;
    for (int other = 0; other < CommonHeader::kSlotCount; ++other) {
        if (other == slot) continue;
        const ParamDictionary p = CommonHeader::slotParameters(other);
        const auto path = stored.string(p.at(sPrefCameraFolderPathKey));
        if (!path || path->empty()) continue;
        // The destination has no switch of its own.
        const bool on = other == CommonHeader::kDestinationSlot ||
                        Settings::switchedOn(stored.object(p.at(sPrefCameraFolderPathEnableKey)));
        if (others == FolderSlotRules::Others::EnabledSources && (!on || other == CommonHeader::kDestinationSlot))
            continue;
        folders.push_back({other, *path});
    }
    return folders;
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

std::string slotFolder(const SlotFolder& f) {
    return "the " + CommonHeader::slotDisplayName(f.slot) + " folder " + quoted(f.path);
}

// A source beside the destination, both with their links resolved.
std::optional<std::string> besideTheDestination(const std::string& resolved, const std::string& destinationResolved,
                                                const SlotFolder& destination) {
    if (PathString::isWithin(resolved, destinationResolved))
        return "It lies inside " + slotFolder(destination) + ": its copies would be archived again.";
    if (PathString::isWithin(destinationResolved, resolved))
        return "It holds " + slotFolder(destination) + ": the copies would be archived again.";
    return std::nullopt;
}

// A source beside another source, or beside the destination.
std::optional<std::string> sourceRefusal(const std::string &path, const std::string &resolved,
                                         const SlotFolder &other) {
    const std::string otherResolved = PathString::resolvingSymlinks(other.path);
    if (other.slot == CommonHeader::kDestinationSlot) return besideTheDestination(resolved, otherResolved, other);
    if (FolderSlotRules::archiveName(path) == FolderSlotRules::archiveName(other.path))
        return "It has the same name as " + slotFolder(other) + ": both would be archived into the folder " +
               quoted(FolderSlotRules::archiveName(path)) + " of the destination and overwrite each other's copies.";
    if (PathString::isWithin(resolved, otherResolved) || PathString::isWithin(otherResolved, resolved))
        return "It overlaps " + slotFolder(other) + ": the same photos would be archived twice.";
    return std::nullopt;
}

// The destination beside a source.
std::optional<std::string> destinationRefusal(const std::string& resolved, const SlotFolder& source) {
    const std::string sourceResolved = PathString::resolvingSymlinks(source.path);
    if (PathString::isWithin(resolved, sourceResolved))
        return "It lies inside " + slotFolder(source) + ": the copies would be archived again.";
    if (PathString::isWithin(sourceResolved, resolved))
        return "It holds " + slotFolder(source) + ": the copies would be archived again.";
    return std::nullopt;
}

} // namespace

std::string FolderSlotRules::archiveName(const std::string& sourcePath) {
    std::string path = sourcePath;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::optional<std::string> FolderSlotRules::refusal(int slot, const std::string& path, Others others) {
    return refusal(slot, path, others, Settings::readForPass());
}

std::optional<std::string> FolderSlotRules::refusal(int slot, const std::string& path, Others others,
                                                    const platform::PreferenceSnapshot& stored) {
    // The copying tools read "{}" in any argument as the file at hand.
    if (path.find("{}") != std::string::npos)
        return "Its path holds \"{}\", which the copying tools would take for a file's name.";
    const bool isSource = slot != CommonHeader::kDestinationSlot;
    if (isSource && archiveName(path) == kKeptFolderName)
        return "Its name is that of the folder where replaced copies are kept.";
    if (isSource && archiveName(path) == DestinationMarker::kFolderName)
        return "Its name is that of the folder that marks the destination as the archive.";
    if (isSource && archiveName(path) == ArchiveRecord::kFolderName)
        return "Its name is that of the folder that records what the archive's copies hold.";
    const std::string resolved = PathString::resolvingSymlinks(path);
    for (const SlotFolder& other : otherFolders(slot, others, stored)) {
        auto why = isSource ? sourceRefusal(path, resolved, other) : destinationRefusal(resolved, other);
        if (why) return why;
    }
    return std::nullopt;
}

std::optional<std::string> FolderSlotRules::besideDestination(const std::string& source,
                                                              const std::string& realDestination) {
    if (realDestination.empty()) return std::nullopt;
    return besideTheDestination(PathString::resolvingSymlinks(source), realDestination,
                                SlotFolder{CommonHeader::kDestinationSlot, realDestination});
}

std::optional<std::string> FolderSlotRules::cleanUpRefusal(const std::string &source,
                                                           const std::string &archiveFolder) {
    const std::string resolved = PathString::resolvingSymlinks(source);
    if (resolved == "/") return "it is the root folder";
    if (resolved == PathString::resolvingSymlinks("~")) return "it is the home folder";
    const std::string destination = std::filesystem::path(archiveFolder).parent_path().string();
    if (!destination.empty() && PathString::isWithin(PathString::resolvingSymlinks(destination), resolved))
        return "it holds the destination backup folder";
    return std::nullopt;
}

std::string FolderSlotRules::archiveFolder(const std::string& destination, const std::string& sourcePath) {
    const std::string name = archiveName(sourcePath);
    if (destination.empty()) return name;
    return destination.back() == '/' ? destination + name : destination + "/" + name;
}
