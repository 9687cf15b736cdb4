#pragma once
// Brings an archive folder's record (ArchiveRecord) up to date with its
// copies, after a run's copies and before any original is deleted. A copy
// written since the record last was (its status-change time says so), or
// not in it yet, is looked at. One that this run's rsync wrote anew, with
// its original's size and time, is what rsync sent and checked as it wrote
// it: the original, still in memory, gives its hash. Any other copy is read, and,
// when the source still holds its original with the copy's size and time,
// the original too: only a match is recorded as proven. A copy unlike its
// original is not recorded (the next pass copies the original again); one
// without its original is recorded from itself, and listed so.

#include <cstdint>
#include <string>
#include <vector>

namespace CopyRecorder {

struct Counts {
    std::int64_t looked = 0;   // copies read
    std::int64_t proven = 0;   // recorded, compared with their original
    std::int64_t fromCopy = 0; // recorded from the copy alone
    std::int64_t unlike = 0;   // unlike their original: not recorded
};

// source: the folder archived; archive: the archive folder as the tools
// reach it; made: the copies the run made anew, when it knows them: only
// those are looked at while the folder has a record, unless wholeFolder
// (else the whole folder is, and any copy the run did not make is read).
// false, and why, when the record could not be read or written.
bool update(const std::string& source, const std::string& archive, const std::vector<std::string>* made,
            bool wholeFolder, const std::string& keptFolder, Counts* counts, std::string* why);
// Before a run copies into the archive folder: until the record is brought
// up to date, the folder is known to hold copies it may not name. True
// when a run before this one left it so (killed, cut off).
bool begin(const std::string& archive);

// The same after a run that made `copied` copies, its counts or its failure
// logged. A run that made none leaves a record there as it is: a pass with
// nothing to copy reads nothing more (an archive without a record yet gets
// one, and so does one that a run left without bringing its record up to
// date: then the whole folder is looked at).
// leftBehind: what begin() said. keptFolder: where the run keeps the copies
// it replaces ("" when unknown): a replaced copy found there is recorded
// with what it held, by its path from the archive folder
// ("../.tolv-archiver-kept/<run>/<folder>/…").
bool updateLogged(const std::string& source, const std::string& archive, bool leftBehind, std::int64_t copied,
                  const std::vector<std::string>* made = nullptr, const std::string& keptFolder = "");

} // namespace CopyRecorder
