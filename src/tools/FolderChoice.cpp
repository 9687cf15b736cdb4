#include "tools/FolderChoice.h"

#include "core/ArchiveDestination.h"
#include "core/MyAliasKit.h"
#include "platform/preferences/UserDefaults.h"
#include "platform/runtime/Log.h"
#include "tools/FolderSlotRules.h"
#include "tools/PathString.h"

#include <filesystem>

namespace FolderChoice {

std::optional<std::string> choose(int slot, const std::string& path, const ParamDictionary& keys) {
    const std::string pathKey = CommonHeader::param(keys, sPrefFolderNameKey);
    const std::string validKey = CommonHeader::param(keys, sPrefFolderNameIsValidKey);
    const std::string aliasKey = CommonHeader::param(keys, sPrefFolderAliasDataKey);
    if (pathKey.empty() || validKey.empty() || aliasKey.empty()) {
        platform::logf("no folder key in %s; nothing stored", CommonHeader::describe(keys).c_str());
        return "the slot has no folder keys";
    }
    if (auto why = FolderSlotRules::refusal(slot, path, FolderSlotRules::Others::All)) return why;
    // The destination is the archive only with its marker in it: a folder
    // that cannot take one is not chosen.
    ArchiveDestination::Marking marking;
    if (slot == CommonHeader::kDestinationSlot) {
        marking = ArchiveDestination::mark(path);
        if (!marking.error.empty()) return marking.error;
    }
    // The order matters to whoever follows these keys: path, validity, alias data, archive ID, enable.
    auto& prefs = platform::UserDefaults::standard();
    prefs.setObject(pathKey, platform::Value(path));
    prefs.setBool(validKey, true);
    MyAliasKit::savePath(path, aliasKey);
    if (!marking.id.empty()) ArchiveDestination::remember(marking.id);
    if (auto enableKey = CommonHeader::param(keys, sPrefCameraFolderPathEnableKey); !enableKey.empty())
        prefs.setBool(enableKey, true);
    return std::nullopt;
}

std::optional<std::string> typedFolder(const std::string& typed) {
    const std::string path = PathString::expandingTilde(typed);
    std::error_code ec;
    if (path.empty() || !std::filesystem::is_directory(path, ec)) return std::nullopt;
    return path;
}

std::optional<std::string> chooseTyped(int slot, const std::string& typed) {
    const auto path = typedFolder(typed);
    if (!path) return kNoFolder;
    return choose(slot, *path, CommonHeader::folderReferenceParameters(CommonHeader::slotParameters(slot)));
}

} // namespace FolderChoice
