#pragma once
// Checks one persisted folder reference before its folder is used, and
// repairs the stored path from the alias data when the folder has moved.

#include "core/CommonHeader.h"
#include "platform/preferences/PreferenceSnapshot.h"

#include <optional>
#include <string>

// YES when, after the call, the stored path can be used. Safe on any thread.
bool validateFolderPrefWithParam(const ParamDictionary& params);

// The same check, giving the usable path (the stored one, or the one the
// alias data resolved to and that is now stored), or nullopt.
std::optional<std::string> validatedFolderPath(const ParamDictionary& params);
// The same from stored values already read (repairs still go to the store).
std::optional<std::string> validatedFolderPath(const ParamDictionary& params, const platform::PreferenceSnapshot& stored);

// What looking for a referenced folder found: its usable path, or why there
// is none. With repair, a moved folder's new path is stored as validation
// stores it; without, nothing is written (a report that only looks).
struct FolderLookup {
    std::optional<std::string> path;
    bool leftBehind = false;    // the stored path is a folder, but not on the volume the alias data names
    bool volumeMissing = false; // the alias data's volume is not mounted anywhere
};
FolderLookup lookUpFolder(const ParamDictionary& params, bool repair);
// Whether the stored path is the folder as it stands: a folder there (for
// a source, with something mounted where it was). A quick look that
// searches nothing, logs nothing and writes nothing, for checking often
// whether a missing folder is back.
bool folderIsInPlace(const ParamDictionary& params, const platform::PreferenceSnapshot& stored);
FolderLookup lookUpFolder(const ParamDictionary& params, bool repair, const platform::PreferenceSnapshot& stored);
