#include "core/validateFolderPrefWithParam.h"

#include "core/Settings.h"

#include "core/MyAliasKit.h"
#include "platform/alias/Alias.h"
#include "platform/runtime/Log.h"

#include <filesystem>

using platform::logf;
using platform::Value;

namespace {

bool isDirectory(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::is_directory(path, ignored);
}

// A volume's mount point stays behind as an empty folder when the volume is
// unmounted. The destination is one disk: a folder on another volume than
// the alias data names is such a leftover, and archiving into it would be
// wrong. A source is a place: whatever card or disk is mounted where the
// chosen folder's was (another card, the same one again) is the source;
// only the leftover folder below that place, with nothing mounted, is not.
bool leftBehind(const std::string& path, const MyAliasKit::Data& alias, bool destination) {
    using platform::Alias;
    const auto check = destination ? Alias::compareVolume(alias, path) : Alias::compareMountPlace(alias, path);
    return check == Alias::VolumeCheck::Different;
}

bool isTheUsersFolder(const std::string& path, const MyAliasKit::Data* alias, bool destination) {
    if (!isDirectory(path)) return false;
    if (!alias || !leftBehind(path, *alias, destination)) return true;
    if (destination)
        logf("Inside validateFolderPrefWithParam => %s lies on another volume than its alias data names", path.c_str());
    else
        logf("Inside validateFolderPrefWithParam => nothing is mounted where %s was", path.c_str());
    return false;
}

bool namesDestination(const std::string& pathKey) {
    const auto destination = CommonHeader::folderReferenceParameters(CommonHeader::slotParameters(CommonHeader::kDestinationSlot));
    return pathKey == CommonHeader::param(destination, sPrefFolderNameKey);
}

void store(const std::string& key, const Value& value) {
    if (!key.empty()) Settings::store(key, value);
}

} // namespace

bool validateFolderPrefWithParam(const ParamDictionary& params) { return validatedFolderPath(params).has_value(); }

std::optional<std::string> validatedFolderPath(const ParamDictionary& params) { return lookUpFolder(params, true).path; }

std::optional<std::string> validatedFolderPath(const ParamDictionary& params,
                                               const platform::PreferenceSnapshot& stored) {
    return lookUpFolder(params, true, stored).path;
}

bool folderIsInPlace(const ParamDictionary& params, const platform::PreferenceSnapshot& stored) {
    const std::string pathKey = CommonHeader::param(params, sPrefFolderNameKey);
    const std::string aliasKey = CommonHeader::param(params, sPrefFolderAliasDataKey);
    const auto path = pathKey.empty() ? std::nullopt : stored.string(pathKey);
    if (!path || !isDirectory(*path)) return false;
    const Value alias = aliasKey.empty() ? Value() : stored.object(aliasKey);
    return !alias.data() || !leftBehind(*path, *alias.data(), namesDestination(pathKey));
}

FolderLookup lookUpFolder(const ParamDictionary& params, bool repair) {
    return lookUpFolder(params, repair, Settings::readForPass());
}

FolderLookup lookUpFolder(const ParamDictionary& params, bool repair, const platform::PreferenceSnapshot& stored) {
    logf("Inside validateFolderPrefWithParam withParameter = %s", CommonHeader::describe(params).c_str());
    const std::string pathKey = CommonHeader::param(params, sPrefFolderNameKey);
    const std::string validKey = CommonHeader::param(params, sPrefFolderNameIsValidKey);
    const std::string aliasKey = CommonHeader::param(params, sPrefFolderAliasDataKey);
    const auto path = pathKey.empty() ? std::nullopt : stored.string(pathKey);
    const Value aliasValue = aliasKey.empty() ? Value() : stored.object(aliasKey);
    if (!aliasValue.isNone() && !aliasValue.isData())
        logf("Inside validateFolderPrefWithParam => the value under %s is not alias data", aliasKey.c_str());

    FolderLookup found;
    if (!path) return found;
    if (isTheUsersFolder(*path, aliasValue.data(), namesDestination(pathKey))) {
        // A folder that was missing and is back is valid again: the flag is
        // what the rows and --status show.
        if (repair && !validKey.empty() && !stored.object(validKey).toBool()) store(validKey, Value(true));
        found.path = path;
        return found;
    }
    found.leftBehind = isDirectory(*path);

    std::string resolved;
    bool volumeMissing = false;
    if (MyAliasKit::resolveAliasFromData(aliasValue.data(), &resolved, nullptr, &volumeMissing)) {
        if (repair) {
            store(validKey, Value(true));
            store(pathKey, Value(resolved));
        }
        found.path = resolved;
        return found;
    }
    if (repair) store(validKey, Value(false));
    found.volumeMissing = volumeMissing;
    return found;
}
