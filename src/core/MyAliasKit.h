#pragma once
// Alias data of the folders the user chooses: made from a path, resolved
// back to the folder's current path, stored in the preferences. Class
// operations only; the alias records themselves are platform::Alias.

#include "platform/preferences/Value.h"

#include <optional>
#include <string>

class MyAliasKit {
public:
    using Data = platform::Value::Data;
    // Alias records live in plain byte buffers here, so a handle is just
    // the buffer that holds one.
    using AliasHandle = const Data*;

    MyAliasKit() = delete;

    // A copy of the handle's bytes; none for no handle.
    static std::optional<Data> aliasDataForAliasHandle(AliasHandle handle);
    // None for an empty or missing path.
    static std::optional<Data> aliasDataForPath(const std::string& path);
    // YES when the data resolves; then *resolvedPath gets the target's
    // current path and, when the record had to be brought up to date,
    // *changedData the fresh record (left alone otherwise). Either
    // out-parameter may be null; so may data.
    static bool resolveAliasFromData(const Data* data, std::string* resolvedPath, std::optional<Data>* changedData);
    // The same, telling in *volumeMissing whether it failed because the
    // folder's volume is not mounted anywhere.
    static bool resolveAliasFromData(const Data* data, std::string* resolvedPath, std::optional<Data>* changedData,
                                     bool* volumeMissing);
    static bool resolveAliasFromData(const Data* data, std::string* resolvedPath);
    // Stores the path's alias data under key; when none can be made, the
    // data stored before stays.
    static void savePath(const std::string& path, const std::string& key);
};
