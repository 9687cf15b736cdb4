#pragma once
// What the destination row stores when the user chooses a folder: its path,
// validity, alias data and the ID of the archive marker written into it.
// Tests that archive need it: a destination without its marker is never
// written into.

#include "platform/preferences/UserDefaults.h"

#include <filesystem>

namespace testing_support {

void chooseDestination(const std::filesystem::path& folder,
                       platform::UserDefaults& prefs = platform::UserDefaults::standard());

} // namespace testing_support
