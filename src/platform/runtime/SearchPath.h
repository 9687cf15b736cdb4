#pragma once
// Finds a program the way a shell would, through the PATH environment
// variable, so a child can be started by its absolute path.

#include <optional>
#include <string>

namespace platform {

class SearchPath {
public:
    SearchPath() = delete;

    // The first executable regular file called `program` in the absolute
    // folders of PATH (the system's default folders when PATH is unset), or
    // nullopt.
    // A name with a slash is returned as it stands when executable.
    static std::optional<std::string> find(const std::string& program);
};

} // namespace platform
