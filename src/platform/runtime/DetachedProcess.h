#pragma once
// Starts a program that must outlive this process (the relaunch tool, an
// application a tool starts): in a session of its own, outside the group of
// children that end with the application, in "/", with standard input from
// /dev/null, default signal handling and no inherited descriptor above
// standard error, so nothing of the starter's state but its environment and
// its standard output and error reaches it. Not waited for, though reaped
// so it leaves no zombie.

#include <string>
#include <sys/types.h>
#include <vector>

namespace platform {

class DetachedProcess {
public:
    // The pid, or -1 (logged, and why in *error) when the program could not be started.
    static pid_t start(const std::string& path, const std::vector<std::string>& arguments,
                       std::string* error = nullptr);
};

} // namespace platform
