#pragma once
// The application bundle: Tolv-Archiver.app/Contents/{Info.plist,MacOS,Resources}.

#include "platform/preferences/Value.h"

#include <filesystem>
#include <optional>
#include <string>

namespace platform {

class Bundle {
public:
    // The bundle of the running executable (/proc/self/exe is
    // .../Contents/MacOS/x). The environment variable TOLV_BUNDLE_PATH, when
    // set, names the bundle instead: test programs live outside it.
    static const Bundle& main();
    // The running program's own path; empty when it cannot be told.
    static std::filesystem::path runningExecutable();

    explicit Bundle(std::filesystem::path bundlePath);

    std::filesystem::path bundlePath() const { return path_; }
    std::filesystem::path resourcePath() const { return path_ / "Contents" / "Resources"; }
    std::filesystem::path executableFolder() const { return path_ / "Contents" / "MacOS"; }
    // name.type in Contents/Resources, when it exists.
    std::optional<std::filesystem::path> pathForResource(const std::string& name, const std::string& type) const;
    // An executable in Contents/MacOS, when it exists.
    std::optional<std::filesystem::path> pathForAuxiliaryExecutable(const std::string& name) const;
    // Info.plist as a dictionary (empty when unreadable).
    const Value::Dictionary& infoDictionary() const { return info_; }
    std::string infoString(const std::string& key) const;

private:
    std::filesystem::path path_;
    Value::Dictionary info_;
};

} // namespace platform
