#include "platform/runtime/SearchPath.h"

#include <cstdlib>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

// As the C library's execvp falls back to when PATH is unset.
constexpr const char* kDefaultSearchPath = "/bin:/usr/bin";

bool isExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

} // namespace

std::optional<std::string> SearchPath::find(const std::string& program) {
    if (program.empty()) return std::nullopt;
    if (program.find('/') != std::string::npos) {
        if (isExecutableFile(program)) return program;
        return std::nullopt;
    }
    const char* variable = std::getenv("PATH");
    std::string_view folders = variable ? variable : kDefaultSearchPath;
    while (true) {
        size_t colon = folders.find(':');
        std::string_view folder = folders.substr(0, colon);
        // An empty entry means the current directory, whose meaning changes
        // with every child's working directory: never a place to start one from.
        if (!folder.empty() && folder.front() == '/') {
            std::string candidate = std::string(folder) + (folder.back() == '/' ? "" : "/") + program;
            if (isExecutableFile(candidate)) return candidate;
        }
        if (colon == std::string_view::npos) break;
        folders.remove_prefix(colon + 1);
    }
    return std::nullopt;
}

} // namespace platform
