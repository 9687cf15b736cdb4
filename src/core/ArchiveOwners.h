#pragma once
// Who archives into each archive folder of a destination: the first
// station (a preference file: one user on one machine) whose pass writes
// into it, recorded in the archive's marker folder as one line,
// "owners/<archive folder>": "<station ID> <slot> <user@host>", on a server
// (RemoteArchive's look) as on a disk (here). A second station whose source
// folder has the same name is refused instead of mixing its photos into the
// first's, or moving the first's copies aside.

#include "core/ArchiveDestination.h"

#include <filesystem>
#include <optional>
#include <string>

namespace ArchiveOwners {

// "archive folder of another station": how every refusal begins.
extern const std::string kClaimed;

// This station's owner line for one of its slots.
std::string record(int slot);
// Why this station may not archive into archiveName, held by the owner
// line given ("on the disk", "on the server" says where); nullopt when the
// line names no station or this one.
std::optional<std::string> heldByAnother(const std::string& ownerLine, const std::string& archiveName,
                                         const std::string& where);
// Whether the owner line names a station at all.
bool namesAStation(const std::string& ownerLine);

// On a disk: records the archive folder as this station's slot's when
// nobody holds it (an archive folder that already has copies included: an
// archive made before owners were recorded); nullopt when it is this
// station's (or the disk takes no record: read-only or full, which the pass
// then meets), else why the pass must not write into it.
std::optional<std::string> claim(const std::filesystem::path& archive, const ArchiveClaim& claim);
// The same question, writing nothing: why this station may not archive
// into that folder, or nullopt.
std::optional<std::string> refusal(const std::filesystem::path& archive, const std::string& archiveName);

} // namespace ArchiveOwners
