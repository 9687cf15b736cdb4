#pragma once
// The program of an application bundle: <bundle>/Contents/MacOS/ followed by
// the CFBundleExecutable of <bundle>/Contents/Info.plist, or by convention
// the bundle's name without ".app".

#include <filesystem>
#include <optional>
#include <string>

namespace relaunch {

// An absolute path without "." or ".." parts or a trailing slash, so the
// program path stays right after the started program's move to "/".
std::filesystem::path absoluteBundlePath(const std::filesystem::path& bundle);

// The name Info.plist gives, or nullopt with *why when the list cannot be
// read or holds no non-empty string under CFBundleExecutable.
std::optional<std::string> declaredExecutableName(const std::filesystem::path& bundle, std::string* why);

// "Tolv-Archiver" for ".../Tolv-Archiver.app".
std::string conventionalExecutableName(const std::filesystem::path& bundle);

std::filesystem::path executablePath(const std::filesystem::path& bundle, const std::string& name);

// What is wrong with the bundle or its program: "" when it is a folder, or
// an executable file, as it should be.
std::string whyNotABundle(const std::filesystem::path& bundle);
std::string whyNotStartable(const std::filesystem::path& program);

} // namespace relaunch
