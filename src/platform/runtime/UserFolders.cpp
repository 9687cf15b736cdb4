#include "platform/runtime/UserFolders.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace platform::UserFolders {

std::filesystem::path home() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    passwd entry{}, *found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found) return found->pw_dir;
    return "/";
}

std::filesystem::path config() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') return xdg;
    return home() / ".config";
}

} // namespace platform::UserFolders
