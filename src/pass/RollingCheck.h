#pragma once
// The archive read again a share at a time, so that every copy is read
// once in every `days` days, and damage is found while an original may
// still exist. A share of the record's copies falls due for each whole day
// since the last was accounted for (all of them at most); the copies owed
// are read in the record's order after the last one read, round and round.
// Damage is kept in the folder's ArchiveHealth, and a damaged copy whose
// original still holds the recorded content is made again from it.

#include "core/ArchiveHealth.h"

#include <cstdint>
#include <functional>
#include <string>

class ArchiveRecord;

struct RollingCheck {
    // Copies a day's share reads: the record spread over `days`, rounded up.
    static std::int64_t shareOf(std::int64_t recorded, long days);
    // Adds the shares due since health.accountedTo to health.owed; the
    // first share falls due at once. days 0 owes nothing.
    static void accrue(ArchiveHealth& health, std::int64_t recorded, long days, platform::Date now);
    // When the next share falls due; nullopt while none is accounted for.
    static std::optional<platform::Date> nextDue(const ArchiveHealth& health);

    // Reads up to health.owed copies of the archive folder, asking stop()
    // before each one (a pass begins, the application quits): what was not
    // read stays owed. Then mends from source what it can. Returns the
    // copies read.
    // readSoFar hears the copies read, batch by batch.
    using Progress = std::function<void(std::int64_t readSoFar)>;
    static std::int64_t read(ArchiveHealth& health, const std::string& archiveFolder, const ArchiveRecord& record,
                             const std::string& source, const std::function<bool()>& stop, platform::Date now,
                             const Progress& progress = {});
    // Every copy, from the first: the window's "Check archive…".
    static std::int64_t readAll(ArchiveHealth& health, const std::string& archiveFolder, const ArchiveRecord& record,
                                const std::string& source, const std::function<bool()>& stop, platform::Date now,
                                const Progress& progress = {});
};
