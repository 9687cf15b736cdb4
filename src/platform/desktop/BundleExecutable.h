#pragma once
// The program of an application bundle: <bundle>/Contents/MacOS/ followed by
// the CFBundleExecutable of <bundle>/Contents/Info.plist, or by convention
// the bundle's name without ".app".

#include <filesystem>
#include <optional>
#include <string>

namespace platform {

struct BundleExecutable {
    // An absolute path without "." or ".." parts or a trailing slash, so the
    // program path stays right after the started program's move to "/".
    static std::filesystem::path absoluteBundlePath(const std::filesystem::path& bundle);

    // The name Info.plist gives, or nullopt with *why when the list cannot be
    // read or holds no usable name under CFBundleExecutable.
    static std::optional<std::string> declaredExecutableName(const std::filesystem::path& bundle, std::string* why);
    // "Tolv-Archiver" for ".../Tolv-Archiver.app".
    static std::string conventionalExecutableName(const std::filesystem::path& bundle);
    static std::filesystem::path executablePath(const std::filesystem::path& bundle, const std::string& name);

    // What is wrong with the bundle or its program: "" when it is a folder, or
    // an executable file, as it should be.
    static std::string whyNotABundle(const std::filesystem::path& bundle);
    static std::string whyNotStartable(const std::filesystem::path& program);

    // The startable program of the bundle, by its declared name or else by
    // convention (*note then says why); nullopt with *why otherwise.
    static std::optional<std::filesystem::path> program(const std::filesystem::path& bundle, std::string* why,
                                                        std::string* note = nullptr);
};

} // namespace platform
