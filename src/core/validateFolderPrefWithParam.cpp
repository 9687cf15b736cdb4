#include "core/validateFolderPrefWithParam.h"

#include "core/Settings.h"

#include "core/MyAliasKit.h"
#include "platform/alias/Alias.h"
#include "platform/runtime/Log.h"
#include "platform/preferences/UserDefaults.h"

#include <filesystem>

using platform::logf;
using platform::UserDefaults;
using platform::Value;

namespace {

bool isDirectory(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::is_directory(path, ignored);
}

// A volume's mount point stays behind as an empty folder when the volume is
// unmounted; a folder on another volume than the alias data names is such
// a leftover, not the user's folder, and archiving into it (or deleting
// sources whose only copy went there) would be wrong.
bool isTheUsersFolder(const std::string& path, const MyAliasKit::Data* alias) {
    if (!isDirectory(path)) return false;
    if (!alias || platform::Alias::compareVolume(*alias, path) != platform::Alias::VolumeCheck::Different) return true;
    logf("Inside validateFolderPrefWithParam => %s lies on another volume than its alias data names", path.c_str());
    return false;
}

void store(const std::string& key, const Value& value) {
    if (!key.empty()) UserDefaults::standard().setObject(key, value);
}

} // namespace

bool validateFolderPrefWithParam(const ParamDictionary& params) { return validatedFolderPath(params).has_value(); }

std::optional<std::string> validatedFolderPath(const ParamDictionary& params) { return lookUpFolder(params, true).path; }

std::optional<std::string> validatedFolderPath(const ParamDictionary& params,
                                               const platform::PreferenceSnapshot& stored) {
    return lookUpFolder(params, true, stored).path;
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
    if (isTheUsersFolder(*path, aliasValue.data())) {
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
