#pragma once
// An XDG autostart entry: a desktop entry in $XDG_CONFIG_HOME/autostart
// (~/.config/autostart without it) whose command the desktop session runs
// at login. Only the file of the given name is written or removed.

#include <filesystem>
#include <string>
#include <vector>

namespace platform {

class Autostart {
public:
    explicit Autostart(std::string fileName); // "tolv-archiver.desktop"

    std::filesystem::path file() const;
    // The entry is there and not hidden.
    bool enabled() const;
    // Writes the entry atomically; false with *error when it cannot.
    bool enable(const std::string& displayName, const std::vector<std::string>& command, std::string* error) const;
    // Removes the entry; an absent one is no error.
    bool disable(std::string* error) const;

    // The command as a desktop entry's Exec value: each word quoted, with
    // the entry's escapes; "" when a word holds a newline, which no entry
    // can carry.
    static std::string execLine(const std::vector<std::string>& command);

private:
    std::string fileName_;
};

} // namespace platform
