#include "pass/ArchiveCheck.h"

#include "core/ArchiveDestination.h"
#include "core/ArchiveRecord.h"
#include "core/CommonHeader.h"
#include "core/RemoteDestination.h"
#include "core/Settings.h"
#include "engines/PassProgress.h"
#include "pass/FolderSlotRules.h"
#include "platform/runtime/Sha256.h"

#include <filesystem>

namespace fs = std::filesystem;

namespace {

std::string plural(std::int64_t n, const char* one, const char* many) {
    return PassProgress::grouped(n) + " " + (n == 1 ? one : many);
}

// Copies in the folder that the record does not name.
std::int64_t unrecorded(const fs::path& root, const ArchiveRecord& record) {
    std::int64_t n = 0;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        if (!it->is_symlink(ec) && it->is_regular_file(ec) &&
            !record.hashOf(it->path().lexically_relative(root).generic_string()))
            ++n;
    return n;
}

} // namespace

std::string ArchiveCheck::Folder::text() const {
    std::string out = CommonHeader::slotDisplayName(slot) + ": ";
    if (!error.empty()) return out + error + "\n";
    out += plural(checked, "copy", "copies") + " checked: " + PassProgress::grouped(static_cast<std::int64_t>(damaged.size())) +
           " damaged, " + PassProgress::grouped(static_cast<std::int64_t>(missing.size())) + " missing, " +
           PassProgress::grouped(withoutRecord) + " without a record\n";
    for (const auto& path : damaged) out += "  damaged: " + path + "\n";
    for (const auto& path : missing) out += "  missing: " + path + "\n";
    return out;
}

ArchiveCheck::Folder ArchiveCheck::check(int slot, const std::string& archiveFolder) {
    Folder folder;
    folder.slot = slot;
    folder.archive = archiveFolder;
    std::string why;
    const auto record = ArchiveRecord::load(archiveFolder, &why);
    if (!record) {
        folder.error = "its record cannot be read: " + why;
        return folder;
    }
    for (const auto& [path, hash] : record->hashes()) {
        const fs::path copy = fs::path(archiveFolder) / path;
        std::error_code ec;
        if (!fs::exists(fs::symlink_status(copy, ec))) {
            folder.missing.push_back(path);
            continue;
        }
        ++folder.checked;
        const auto read = platform::sha256OfFile(copy);
        if (!read || *read != hash) folder.damaged.push_back(path);
    }
    folder.withoutRecord = unrecorded(archiveFolder, *record);
    return folder;
}

std::vector<ArchiveCheck::Folder> ArchiveCheck::run(std::optional<int> slot) {
    std::vector<Folder> folders;
    const DestinationState destination = ArchiveDestination::inspect();
    for (int s = 1; s < CommonHeader::kSlotCount; ++s) {
        if (slot && *slot != s) continue;
        const auto source = Settings::folder(s).path;
        if (!source || source->empty()) continue;
        Folder folder;
        folder.slot = s;
        if (RemoteDestination::looksRemote(Settings::folder(CommonHeader::kDestinationSlot).path.value_or("")))
            folder.error = "an archive on a server is not checked from here yet";
        else if (!destination.ready())
            folder.error = destination.problem.empty() ? std::string("no destination") : destination.problem;
        if (!folder.error.empty()) {
            folders.push_back(folder);
            continue;
        }
        folders.push_back(check(s, FolderSlotRules::archiveFolder(destination.path, *source)));
    }
    return folders;
}
