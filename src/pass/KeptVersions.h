#pragma once
// The versions of copies kept aside in the destination's kept folder
// (replaced or mended copies), as last counted: how many and how big. They
// only grow, so the user is shown what they take. Kept in the preferences;
// counted by the archive's reading (ArchiveReading), off the GUI thread.

#include "platform/runtime/DateFormat.h"

#include <cstdint>
#include <optional>
#include <string>

struct KeptVersions {
    std::int64_t count = 0;
    std::int64_t bytes = 0;
    std::string destination; // the destination counted
    platform::Date countedAt{};

    static std::optional<KeptVersions> stored();
    void store() const;
    // "49 kept versions, 1.2 GB"; "" for none.
    std::string text() const;

    bool operator==(const KeptVersions&) const = default;
};
