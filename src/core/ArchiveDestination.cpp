#include "core/ArchiveDestination.h"
#include "core/DestinationProblem.h"

#include "core/ArchiveOwners.h"

#include "core/CommonHeader.h"
#include "core/DestinationMarker.h"
#include "core/MyAliasKit.h"
#include "core/RemoteArchive.h"
#include "core/Settings.h"
#include "core/validateFolderPrefWithParam.h"
#include "platform/alias/Alias.h"
#include "platform/alias/VolumeIdentity.h"
#include "platform/runtime/Log.h"

#include <filesystem>
#include <mutex>

namespace fs = std::filesystem;
using platform::logf;
using platform::Value;

using Problem = DestinationProblem::Kind;
const std::string ArchiveDestination::kMissing = DestinationProblem::text(Problem::Missing);
const std::string ArchiveDestination::kNotMounted = DestinationProblem::text(Problem::NotMounted);
const std::string ArchiveDestination::kForeign = DestinationProblem::text(Problem::Foreign);
const std::string ArchiveDestination::kUnmarkable = DestinationProblem::text(Problem::Unmarkable);
const std::string ArchiveDestination::kNotResponding = DestinationProblem::text(Problem::NotResponding);
const std::string ArchiveDestination::kIdKey = "prefDestinationArchiveID";

namespace {

ParamDictionary destinationReference() {
    return CommonHeader::folderReferenceParameters(CommonHeader::slotParameters(CommonHeader::kDestinationSlot));
}

std::optional<Value::Data> storedAliasData(const platform::PreferenceSnapshot& stored) {
    const Value alias = stored.object(destinationReference().at(sPrefFolderAliasDataKey));
    return alias.data() ? std::optional(*alias.data()) : std::nullopt;
}

bool isEmptyFolder(const fs::path& folder) {
    std::error_code ec;
    return fs::directory_iterator(folder, ec) == fs::directory_iterator() && !ec;
}

// A mounted disk's root: the folder lies on another file system than its parent.
bool isFileSystemRoot(const fs::path& folder) {
    const auto self = platform::VolumeIdentity::ofPath(folder.string(), false);
    const auto parent = platform::VolumeIdentity::ofPath((folder / "..").string(), false);
    return self && parent && self->device != parent->device;
}

std::string lastComponent(const std::string& path) {
    fs::path p(path);
    if (!p.has_filename()) p = p.parent_path();
    return p.filename().string();
}

// What passes of this installation leave in the archive: a folder per
// source, named after it, and the kept versions.
bool holdsThisArchive(const fs::path& folder, const platform::PreferenceSnapshot& stored) {
    std::error_code ec;
    if (fs::is_directory(folder / kKeptFolderName, ec)) return true;
    for (int slot = 1; slot < CommonHeader::kSlotCount; ++slot) {
        const auto source = stored.string(CommonHeader::slotParameters(slot).at(sPrefCameraFolderPathKey));
        const std::string name = source ? lastComponent(*source) : "";
        if (!name.empty() && fs::is_directory(folder / name, ec)) return true;
    }
    return false;
}

// Why a folder without a marker, chosen before markers existed, may be
// adopted as the archive; nullopt when it may not.
std::optional<std::string> adoptionReason(const fs::path& folder, const platform::PreferenceSnapshot& stored) {
    const auto alias = storedAliasData(stored);
    if (alias && platform::Alias::namesItemAt(*alias, folder.string())) return "it is the folder that was chosen";
    if (holdsThisArchive(folder, stored)) return "it holds this installation's archive folders";
    if (isFileSystemRoot(folder)) return "it is the root of a mounted disk";
    return std::nullopt;
}

// Something else than the archive's disk is mounted at its place: a disk
// with files, or one that another archive marked.
bool isAnotherDisk(const fs::path& folder) {
    if (DestinationMarker::read(folder).kind != DestinationMarker::Reading::Kind::Absent) return true;
    return isFileSystemRoot(folder) && !isEmptyFolder(folder);
}

// No marker where one should be: an empty folder is what an unmounted disk
// leaves behind; anything else is some other folder.
std::string unmarkedProblem(const fs::path& folder) {
    return isEmptyFolder(folder) ? ArchiveDestination::kNotMounted : ArchiveDestination::kForeign;
}

// Its real path is found here, where a look that hangs is bounded, so the
// slot rules need not look at the destination themselves.
DestinationState ready(const fs::path& folder) {
    std::error_code ec;
    const fs::path real = fs::canonical(folder, ec);
    return {folder.string(), "", "", std::nullopt, ec ? std::string() : real.string()};
}

DestinationState refused(const std::string& path, const std::string& problem, const std::string& why) {
    return {path, problem, path + ": " + why, std::nullopt, {}};
}

// An adopted archive is remembered as a chosen one is, alias data included.
void rememberAdopted(const fs::path& folder, const std::string& id, const platform::PreferenceSnapshot& stored) {
    ArchiveDestination::remember(id);
    // From now on a move of the disk is followed, as for a folder chosen in the window.
    if (!storedAliasData(stored)) MyAliasKit::savePath(folder.string(), destinationReference().at(sPrefFolderAliasDataKey));
    Settings::save();
}

DestinationState adopt(const fs::path& folder, const std::string& why, bool mayWrite,
                       const platform::PreferenceSnapshot& stored) {
    if (!mayWrite) return ready(folder);
    const ArchiveDestination::Marking marking = ArchiveDestination::mark(folder.string());
    if (!marking.error.empty()) return refused(folder.string(), ArchiveDestination::kUnmarkable, marking.error);
    rememberAdopted(folder, marking.id, stored);
    logf("The destination %s is adopted as the archive (%s)", folder.c_str(), why.c_str());
    return ready(folder);
}

// The folder a lookup found is the archive when its marker says so.
DestinationState checkIdentity(const fs::path& folder, bool mayWrite, const platform::PreferenceSnapshot& stored) {
    const auto expected = stored.string(ArchiveDestination::kIdKey);
    const auto marker = DestinationMarker::read(folder);
    using Kind = DestinationMarker::Reading::Kind;
    if (marker.kind == Kind::Damaged) return refused(folder.string(), ArchiveDestination::kForeign, marker.reason);
    if (expected && !expected->empty()) {
        if (marker.kind == Kind::Present && marker.id == *expected) return ready(folder);
        if (marker.kind == Kind::Present)
            return refused(folder.string(), ArchiveDestination::kForeign,
                           "its marker names archive " + marker.id + ", not " + *expected);
        return refused(folder.string(), unmarkedProblem(folder), "no " + DestinationMarker::kFolderName + " in it");
    }
    // Chosen before markers existed.
    if (marker.kind == Kind::Present) {
        if (mayWrite) rememberAdopted(folder, marker.id, stored);
        return ready(folder);
    }
    if (auto why = adoptionReason(folder, stored)) return adopt(folder, *why, mayWrite, stored);
    return refused(
        folder.string(), unmarkedProblem(folder),
        "it has no archive marker and nothing shows it is the archive; choose it again in the window if it is");
}

} // namespace

