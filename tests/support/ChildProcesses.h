#pragma once
// The processes whose parent is this process, zombies included: a run that
// has reported its end must have left none behind.

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace testing_support {

inline std::vector<pid_t> childProcesses() {
    std::vector<pid_t> children;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        // A process that ends while its file is read makes the read throw.
        std::string stat;
        try {
            std::ifstream in(entry.path() / "stat");
            stat.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        } catch (const std::exception&) {
            continue;
        }
        // The command name in parentheses may hold spaces and parentheses.
        auto close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(stat.substr(close + 1));
        std::string state;
        pid_t parent = 0;
        if (rest >> state >> parent && parent == getpid()) children.push_back(std::stoi(name));
    }
    return children;
}

} // namespace testing_support
