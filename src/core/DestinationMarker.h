#pragma once
// The folder that makes a folder the archive: ".tolv-archiver-destination",
// holding a small property list with a random ID, made in the destination
// when the user chooses it. A pass writes only into a folder whose marker
// holds the ID the preferences remember, so the empty folder a backup disk
// leaves behind when it is unmounted, or another disk mounted in its place,
// is never written into.
//
// The copying tools reach the archive folder through the marker
// ("<destination>/.tolv-archiver-destination/../Main"): should the disk go
// in the middle of a run, that path leads nowhere, and nothing is copied
// into, or deleted against, the folder it leaves behind.

#include <filesystem>
#include <optional>
#include <string>

namespace DestinationMarker {

// ".tolv-archiver-destination": hidden, and never the name of an archive folder.
extern const std::string kFolderName;
// "archive.plist": the record in it.
extern const std::string kRecordName;

// Whether the folder holds a marker folder, whatever it says: a disk that
// was proven the archive when its pass began is still there.
bool isIn(const std::filesystem::path& folder);

struct Reading {
    enum class Kind { Absent, Damaged, Present };
    Kind kind = Kind::Absent;
    std::string id;     // with Present
    std::string reason; // with Damaged: why it could not be read
};

// What the folder's marker says.
Reading read(const std::filesystem::path& folder);

// What a record's bytes say; `where` names it in a reason.
Reading fromRecord(const std::string& bytes, const std::string& where);
// The record's bytes for an ID, as write() stores them.
std::string record(const std::string& id);

// A new random ID ("9F1C…", 32 hexadecimal digits).
std::string newId();

// Makes the marker with the ID in the folder, replacing a damaged one;
// false (and why in *error) when the folder refuses it.
bool write(const std::filesystem::path& folder, const std::string& id, std::string* error);

// The archive folder as the tools must reach it: through the marker of the
// folder that holds it, when that folder has one; else as it is.
std::string reachedThroughMarker(const std::string& archiveFolder);
// The same path, always through the marker: for a folder on a server, whose
// marker was proven there when the pass began.
std::string reachedThroughMarkerPath(const std::string& archiveFolder);

} // namespace DestinationMarker
