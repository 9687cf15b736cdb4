#include "core/CommonHeader.h"

#include <array>
#include <cstdio>

namespace CommonHeader {
namespace {

struct SlotRow {
    const char* displayName;
    const char* title;
    const char* path;
    const char* aliasData;
    const char* aliasValid;
    const char* startingNo;
    const char* enable;
    const char* enableTitle;
};

// The folder slot table. The "Format1".."Format3" endings are part of the
// key names, not format strings.
constexpr std::array<SlotRow, kSlotCount> kSlots{{
    {"Destination/Backup", "Destination Backup Folder", "prefDestinationFolderPathFormat1",
     "prefDestinationFolderPathAliasDataFormat1", "prefDestinationFolderPathAliasDataIsValidFormat1",
     "prefStartingNoDestinationFormat1", "prefDestinationFolderPathEnableFormat1",
     "prefDestinationFolderPathEnableTitleStringFormat1"},
    {"Main Images", "Backup Main Images Folder", "prefCameraFolderPathFormat1", "prefCameraFolderPathAliasDataFormat1",
     "prefCameraFolderPathAliasDataIsValidFormat1", "prefStartingNoCameraFormat1", "prefCameraFolderPathEnableFormat1",
     "prefCameraFolderPathEnableTitleStringFormat1"},
    {"For Web", "Backup ForWebFolder", "prefCameraFolderPathFormat2", "prefCameraFolderPathAliasDataFormat2",
     "prefCameraFolderPathAliasDataIsValidFormat2", "prefStartingNoCameraFormat2", "prefCameraFolderPathEnableFormat2",
     "prefCameraFolderPathEnableTitleStringFormat2"},
    {"Composed Images", "Backup ComposedImagesFolder", "prefCameraFolderPathFormat3",
     "prefCameraFolderPathAliasDataFormat3", "prefCameraFolderPathAliasDataIsValidFormat3",
     "prefStartingNoCameraFormat3", "prefCameraFolderPathEnableFormat3",
     "prefCameraFolderPathEnableTitleStringFormat3"},
}};

bool validSlot(int slot) { return slot >= 0 && slot < kSlotCount; }

} // namespace

std::string slotTitle(int slot) { return validSlot(slot) ? kSlots[slot].title : ""; }

std::string slotDisplayName(int slot) { return validSlot(slot) ? kSlots[slot].displayName : ""; }

ParamDictionary slotParameters(int slot) {
    if (!validSlot(slot)) return {};
    const SlotRow& r = kSlots[slot];
    return {
        {sPrefCameraFolderPathKey, r.path},
        {sPrefCameraFolderPathAliasDataKey, r.aliasData},
        {sPrefCameraFolderPathAliasDataIsValidKey, r.aliasValid},
        {sPrefStartingNoCameraKey, r.startingNo},
        {sPrefCameraFolderPathEnableKey, r.enable},
        {sPrefCameraFolderPathEnableTitleStringKey, r.enableTitle},
    };
}

ParamDictionary folderReferenceParameters(const ParamDictionary& slotParams) {
    return {
        {sPrefFolderNameKey, param(slotParams, sPrefCameraFolderPathKey)},
        {sPrefFolderAliasDataKey, param(slotParams, sPrefCameraFolderPathAliasDataKey)},
        {sPrefFolderNameIsValidKey, param(slotParams, sPrefCameraFolderPathAliasDataIsValidKey)},
    };
}

std::string inProgressKey(int index) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "prefWatcherObject%02iInProgress", index);
    return buf;
}

std::string cameraFolderPathKey(int index) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "prefCameraFolder%iPath", index);
    return buf;
}

std::string param(const ParamDictionary& params, const std::string& name) {
    auto it = params.find(name);
    return it == params.end() ? std::string() : it->second;
}

std::string describe(const ParamDictionary& params) {
    std::string out = "{\n";
    for (const auto& [k, v] : params) out += "    " + k + " = " + v + ";\n";
    return out + "}";
}

} // namespace CommonHeader
