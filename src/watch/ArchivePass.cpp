#include "watch/ArchivePass.h"

#include "core/CommonHeader.h"
#include "platform/preferences/UserDefaults.h"
#include "tools/SynchronizationPolicy.h"

#include <algorithm>

namespace {

constexpr long kDefaultMinutes = 20;

unsigned nonNegative(long value) { return static_cast<unsigned>(std::max(0L, value)); }

} // namespace

ArchivePass ArchivePass::capture(std::int16_t index, std::string source, std::string archiveFolder) {
    auto& prefs = platform::UserDefaults::standard();
    // A settle time never stored means 20 minutes; a stored 0 means none.
    platform::Value minutes = prefs.objectForKey(kPrefBackupSourceImagesAfterMinutesOld);
    ArchivePass pass;
    pass.index = index;
    pass.source = std::move(source);
    pass.archiveFolder = std::move(archiveFolder);
    pass.settleMinutes = minutes.isNone() ? kDefaultMinutes : static_cast<long>(minutes.toInteger());
    pass.deleting = prefs.boolForKey(kPrefEnableDeleteOldSourceImages);
    pass.deleteAfterDays = static_cast<long>(prefs.integerForKey(kPrefDeleteSourceImagesAfterDaysOld));
    pass.fast = prefs.boolForKey(kPrefUseBatchedSynchronization);
    return pass;
}

unsigned ArchivePass::copyMinutes() const { return nonNegative(settleMinutes); }

unsigned ArchivePass::copyDays() const {
    return deleting ? nonNegative(deleteAfterDays) : SynchronizationPolicy::kDeletionOffDays;
}

unsigned ArchivePass::cleanUpMinutes() const { return static_cast<unsigned>(std::max(1L, settleMinutes)); }
