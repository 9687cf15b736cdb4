#pragma once
// Choosing a slot's folder, as the window's row and the command line both
// do it: the slot rules first, then for the destination its archive marker,
// then the path, its validity, its alias data (so a later move is followed)
// and the archive's ID, in that order.

#include "core/CommonHeader.h"

#include <optional>
#include <string>

namespace FolderChoice {

// Why the folder at path cannot be the slot's (no folder there, a rule, or
// a destination that cannot take its marker), or nullopt once stored under
// keys (the roles of CommonHeader::folderReferenceParameters, and an enable
// key when the switch is to be set too).
std::optional<std::string> choose(int slot, const std::string& path, const ParamDictionary& keys);

// The folder a typed path names ("~" expanded), when there is one.
std::optional<std::string> typedFolder(const std::string& typed);
inline const std::string kNoFolder = "There is no folder at this path.";

// The folder a path typed for a slot names: a folder here, or for the
// destination one on a server ("[user@]host:/path"); nullopt and why in *why.
std::optional<std::string> typedPath(int slot, const std::string& typed, std::string* why);

// choose() with the slot's own keys, for a path as typed.
std::optional<std::string> chooseTyped(int slot, const std::string& typed);

} // namespace FolderChoice
