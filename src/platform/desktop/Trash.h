#pragma once
// The user's trash as freedesktop.org lays it out: $XDG_DATA_HOME/Trash with
// the items in files/ and one info/<name>.trashinfo per item, which records
// where the item came from and when it was trashed.

#include <filesystem>
#include <optional>
#include <string>

namespace platform {

class Trash {
public:
    // ${XDG_DATA_HOME:-$HOME/.local/share}/Trash, which need not exist yet;
    // nullopt when no home folder is known.
    static std::optional<std::filesystem::path> homeTrash();
    // The folder that holds the trashed items themselves.
    static std::optional<std::filesystem::path> filesFolder();
    // Whether an item or its info file already uses that name.
    static bool contains(const std::string& name);
    // Moves the item into the trash under that name. Never replaces anything:
    // a taken name, like any other failure, returns false and says why.
    static bool moveItem(const std::filesystem::path& item, const std::string& name, std::string* error = nullptr);
};

} // namespace platform
