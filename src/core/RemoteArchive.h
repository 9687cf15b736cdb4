#pragma once
// The archive on another machine (RemoteDestination), looked at through
// ssh (platform::SecureShell): its folder, its marker, its free space, and
// which station archives into each archive folder. Every look is one short
// ssh session, bounded in time; a server that does not answer is a problem
// of the destination like an unmounted disk, never a wait.
//
// A server that cannot be reached is not tried again at once: after a
// failed look, the next one connects only once a back-off has passed
// (10 s, doubling to 2 min, each give or take a fifth so that stations do
// not retry in step); looks meanwhile give the last failure. The first look
// that answers ends the back-off, and a retry the user asks for ends it too.

#include "core/ArchiveDestination.h"
#include "core/RemoteDestination.h"

#include <chrono>
#include <optional>
#include <string>

class RemoteArchive {
public:
    RemoteArchive() = delete;

    // Below the destination lane's own bound, so a silent server is named as such.
    static constexpr std::chrono::seconds kBound{15};
    static constexpr std::chrono::seconds kFirstBackOff{10};
    static constexpr std::chrono::minutes kLongestBackOff{2};

    // The problems of the connection, as the slot's state shows them, each
    // followed by ssh's own words: "server unreachable: …", "login refused: …",
    // and "server not responding".
    static bool isConnectionProblem(const std::string& problem);

    using Claim = ArchiveClaim;
    // The problem of a claim held by another station ("archive folder …").
    static bool isClaimProblem(const std::string& problem);

    // The destination's state for a pass: its folder there, its marker
    // naming `expectedId`, its free space; with a claim, the archive folder
    // is recorded as this station's, or refused when another station's.
    static DestinationState locate(const RemoteDestination& destination, const std::string& expectedId,
                                   const std::optional<Claim>& claim = std::nullopt);
    // Marks the folder as the archive, keeping an ID already there.
    static ArchiveDestination::Marking mark(const RemoteDestination& destination);
    // Puts what was written on the server on its disk; false and why otherwise.
    static bool flush(const RemoteDestination& destination, std::string* why);

    // A report for the user setting the destination up: the connection, the
    // login and its key, the folder, write access, free space and the
    // server's rsync, one line each; ok when archiving can work.
    struct Report {
        bool ok = false;
        std::string text;
    };
    static Report check(const RemoteDestination& destination);

    // This station's ID (made and stored on first use) and name.
    static std::string stationId();
    static const std::string kStationIdKey; // "prefStationID"

    // Forgets the back-off (tests, a destination chosen again, a retry asked for).
    static void resetBackOff();
    // When the server is tried again; nullopt while no back-off runs.
    static std::optional<std::chrono::system_clock::time_point> nextTry();
};
