#include "pass/ArchivePass.h"

#include "core/Settings.h"
#include "pass/FreeSpaceFloor.h"
#include "core/RemoteDestination.h"
#include "engines/SynchronizationPolicy.h"

#include <algorithm>

namespace {

unsigned nonNegative(long value) { return static_cast<unsigned>(std::max(0L, value)); }

} // namespace

ArchivePass ArchivePass::capture(std::int16_t index, std::string source, std::string archiveFolder,
                                 const Settings& settings) {
    ArchivePass pass;
    pass.index = index;
    pass.source = std::move(source);
    pass.archiveFolder = std::move(archiveFolder);
    pass.server = RemoteDestination::parse(pass.archiveFolder);
    pass.settleMinutes = settings.settleMinutes;
    pass.deleting = settings.deleting;
    pass.deleteAfterDays = settings.deleteAfterDays;
    pass.fast = settings.fast;
    pass.floorBytes = FreeSpaceFloor::bytesOf(settings);
    return pass;
}

unsigned ArchivePass::copyMinutes() const { return nonNegative(settleMinutes); }

unsigned ArchivePass::copyDays() const {
    return deleting ? nonNegative(deleteAfterDays) : SynchronizationPolicy::kDeletionOffDays;
}

unsigned ArchivePass::cleanUpMinutes() const { return static_cast<unsigned>(std::max(1L, settleMinutes)); }
