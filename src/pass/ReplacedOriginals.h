#pragma once
// Source files that rsync's quick check takes for their archived copy (the
// same name, size and modification time) although they are other files: a
// new card's photo whose camera started its numbering again, a photo
// rewritten in place with its size and time kept. Neither would ever be
// copied, nor deleted (the compare before deletion differs). They are found
// after a full pass, their earlier copies kept aside as a replaced copy is,
// and copied by name.

#include "platform/runtime/DateFormat.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace ReplacedOriginals {

// The settled regular files below source (absolute paths) whose copy below
// archive matches them by size and time (to a coarse disk's second) but
// not by content. Only files that can differ are read: those this machine
// changed after it wrote their copy (by status-change times), and those old
// enough to have been deleted after `deleteAfterDays` (0: no deletion) that
// are still there. A file found identical after a change has its copy's
// status-change time renewed, so it is not read again.
std::vector<std::string> find(const std::filesystem::path& source, const std::filesystem::path& archive, long minutes,
                              unsigned deleteAfterDays, std::chrono::system_clock::time_point now);

// Moves the copy of each of these files (below archive at their path below
// source) into the kept folder of a run that began at start, as rsync
// --backup keeps a copy it replaces. The files whose copies were kept
// aside, which a copy by name then takes; a copy that cannot be moved stays
// where it is, with a log line, and its file is left out.
std::vector<std::string> keepCopiesAside(const std::filesystem::path& source, const std::filesystem::path& archive,
                                         const std::vector<std::string>& files, platform::Date start);

} // namespace ReplacedOriginals
