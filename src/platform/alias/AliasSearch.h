#pragma once
// A breadth-first search of one volume's folder tree for an item by its
// identity, bounded by depth and by the number of entries read, so a lost
// folder costs a known amount of work at most.

#include "platform/alias/FileIdentity.h"

#include <cstddef>
#include <optional>
#include <string>

namespace platform {

class AliasSearch {
public:
    struct Bounds {
        std::size_t maxEntries;
        int maxDepth; // levels below a search root
    };

    AliasSearch(FileIdentity target, Bounds bounds);

    // Searches below root, staying on root's device and leaving out the
    // subtree at skip (already searched). Symbolic links are not followed.
    std::optional<std::string> below(const std::string& root, const std::string& skip = {});

    std::size_t entriesVisited() const { return visited_; }
    bool exhausted() const { return visited_ >= bounds_.maxEntries; }

private:
    struct Folder {
        std::string path;
        int depth;
    };
    // Reads one folder; queues its subfolders. Returns the path of the
    // target when the folder holds it.
    std::optional<std::string> scan(const Folder& folder, std::uint64_t device, const std::string& skip,
                                    std::vector<Folder>& next);

    FileIdentity target_;
    Bounds bounds_;
    std::size_t visited_ = 0;
};

} // namespace platform
