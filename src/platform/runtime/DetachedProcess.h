#pragma once
// Starts a program that must outlive this process (the relaunch tool): in a
// session of its own, outside the group of children that end with the
// application, and not waited for, though reaped so it leaves no zombie.

#include <string>
#include <sys/types.h>
#include <vector>

namespace platform {

class DetachedProcess {
public:
    // The pid, or -1 (logged) when the program could not be started.
    static pid_t start(const std::string& path, const std::vector<std::string>& arguments);
};

} // namespace platform
