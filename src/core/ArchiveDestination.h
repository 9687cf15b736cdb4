#pragma once
// Where passes may archive: the destination folder the user chose, found
// again (its stored path, or where its alias data leads when it moved) and
// proven to be that folder by its marker (DestinationMarker). A folder that
// cannot be proven is never written into: the empty folder a backup disk
// leaves behind when it is unmounted, another disk mounted in its place, a
// folder named like the archive on the system disk.
//
// A destination chosen before markers existed is adopted (marked) on its
// first pass only when it is clearly the archive: it is the very folder its
// alias data names, or it holds this installation's archive folders or
// kept versions, or it is the root of a mounted file system; never an empty
// folder on its parent's file system, which is what an unmounted disk leaves.

#include "platform/preferences/PreferenceSnapshot.h"
#include <cstdint>
#include <optional>
#include <string>

struct DestinationState {
    std::string path;    // the folder found, "" when none was
    std::string problem; // "" when passes may write into path
    std::string detail;  // with a problem: what was found, for the log
    std::optional<std::uintmax_t> freeBytes; // when ready and looked at with the rest
    std::string realPath; // on a disk, when ready: path with every link resolved
    bool ready() const { return problem.empty() && !path.empty(); }
};

// Which slot of this station archives into an archive folder of the
// destination: on a destination that several stations share, a folder
// belongs to the first station that archives into it.
struct ArchiveClaim {
    std::string archiveName;
    int slot = 0;
};

class ArchiveDestination {
public:
    ArchiveDestination() = delete;

    // The problems, as a slot's state and the log show them.
    static const std::string kMissing;    // "destination missing"
    static const std::string kNotMounted; // "destination not mounted"
    static const std::string kForeign;    // "destination is not the chosen archive"
    static const std::string kUnmarkable; // "destination cannot be marked as the archive"
    // Given by the callers that wait only so long for an answer (a hung share).
    static const std::string kNotResponding; // "destination not responding"
    static bool isDestinationProblem(const std::string& error);

    // The preference that remembers the chosen archive's ID.
    static const std::string kIdKey; // "prefDestinationArchiveID"

    // The user chose folder as the destination: mark() writes its marker
    // (keeping the ID of a marker already there: choosing the archive again
    // keeps it the archive) and gives the ID, or why it cannot be the
    // archive; remember() stores the ID once the folder's path is stored.
    struct Marking {
        std::string id;
        std::string error; // "" when marked
    };
    static Marking mark(const std::string& folder);
    static void remember(const std::string& id);
    // Both; nullopt, or why the folder cannot be the archive.
    static std::optional<std::string> choose(const std::string& folder);

    // Before every pass, and whenever the application looks: validates the
    // stored reference (storing a moved folder's new path), checks the
    // marker, and adopts a destination chosen before markers existed. Safe
    // on any thread; callers log the problem as they see fit.
    static DestinationState locate();
    // The same from stored values already read (Settings::readForPass).
    static DestinationState locate(const platform::PreferenceSnapshot& stored);
    // The same for a pass into one archive folder, which a destination on
    // another machine records as this station's (or refuses as another's).
    static DestinationState locate(const platform::PreferenceSnapshot& stored, const ArchiveClaim& claim);
    // The same, writing nothing: for a report of a start that runs nothing.
    static DestinationState inspect();

private:
    static DestinationState find(bool mayWrite, const platform::PreferenceSnapshot& stored,
                                 const std::optional<ArchiveClaim>& claim = std::nullopt);
};
