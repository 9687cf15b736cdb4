#pragma once
// Whether the user's preferences were lost to a damaged file. A start that
// finds the file damaged keeps it aside and begins with empty settings;
// that must not look like a station that has nothing to archive. The loss
// is remembered in the new file until a folder is chosen again, so every
// later start, the rows and --status keep saying so.

#include <string>

namespace PreferencesHealth {

// "preferences damaged: <reason>", or "" when they are sound.
std::string problem();
// At a start that may write: a damage just found is remembered and logged
// as an error.
void noteAtStart();
// A folder was chosen: the user has set the station up again.
void foldersChosen();

} // namespace PreferencesHealth
