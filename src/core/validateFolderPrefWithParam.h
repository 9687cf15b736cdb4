#pragma once
// Checks one persisted folder reference before its folder is used, and
// repairs the stored path from the alias data when the folder has moved.

#include "core/CommonHeader.h"

// YES when, after the call, the stored path can be used. Safe on any thread.
bool validateFolderPrefWithParam(const ParamDictionary& params);
