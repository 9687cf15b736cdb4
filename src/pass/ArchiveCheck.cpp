#include "pass/ArchiveCheck.h"

#include "core/ArchiveDestination.h"
#include "core/ArchiveRecord.h"
#include "core/CommonHeader.h"
#include "core/RemoteDestination.h"
#include "core/Settings.h"
#include "engines/PassProgress.h"
#include "engines/SynchronizationPolicy.h"
#include "pass/FolderSlotRules.h"
#include "platform/desktop/FileSystemFlush.h"
#include "platform/preferences/AtomicFile.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/Sha256.h"

#include <chrono>
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
    const auto allDamaged = static_cast<std::int64_t>(damaged.size() + mended.size());
    out += plural(checked, "copy", "copies") + " checked: " + PassProgress::grouped(allDamaged) +
           " damaged, " + PassProgress::grouped(static_cast<std::int64_t>(missing.size())) + " missing, " +
           PassProgress::grouped(withoutRecord) + " without a record\n";
    for (const auto& path : damaged) out += "  damaged in the archive; no other copy: " + path + "\n";
    for (const auto& path : missing) out += "  missing: " + path + "\n";
    for (const auto& path : mended) out += "  damaged, made again from its original: " + path + "\n";
    if (!mended.empty()) out += "  the damaged versions are kept in " + keptIn + "\n";
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

namespace {

// The original of a damaged copy, put in its place through a file beside
// it; the damaged copy first goes to the kept folder. True once the copy
// there reads as recorded.
bool makeAgain(const fs::path& original, const fs::path& copy, const fs::path& kept, const std::string& hash,
               const fs::path& destination) {
    std::error_code ec;
    const fs::path fresh = copy.parent_path() / ("." + copy.filename().string() + ".mending");
    fs::copy_file(original, fresh, fs::copy_options::overwrite_existing, ec);
    if (ec) return false;
    fs::last_write_time(fresh, fs::last_write_time(original, ec), ec);
    std::string why;
    const auto written = platform::sha256OfFile(fresh);
    if (!written || *written != hash || !platform::flushFileSystem(copy.parent_path().string(), &why)) {
        fs::remove(fresh, ec);
        return false;
    }
    if (!platform::makeFoldersBelow(destination, kept.parent_path())) ec = std::make_error_code(std::errc::io_error);
    if (!ec) fs::rename(copy, kept, ec);
    if (ec) {
        fs::remove(fresh, ec);
        return false;
    }
    fs::rename(fresh, copy, ec);
    return !ec;
}

} // namespace

void ArchiveCheck::mend(Folder& folder, const std::string& source) {
    if (folder.damaged.empty()) return;
    const auto record = ArchiveRecord::load(folder.archive);
    if (!record) return;
    const fs::path archive(folder.archive);
    const fs::path keptFolder = SynchronizationPolicy::keptFolderBeside(archive, std::chrono::system_clock::now());
    std::vector<std::string> left;
    for (const std::string& path : folder.damaged) {
        const auto hash = record->hashOf(path);
        const fs::path original = fs::path(source) / path;
        const auto originalHash = platform::sha256OfFile(original);
        if (hash && originalHash && *originalHash == *hash &&
            makeAgain(original, archive / path, keptFolder / path, *hash, archive.parent_path())) {
            folder.mended.push_back(path);
            platform::logf("%s: damaged in the archive, made again from %s", (archive / path).c_str(), original.c_str());
        } else {
            left.push_back(path);
            platform::logf("ERROR: %s: damaged in the archive; no other copy", (archive / path).c_str());
        }
    }
    folder.damaged = std::move(left);
    if (!folder.mended.empty()) folder.keptIn = keptFolder.string();
}

std::vector<ArchiveCheck::Folder> ArchiveCheck::run(std::optional<int> slot) {
    std::vector<Folder> folders;
    const DestinationState destination = ArchiveDestination::inspect();
    const bool onServer =
        RemoteDestination::looksRemote(Settings::folder(CommonHeader::kDestinationSlot).path.value_or(""));
    for (int s = 1; s < CommonHeader::kSlotCount; ++s) {
        if (slot && *slot != s) continue;
        const auto source = Settings::folder(s).path;
        if (!source || source->empty()) continue;
        Folder folder;
        folder.slot = s;
        if (onServer)
            folder.error = "an archive on a server is not checked from here yet";
        else if (!destination.ready())
            folder.error = destination.problem.empty() ? std::string("no destination") : destination.problem;
        if (!folder.error.empty()) {
            folders.push_back(folder);
            continue;
        }
        folders.push_back(check(s, FolderSlotRules::archiveFolder(destination.path, *source)));
        mend(folders.back(), *source);
    }
    return folders;
}
