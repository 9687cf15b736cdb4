#pragma once
// A child that lists names, NUL-terminated, on its standard output (bfs
// with -print0), read while it runs. Names may hold newlines; only NUL
// cannot be part of one.

#include "platform/runtime/Task.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace NameWalk {

// Runs the tool in folder, hands `take` every name it prints, and returns
// how it ended once it has; nullopt when there is no pipe, and then no walk.
// A name cut off by a walk that died mid-write is dropped: it may name
// another file. Blocks the calling thread.
std::optional<platform::Task::Termination> run(const std::string& tool, const std::vector<std::string>& arguments,
                                               const std::string& folder, const std::function<void(std::string)>& take);

// The same, keeping the names.
std::optional<std::vector<std::string>> collect(const std::string& tool, const std::vector<std::string>& arguments,
                                                const std::string& folder);

} // namespace NameWalk
