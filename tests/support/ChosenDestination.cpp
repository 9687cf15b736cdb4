#include "support/ChosenDestination.h"

#include "core/ArchiveDestination.h"
#include "core/CommonHeader.h"
#include "core/MyAliasKit.h"

#include <gtest/gtest.h>

namespace testing_support {

void chooseDestination(const std::filesystem::path& folder, platform::UserDefaults& prefs) {
    const auto marking = ArchiveDestination::mark(folder.string());
    ASSERT_EQ(marking.error, "");
    const ParamDictionary p = CommonHeader::slotParameters(CommonHeader::kDestinationSlot);
    prefs.setObject(p.at(sPrefCameraFolderPathKey), folder.string());
    prefs.setBool(p.at(sPrefCameraFolderPathAliasDataIsValidKey), true);
    if (auto alias = MyAliasKit::aliasDataForPath(folder.string()))
        prefs.setObject(p.at(sPrefCameraFolderPathAliasDataKey), platform::Value(std::move(*alias)));
    prefs.setObject(ArchiveDestination::kIdKey, marking.id);
    prefs.synchronize();
}

} // namespace testing_support
