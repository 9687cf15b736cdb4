#include "relaunch/BundleExecutable.h"

#include "platform/preferences/Value.h"

#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace relaunch {
namespace {

fs::path infoPlistOf(const fs::path& bundle) { return bundle / "Contents" / "Info.plist"; }

bool isExecutable(const fs::path& file) { return ::access(file.c_str(), X_OK) == 0; }

} // namespace

fs::path absoluteBundlePath(const fs::path& bundle) {
    std::error_code ec;
    fs::path p = fs::absolute(bundle, ec).lexically_normal();
    if (ec) p = bundle.lexically_normal();
    while (!p.has_filename() && p.has_relative_path()) p = p.parent_path();
    return p;
}

std::optional<std::string> declaredExecutableName(const fs::path& bundle, std::string* why) {
    std::string error;
    auto info = platform::Value::readPlistFile(infoPlistOf(bundle), &error);
    if (!info) {
        *why = infoPlistOf(bundle).string() + " is unreadable: " + error;
        return std::nullopt;
    }
    const std::string* name = (*info)["CFBundleExecutable"].string();
    if (!name || name->empty()) {
        *why = infoPlistOf(bundle).string() + " names no CFBundleExecutable";
        return std::nullopt;
    }
    return *name;
}

std::string conventionalExecutableName(const fs::path& bundle) {
    const fs::path name = bundle.filename();
    return name.extension() == ".app" ? name.stem().string() : name.string();
}

fs::path executablePath(const fs::path& bundle, const std::string& name) {
    return bundle / "Contents" / "MacOS" / name;
}

std::string whyNotABundle(const fs::path& bundle) {
    std::error_code ec;
    return fs::is_directory(bundle, ec) ? std::string() : "no application bundle at " + bundle.string();
}

std::string whyNotStartable(const fs::path& program) {
    std::error_code ec;
    if (!fs::exists(program, ec)) return "the bundle has no program " + program.string();
    if (!fs::is_regular_file(program, ec) || !isExecutable(program))
        return program.string() + " is not an executable file";
    return {};
}

} // namespace relaunch