bool ArchiveDestination::isDestinationProblem(const std::string& error) {
    return DestinationProblem::stopsEveryFolder(DestinationProblem::of(error)) ||
           RemoteArchive::isConnectionProblem(error);
}

ArchiveDestination::Marking ArchiveDestination::mark(const std::string& folder) {
    if (RemoteDestination::looksRemote(folder)) {
        std::string why;
        const auto remote = RemoteDestination::parse(folder, &why);
        return remote ? RemoteArchive::mark(*remote) : Marking{"", why};
    }
    const auto marker = DestinationMarker::read(folder);
    if (marker.kind == DestinationMarker::Reading::Kind::Present) return {marker.id, ""};
    const std::string id = DestinationMarker::newId();
    std::string error;
    if (!DestinationMarker::write(folder, id, &error))
        return {"",
                "The archive's marker (" + DestinationMarker::kFolderName + ") cannot be written into it: " + error};
    logf("The destination %s is marked as the archive %s", folder.c_str(), id.c_str());
    return {id, ""};
}

void ArchiveDestination::remember(const std::string& id) { Settings::store(kIdKey, Value(id)); }

std::optional<std::string> ArchiveDestination::choose(const std::string& folder) {
    const Marking marking = mark(folder);
    if (!marking.error.empty()) return marking.error;
    remember(marking.id);
    return std::nullopt;
}

DestinationState ArchiveDestination::locate() { return find(true, Settings::readForPass()); }

DestinationState ArchiveDestination::locate(const platform::PreferenceSnapshot& stored) { return find(true, stored); }

DestinationState ArchiveDestination::locate(const platform::PreferenceSnapshot& stored, const ArchiveClaim& claim) {
    return find(true, stored, claim);
}

DestinationState ArchiveDestination::inspect() { return find(false, Settings::readForPass()); }

DestinationState ArchiveDestination::find(bool mayWrite, const platform::PreferenceSnapshot& stored,
                                          const std::optional<ArchiveClaim>& claim) {
    const auto path = stored.string(destinationReference().at(sPrefFolderNameKey)).value_or("");
    // On another machine: no alias data, no mount, nothing adopted; the
    // server's marker alone tells.
    if (RemoteDestination::looksRemote(path)) {
        std::string why;
        const auto remote = RemoteDestination::parse(path, &why);
        if (!remote) return refused(path, kMissing, why);
        return RemoteArchive::locate(*remote, stored.string(kIdKey).value_or(""), claim);
    }
    // Two passes adopting at once would each write a marker of their own.
    static std::mutex writing;
    std::unique_lock lock(writing, std::defer_lock);
    if (mayWrite) lock.lock();
    const FolderLookup found = lookUpFolder(destinationReference(), mayWrite, stored);
    if (!found.path) {
        if (path.empty()) return refused("", kMissing, "no destination folder is chosen");
        if (found.leftBehind && isAnotherDisk(path))
            return refused(path, kForeign, "another disk is mounted where the archive's disk was");
        const bool unmounted = found.leftBehind || found.volumeMissing;
        return refused(path, unmounted ? kNotMounted : kMissing,
                       unmounted ? "its disk is not mounted" : "the folder is gone and its alias data finds nothing");
    }
    DestinationState state = checkIdentity(*found.path, mayWrite, stored);
    // Only in the archive this station chose, as on a server.
    if (state.ready() && claim && mayWrite)
        if (auto why = ArchiveOwners::claim(state.path, *claim)) state = refused(state.path, *why, *why);
    return state;
}
