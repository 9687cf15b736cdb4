#pragma once
// What a folder slot is doing, as the row, the window title, the status
// report and the alarms all show it: derived from whether it is switched
// on, watched and busy, and from its last pass.

#include "platform/runtime/DateFormat.h"
#include "engines/PassProgress.h"
#include "pass/PassResult.h"
#include "pass/UnarchivedFiles.h"

#include <optional>
#include <string>

struct SlotState {
    // NotWatched: switched on, not watched, and settled files wait for a copy.
    enum class Kind { Off, Watching, Archiving, Waiting, NotWatched, Error };

    Kind kind = Kind::Off;
    // The last pass's error while the slot is on, also while a new pass
    // runs: the problem lasts until a pass ends without it.
    std::string error;
    std::int64_t waiting = 0;                 // young files, with Kind::Waiting
    std::optional<PassProgress::Shown> progress; // with Kind::Archiving, once it has files to copy
    // Settled files without a copy while nothing archives them, with
    // Kind::NotWatched and Kind::Error, when counted.
    std::optional<UnarchivedFiles::Count> unarchived;
    std::optional<long> oldestUnarchivedMinutes; // switched-on slots, watched or not
    bool lagAlarm = false; // the oldest unarchived file is older than the alarm allows
    std::optional<PassProgress::Shown> archiveCheck; // copies of its archive read so far

    struct Inputs {
        bool enabled = false;  // switched on, with a folder that is there
        bool watching = false; // its stream runs
        bool busy = false;     // a pass runs
        std::optional<PassResult> last;
        long lagAlarmMinutes = 60; // 0: no alarm
        // What keeps passes from archiving into the destination, "" when
        // nothing, nullopt when not known: every slot that is on is in error
        // with it, and a last pass stopped by a problem now gone is no error.
        std::optional<std::string> destinationProblem;
        std::optional<PassProgress::Shown> progress; // the running pass's
        // The settings were lost to a damaged file ("" when not): every
        // slot is in error with it until the folders are chosen again.
        std::string preferencesProblem;
        bool sourceMissing = false; // switched on, with a chosen folder that is not there
        // Copies of the folder found damaged or missing in the archive
        // (ArchiveHealth::problem), "" when none: an error until they are
        // found sound, whether the folder is switched on or not.
        std::string archiveDamage;
        // Every copy of its archive being read (the window's "Check archive…").
        std::optional<PassProgress::Shown> archiveCheck;
        std::optional<PassResult> lastArchived; // the last pass without an error
        // Counted while nothing archives the folder (UnarchivedFiles).
        std::optional<UnarchivedFiles::Count> unarchived;
    };
    // What the preferences say of a slot: switched on (a switch never
    // stored counts as on, as for a pass) with a folder that is there, its
    // last pass and the alarm setting. Watching and busy are the caller's.
    static Inputs stored(int slot);
    // The same without the last pass, which the caller already has.
    static Inputs storedSwitches(int slot);
    static SlotState of(const Inputs& in, platform::Date now);
    // The alarm setting ("prefBackupLagAlarmMinutes"), 60 when never stored.
    static long lagAlarmMinutesSetting();

    // "off", "watching", "archiving", "waiting", "not-watched", "error": for scripts.
    std::string name() const;
    // "Off", "Watching", "Archiving" (or "Archiving 3,412 of 20,000 · about
    // 2 min left"), "Waiting for 2 young files",
    // "Not watched · 20 waiting since 10:02", "Error: destination missing":
    // for people.
    std::string title() const;
    // The problem to tell the user about, or "": the error (also while a
    // pass runs: it is not new when that pass fails again), else the alarm.
    std::string problem() const;
    // The row's line: the title, when the last pass ended and its counts;
    // after a pass that a problem stopped, the last that archived as well.
    std::string line(const std::optional<PassResult>& last,
                     const std::optional<PassResult>& lastArchived = std::nullopt) const;
    // " · 20 waiting since 10:02", "" when nothing is counted as waiting.
    std::string waitingNote() const;
};
