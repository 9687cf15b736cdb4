#pragma once
// What the machine says about itself, for the banner of the log file.

#include <optional>
#include <string>

namespace platform {

class HostInfo {
public:
    // The firmware's product name (DMI), such as "ThinkPad X1 Carbon";
    // nullopt where the machine reports none.
    static std::optional<std::string> machineModel();
    // The kernel's machine name, such as "x86_64".
    static std::optional<std::string> architecture();
    // "user@host", naming this account on this machine to other machines.
    static std::string stationName();
};

} // namespace platform
