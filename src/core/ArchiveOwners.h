#pragma once
// Who archives into each archive folder of a destination on a disk: the
// first station (a preference file: one user on one machine) whose pass
// writes into it, recorded in the archive's marker folder as on a server
// ("owners/<archive folder>": "<station ID> <slot> <user@host>"). A second
// station whose source folder has the same name is refused instead of
// mixing its photos into the first's, or moving the first's copies aside.

#include "core/ArchiveDestination.h"

#include <filesystem>
#include <optional>
#include <string>

namespace ArchiveOwners {

// Records the archive folder as this station's slot's when nobody holds
// it (an archive folder that already has copies included: an archive made
// before owners were recorded); nullopt when it is this station's (or the
// disk takes no record: read-only or full, which the pass then meets), else
// why the pass must not write into it.
std::optional<std::string> claim(const std::filesystem::path& archive, const ArchiveClaim& claim);
// The same question, writing nothing: why this station may not archive
// into that folder, or nullopt.
std::optional<std::string> refusal(const std::filesystem::path& archive, const std::string& archiveName);

} // namespace ArchiveOwners
