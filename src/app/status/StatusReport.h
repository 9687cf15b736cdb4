#pragma once
// What `--status` prints: the destination, each source slot's path, state
// and last pass, and the daily schedule, as text for people or as one JSON
// object for scripts. Read from the preferences; a running application
// adds which watchers are watching. A slot in error makes the exit status 1,
// so monitoring can act on it.

#include "core/ArchiveDestination.h"
#include "core/ArchiveHealth.h"
#include "pass/KeptVersions.h"
#include "platform/runtime/DateFormat.h"
#include "pass/PassResult.h"
#include "watch/SlotState.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class AppDelegate;
class QJsonValue;

struct StatusReport {
    struct Destination {
        std::string path; // "" when none is chosen
        bool present = false; // passes may archive into it
        std::string problem;  // why they may not, "" when they may
        std::optional<std::uintmax_t> freeBytes; // of the archive's own disk only
        // On a server: the key ssh logs in with ("" when it finds none).
        std::optional<std::string> key;
        // A server in its back-off: when it is tried again.
        std::optional<platform::Date> nextTry;
        std::optional<KeptVersions> kept; // as last counted, on this destination
    };

    struct Slot {
        int slot = 0;
        std::string name; // "Main Images", ...
        std::string path; // "" when none is chosen
        bool valid = false;
        bool enabled = false; // its switch
        // What its state is made of; watching and busy only a running
        // application knows, from its rows.
        SlotState::Inputs state;
        ArchiveHealth archive; // what reading its archive found, and the rolling check
    };

    struct Schedule {
        bool set = false;
        std::string time;           // "07:05"
        std::string problem;        // why it is not in the user's scheduler; "" when it is
        std::optional<platform::Date> next;           // the next run
        std::string lastAgentStart;                   // when the schedule last started the application
        std::optional<platform::Date> lastAgentStartDate; // the same, for scripts, when known
    };

    std::string version;
    bool running = false;
    Destination destination;
    std::vector<Slot> folders; // the three sources
    Schedule schedule;
    long verifyArchiveDays = 0; // the rolling check's round; 0: off
    platform::Date now{};

    // The destination is looked at as a pass would, writing nothing, and
    // waited for at most kDestinationBound (kServerBound on a server).
    static constexpr std::chrono::milliseconds kDestinationBound{1500};
    static constexpr std::chrono::milliseconds kServerBound{6000};
    static StatusReport fromPreferences(bool running);
    // The report of this running application: the preferences, what its
    // rows know of their slots (watching, a pass running), and the
    // destination as its monitor last found it, so that a destination that
    // does not answer never holds up the answer.
    static StatusReport ofRunningApplication(const AppDelegate& delegate);
    static StatusReport fromPreferences(bool running, const DestinationState& destination);
    SlotState stateOf(const Slot& slot) const;
    // 1 when a slot is in error, else 0.
    // 0 all well, 1 a folder in error (or past its alarm), 3 nothing runs,
    // as LSB status scripts and systemctl is-active say.
    static constexpr int kAllWell = 0, kProblem = 1, kNotRunning = 3;
    int exitStatus() const;
    std::string text() const;
    std::string json() const;

private:
    QJsonValue archiveCheckJson(const ArchiveHealth& archive, const std::optional<PassProgress::Shown>& reading) const;
};
