#pragma once
// The processes whose parent is this process, zombies included: a run that
// has reported its end must have left none behind.

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace testing_support {

// Fields of /proc/<pid>/stat: the state letter, the parent and the process group.
struct ProcStat {
    char state = '?';
    pid_t parent = 0;
    pid_t group = 0;
};

// nullopt once the process is gone (or while it ends, when reading throws).
inline std::optional<ProcStat> procStat(pid_t pid) {
    std::string stat;
    try {
        std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
        stat.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } catch (const std::exception&) {
        return std::nullopt;
    }
    // The command name in parentheses may hold spaces and parentheses.
    const auto close = stat.rfind(')');
    if (close == std::string::npos) return std::nullopt;
    std::istringstream rest(stat.substr(close + 1));
    ProcStat p;
    if (!(rest >> p.state >> p.parent >> p.group)) return std::nullopt;
    return p;
}

// Every process's pid, as /proc lists them.
inline std::vector<pid_t> allProcesses() {
    std::vector<pid_t> pids;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") == std::string::npos) pids.push_back(std::stoi(name));
    }
    return pids;
}

inline std::vector<pid_t> childProcesses() {
    std::vector<pid_t> children;
    for (pid_t pid : allProcesses())
        if (const auto stat = procStat(pid); stat && stat->parent == getpid()) children.push_back(pid);
    return children;
}

} // namespace testing_support
