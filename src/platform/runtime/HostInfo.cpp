#include "platform/runtime/HostInfo.h"

#include <fstream>
#include <sys/utsname.h>

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

} // namespace platform
