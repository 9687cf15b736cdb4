#pragma once
// Brings an archive folder's record (ArchiveRecord) up to date with its
// copies, after a run's copies and before any original is deleted. A copy
// written since the record last was (its status-change time says so), or
// not in it yet, is read; its original, when the source still holds it
// with the copy's size and time, is read too and must match: only then is
// the copy recorded as proven. A copy unlike its original is not recorded
// (the next pass copies the original again); one without its original is
// recorded from itself, and listed so. Reads what the run has just written,
// mostly from memory.

#include <cstdint>
#include <string>

namespace CopyRecorder {

struct Counts {
    std::int64_t looked = 0;   // copies read
    std::int64_t proven = 0;   // recorded, compared with their original
    std::int64_t fromCopy = 0; // recorded from the copy alone
    std::int64_t unlike = 0;   // unlike their original: not recorded
};

// source: the folder archived; archive: the archive folder as the tools
// reach it. false, and why, when the record could not be read or written.
bool update(const std::string& source, const std::string& archive, Counts* counts, std::string* why);
// The same, its counts or its failure logged.
bool updateLogged(const std::string& source, const std::string& archive);

} // namespace CopyRecorder
