#include "core/MyAliasKit.h"
#include "core/Settings.h"

#include "platform/alias/Alias.h"
#include "platform/runtime/Log.h"

#include <new>

using platform::logf;

std::optional<MyAliasKit::Data> MyAliasKit::aliasDataForAliasHandle(AliasHandle handle) {
    if (!handle) return std::nullopt;
    return Data(handle->begin(), handle->end());
}

std::optional<MyAliasKit::Data> MyAliasKit::aliasDataForPath(const std::string& path) {
    if (path.empty()) return std::nullopt;
    auto record = platform::Alias::make(path);
    if (!record) return std::nullopt;
    return aliasDataForAliasHandle(&*record);
}

bool MyAliasKit::resolveAliasFromData(const Data* data, std::string* resolvedPath, std::optional<Data>* changedData) {
    return resolveAliasFromData(data, resolvedPath, changedData, nullptr);
}

bool MyAliasKit::resolveAliasFromData(const Data* data, std::string* resolvedPath, std::optional<Data>* changedData,
                                      bool* volumeMissing) {
    if (volumeMissing) *volumeMissing = false;
    if (!data) return false;
    std::optional<Data> handle;
    try {
        handle = aliasDataForAliasHandle(data);
    } catch (const std::bad_alloc&) {
        logf("Inside MyAliasKit - FAILED in PtrToHand...");
        return false;
    }
    const auto resolution = platform::Alias::resolve(*handle);
    if (!resolution.resolved) {
        if (volumeMissing) *volumeMissing = resolution.error == platform::Alias::Error::VolumeMissing;
        logf("error is %s", resolution.reason.c_str());
        logf("Inside MyAliasKit - FAILED in FSResolveAliasWithMountFlags... err=[0x%02x]",
             static_cast<unsigned>(resolution.error));
        return false;
    }
    if (changedData && resolution.changed) *changedData = resolution.changedData;
    if (resolvedPath) *resolvedPath = resolution.path;
    return true;
}

bool MyAliasKit::resolveAliasFromData(const Data* data, std::string* resolvedPath) {
    return resolveAliasFromData(data, resolvedPath, nullptr);
}

void MyAliasKit::savePath(const std::string& path, const std::string& key) {
    logf("Inside MyAliasKit => savePath...withPath=[%s] forKey=[%s]", path.c_str(), key.c_str());
    auto data = aliasDataForPath(path);
    if (!data) {
        logf("Inside MyAliasKit => savePath... aliasDataForPath returned NIL?????? ");
        return;
    }
    Settings::store(key, platform::Value(std::move(*data)));
}
