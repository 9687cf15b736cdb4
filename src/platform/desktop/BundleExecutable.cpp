#include "platform/desktop/BundleExecutable.h"

#include "platform/preferences/Value.h"

#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace platform {
namespace {

fs::path infoPlistOf(const fs::path& bundle) { return bundle / "Contents" / "Info.plist"; }

bool isExecutable(const fs::path& file) { return ::access(file.c_str(), X_OK) == 0; }

} // namespace

fs::path BundleExecutable::absoluteBundlePath(const fs::path& bundle) {
    std::error_code ec;
    fs::path p = fs::absolute(bundle, ec).lexically_normal();
    if (ec) p = bundle.lexically_normal();
    while (!p.has_filename() && p.has_relative_path()) p = p.parent_path();
    return p;
}

std::optional<std::string> BundleExecutable::declaredExecutableName(const fs::path& bundle, std::string* why) {
    std::string error;
    auto info = platform::Value::readPlistFile(infoPlistOf(bundle), &error);
    if (!info) {
        *why = infoPlistOf(bundle).string() + " is unreadable: " + error;
        return std::nullopt;
    }
    const std::string* name = (*info)["CFBundleExecutable"].string();
    // A name with a separator would lead out of Contents/MacOS.
    if (!name || name->empty() || name->find('/') != std::string::npos) {
        *why = infoPlistOf(bundle).string() + " names no CFBundleExecutable";
        return std::nullopt;
    }
    return *name;
}

std::string BundleExecutable::conventionalExecutableName(const fs::path& bundle) {
    const fs::path name = bundle.filename();
    return name.extension() == ".app" ? name.stem().string() : name.string();
}

fs::path BundleExecutable::executablePath(const fs::path& bundle, const std::string& name) {
    return bundle / "Contents" / "MacOS" / name;
}

std::string BundleExecutable::whyNotABundle(const fs::path& bundle) {
    std::error_code ec;
    return fs::is_directory(bundle, ec) ? std::string() : "no application bundle at " + bundle.string();
}

std::string BundleExecutable::whyNotStartable(const fs::path& program) {
    std::error_code ec;
    if (!fs::exists(program, ec)) return "the bundle has no program " + program.string();
    if (!fs::is_regular_file(program, ec) || !isExecutable(program))
        return program.string() + " is not an executable file";
    return {};
}

std::optional<fs::path> BundleExecutable::program(const fs::path& bundle, std::string* why, std::string* note) {
    if (std::string problem = whyNotABundle(bundle); !problem.empty()) {
        *why = problem;
        return std::nullopt;
    }
    std::string notDeclared;
    auto name = declaredExecutableName(bundle, &notDeclared);
    if (!name) {
        name = conventionalExecutableName(bundle);
        if (note) *note = notDeclared + ": trying " + *name;
    }
    fs::path path = executablePath(bundle, *name);
    if (std::string problem = whyNotStartable(path); !problem.empty()) {
        *why = problem;
        return std::nullopt;
    }
    return path;
}

} // namespace platform
