#pragma once
// What the reading of a folder's archive has found, kept in the
// preferences per source slot: the copies found damaged (and not made
// again) or missing, which stay the folder's error until a later reading
// finds them sound; and where the rolling check stands: the copy it goes
// on after, the copies it still owes of the shares due, when the shares
// were last accounted for and when it last read every copy.

#include "platform/runtime/DateFormat.h"

#include <cstdint>
#include <optional>
#include <set>
#include <string>

struct ArchiveHealth {
    std::string archive;           // the archive folder read; another one starts afresh
    std::set<std::string> damaged; // paths below the archive folder
    std::set<std::string> missing;
    std::string next;                          // the rolling check reads on after this path; "" from the start
    std::int64_t owed = 0;                     // copies still to read of the shares due
    std::optional<platform::Date> accountedTo; // shares are due for the days after it
    std::optional<platform::Date> readThrough; // when every copy had last been read
    std::optional<platform::Date> lastRead;    // when a share was last read
    std::int64_t lastShare = 0;                // copies that share read
    std::int64_t recorded = 0;                 // copies in the record then

    // The slot's, whichever archive folder it was found in.
    static ArchiveHealth stored(int slot);
    void store(int slot) const;

    // A copy read: damaged or missing, or sound (which takes it off the lists).
    void found(const std::string& path, bool isDamaged, bool isMissing);
    // "damaged in the archive; no other copy: 2026/a.jpg (and 2 more)", with
    // what is missing after it; "" when nothing is.
    std::string problem() const;

    bool operator==(const ArchiveHealth&) const = default;
};
