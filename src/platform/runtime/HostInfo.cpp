#include "platform/runtime/HostInfo.h"

#include <fstream>
#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace platform {

std::optional<std::string> HostInfo::machineModel() {
    std::ifstream in("/sys/devices/virtual/dmi/id/product_name");
    std::string name;
    if (!in || !std::getline(in, name)) return std::nullopt;
    while (!name.empty() && (name.back() == ' ' || name.back() == '\r' || name.back() == '\t')) name.pop_back();
    if (name.empty()) return std::nullopt;
    return name;
}

std::optional<std::string> HostInfo::architecture() {
    struct utsname u {};
    if (uname(&u) != 0 || !*u.machine) return std::nullopt;
    return std::string(u.machine);
}

std::string HostInfo::stationName() {
    const passwd* pw = getpwuid(getuid());
    std::string user = pw && pw->pw_name ? pw->pw_name : std::to_string(getuid());
    struct utsname u {};
    const std::string host = uname(&u) == 0 && *u.nodename ? u.nodename : "unknown";
    return user + "@" + host;
}

} // namespace platform
