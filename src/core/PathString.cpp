#include "core/PathString.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace PathString {
namespace {

std::string withoutTrailingSeparator(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

} // namespace

std::string expandingTilde(const std::string& path) {
    if (path.empty() || path[0] != '~' || (path.size() > 1 && path[1] != '/')) return path;
    const char* home = std::getenv("HOME");
    if (!home || !*home) return path;
    return withoutTrailingSeparator(home) + path.substr(1);
}

std::string standardizing(const std::string& path) {
    std::string expanded = expandingTilde(path);
    if (expanded.empty()) return expanded;
    return withoutTrailingSeparator(fs::path(expanded).lexically_normal().string());
}

std::string resolvingSymlinks(const std::string& path) {
    std::string expanded = expandingTilde(path);
    if (expanded.empty()) return expanded;
    fs::path p(expanded);
    if (p.is_relative()) return withoutTrailingSeparator(p.lexically_normal().string());
    std::error_code ec;
    fs::path resolved = fs::weakly_canonical(p, ec);
    if (ec) resolved = p.lexically_normal();
    return withoutTrailingSeparator(resolved.string());
}

bool isWithin(const std::string& path, const std::string& folder) {
    if (folder.empty() || path.empty()) return false;
    if (folder == "/") return path.starts_with('/');
    return path.starts_with(folder) && (path.size() == folder.size() || path[folder.size()] == '/');
}

} // namespace PathString
