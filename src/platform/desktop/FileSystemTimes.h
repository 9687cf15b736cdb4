#pragma once
// Whether a file system keeps modification times as they are set: FAT and
// exFAT disks (card readers, many USB disks) and some shares keep them to
// the second or to two seconds, so a copy's time there may differ from its
// file's by up to a second.

#include <string>

namespace platform {

// Sets a time with an odd second and a fraction on a probe file in the
// folder at path (or, while it does not exist yet, the folder it will be
// made in), reads it back and removes the file; the answer is kept per file
// system for the life of the process. True where the probe cannot be made,
// which changes nothing.
bool keepsExactTimes(const std::string& path);

} // namespace platform
