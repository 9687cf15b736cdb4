#include "pass/FolderChoice.h"

#include "core/ArchiveOwners.h"
#include "core/PreferencesHealth.h"
#include "core/Settings.h"

#include "core/ArchiveDestination.h"
#include "core/MyAliasKit.h"
#include "core/RemoteArchive.h"
#include "core/RemoteDestination.h"
#include "platform/runtime/Log.h"
#include "pass/FolderSlotRules.h"
#include "core/PathString.h"

#include <filesystem>

namespace FolderChoice {

namespace {

// A source whose archive folder on this destination another station
// archives into would mix its photos into that station's. On a server the
// folder is claimed for this station at once (one ssh session); a server
// that does not answer now refuses nothing here, and its pass asks again.
std::optional<std::string> anotherStationsArchive(int slot, const std::string& path) {
    if (slot == CommonHeader::kDestinationSlot) return std::nullopt;
    const auto destination = Settings::folder(CommonHeader::kDestinationSlot).path;
    if (!destination || destination->empty()) return std::nullopt;
    if (!RemoteDestination::looksRemote(*destination))
        return ArchiveOwners::refusal(*destination, FolderSlotRules::archiveName(path));
    const auto server = RemoteDestination::parse(*destination);
    const auto id = Settings::storedString(ArchiveDestination::kIdKey).value_or("");
    if (!server || id.empty()) return std::nullopt;
    const auto state = RemoteArchive::locate(*server, id, ArchiveClaim{FolderSlotRules::archiveName(path), slot});
    if (RemoteArchive::isClaimProblem(state.problem)) return state.problem;
    return std::nullopt;
}

} // namespace

std::optional<std::string> choose(int slot, const std::string& path, const ParamDictionary& keys) {
    const std::string pathKey = CommonHeader::param(keys, sPrefFolderNameKey);
    const std::string validKey = CommonHeader::param(keys, sPrefFolderNameIsValidKey);
    const std::string aliasKey = CommonHeader::param(keys, sPrefFolderAliasDataKey);
    if (pathKey.empty() || validKey.empty() || aliasKey.empty()) {
        platform::logf("no folder key in %s; nothing stored", CommonHeader::describe(keys).c_str());
        return "the slot has no folder keys";
    }
    if (auto why = FolderSlotRules::refusal(slot, path, FolderSlotRules::Others::All)) return why;
    if (auto why = anotherStationsArchive(slot, path)) return why;
    // The destination is the archive only with its marker in it: a folder
    // that cannot take one is not chosen.
    ArchiveDestination::Marking marking;
    if (slot == CommonHeader::kDestinationSlot) {
        marking = ArchiveDestination::mark(path);
        if (!marking.error.empty()) return marking.error;
    }
    // The order matters to whoever follows these keys: path, validity, alias data, archive ID, enable.
    Settings::store(pathKey, platform::Value(path));
    Settings::store(validKey, platform::Value(true));
    // A folder on another machine has no alias data: it is found by its name alone.
    if (RemoteDestination::looksRemote(path))
        Settings::forget(aliasKey);
    else MyAliasKit::savePath(path, aliasKey);
    if (!marking.id.empty()) ArchiveDestination::remember(marking.id);
    if (auto enableKey = CommonHeader::param(keys, sPrefCameraFolderPathEnableKey); !enableKey.empty())
        Settings::store(enableKey, platform::Value(true));
    PreferencesHealth::foldersChosen();
    return std::nullopt;
}

std::optional<std::string> typedFolder(const std::string& typed) {
    const std::string path = PathString::expandingTilde(typed);
    std::error_code ec;
    if (path.empty() || !std::filesystem::is_directory(path, ec)) return std::nullopt;
    return path;
}

std::optional<std::string> typedPath(int slot, const std::string& typed, std::string* why) {
    // Only the destination may be on another machine: the sources are watched here.
    if (slot == CommonHeader::kDestinationSlot && RemoteDestination::looksRemote(typed)) {
        std::string problem;
        const auto remote = RemoteDestination::parse(typed, &problem);
        if (remote) return remote->text();
        *why = "It is not a folder on a server (" + problem + ").";
        return std::nullopt;
    }
    const auto path = typedFolder(typed);
    if (!path) *why = kNoFolder;
    return path;
}

std::optional<std::string> chooseTyped(int slot, const std::string& typed) {
    std::string why;
    const auto path = typedPath(slot, typed, &why);
    if (!path) return why;
    return choose(slot, *path, CommonHeader::folderReferenceParameters(CommonHeader::slotParameters(slot)));
}

} // namespace FolderChoice
