#include "platform/desktop/Bundle.h"

#include "platform/runtime/Log.h"

#include <cstdlib>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace platform {
namespace {

// The executable lives in <bundle>/Contents/MacOS; an executable outside a
// bundle (a test program) takes its own folder as the bundle.
fs::path bundleOfExecutable() {
    const fs::path exe = Bundle::runningExecutable();
    std::error_code ec;
    if (exe.empty()) return fs::current_path(ec);
    fs::path macos = exe.parent_path();
    if (macos.filename() == "MacOS" && macos.parent_path().filename() == "Contents")
        return macos.parent_path().parent_path();
    return macos;
}

bool isExecutableFile(const fs::path& p) {
    std::error_code ec;
    return fs::is_regular_file(p, ec) && access(p.c_str(), X_OK) == 0;
}

} // namespace

fs::path Bundle::runningExecutable() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path() : exe;
}

const Bundle& Bundle::main() {
    static const Bundle bundle([] {
        const char* env = std::getenv("TOLV_BUNDLE_PATH");
        return (env && *env) ? fs::path(env) : bundleOfExecutable();
    }());
    return bundle;
}

Bundle::Bundle(fs::path bundlePath) : path_(std::move(bundlePath)) {
    std::string error;
    auto info = Value::readPlistFile(path_ / "Contents" / "Info.plist", &error);
    if (info && info->dictionary())
        info_ = *info->dictionary();
    else
        logf("Bundle at %s has no readable Info.plist: %s", path_.c_str(), error.c_str());
}

std::optional<fs::path> Bundle::pathForResource(const std::string& name, const std::string& type) const {
    fs::path p = resourcePath() / (type.empty() ? name : name + "." + type);
    std::error_code ec;
    if (fs::exists(p, ec)) return p;
    return std::nullopt;
}

std::optional<fs::path> Bundle::pathForAuxiliaryExecutable(const std::string& name) const {
    fs::path p = executableFolder() / name;
    if (isExecutableFile(p)) return p;
    return std::nullopt;
}

std::string Bundle::infoString(const std::string& key) const {
    auto it = info_.find(key);
    if (it == info_.end()) return {};
    auto s = it->second.toString();
    return s ? *s : std::string();
}

} // namespace platform
