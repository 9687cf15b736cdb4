#pragma once
// One selection of files or folders by type, name, age and depth, and the
// argument vector of the find tool that carries it out.

#include "platform/runtime/DateFormat.h"
#include "platform/runtime/NotificationCenter.h"

#include <optional>
#include <string>
#include <variant>
#include <vector>

struct FindRequest {
    // What find does with each selected item: nothing (it prints the path),
    // run one program with the item's path as argument, or further
    // primaries appended as they stand.
    using Command = std::variant<std::monostate, std::string, std::vector<std::string>>;

    std::string path; // searched folder and the child's working directory
    std::optional<std::string> fileType;
    std::vector<std::string> patterns; // matched case-insensitively, any of them
    std::optional<unsigned> daysOld;   // birth time not newer than this many days ago
    std::optional<unsigned> minModTime; // modified more than this many minutes ago
    std::optional<unsigned> maxDepth;
    Command command;
    platform::Object context; // handed back when the run ends

    // The arguments that follow the tool path. The birth-time limit is
    // placed relative to now.
    std::vector<std::string> arguments(platform::Date now) const;
    // A run that performs "rm" or "rmdir" (any case) ends without a notification.
    bool isRemoval() const;
    // The command as log lines show it.
    std::string describeCommand() const;
};
