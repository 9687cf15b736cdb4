#pragma once
// Where this user's files go, as the XDG base-directory convention says.

#include <filesystem>

namespace platform::UserFolders {

// $HOME, else the passwd database's home, else "/".
std::filesystem::path home();
// $XDG_CONFIG_HOME when absolute (relative values are to be ignored), else home()/.config.
std::filesystem::path config();

} // namespace platform::UserFolders
