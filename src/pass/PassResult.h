#pragma once
// How a slot's last pass ended: what it copied, failed to copy, deleted and
// left waiting, how long it took, and the error that stopped or spoiled it.
// Kept in the preferences ("prefWatcherObject%02iLastPass") so it outlives
// the application; the window, the status report and the alarms read it.

#include "platform/runtime/DateFormat.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

struct PassResult {
    platform::Date ended{};
    std::int64_t copied = 0;
    std::int64_t failed = 0;
    std::int64_t deleted = 0;
    std::int64_t waiting = 0; // files too young to copy yet
    std::int64_t futureDated = 0; // files dated ahead of this machine's clock
    double seconds = 0;
    std::string error; // "" when nothing went wrong
    // The oldest file the pass left without an identical copy (failed or
    // waiting), by modification time; when a pass could not run at all, the
    // moment since which files may have waited.
    std::optional<platform::Date> oldestUnarchived;
    // The oldest file that failed, relative to the source; "" when none did.
    std::string firstFailed;
    bool fast = false; // copied by the fast engine

    // The result of a pass that could not copy at all: whatever waited
    // before still waits, else files may have waited since now.
    static PassResult unstarted(int slot, const std::string& why);

    static std::string preferenceKey(int slot);
    // The last pass that ended without an error ("prefWatcherObject%02iLastArchived").
    static std::string lastArchivedKey(int slot);
    // nullopt when the slot never finished a pass, or the stored value is damaged.
    static std::optional<PassResult> load(int slot);
    // The last pass that ended without an error; nullopt when none did.
    static std::optional<PassResult> loadLastArchived(int slot);
    // When the pass began.
    platform::Date started() const {
        return ended - std::chrono::duration_cast<platform::Date::duration>(std::chrono::duration<double>(seconds));
    }
    // The slot's running flag ("prefWatcherObject0NInProgress"), written
    // through to the file: a start after a crash finds a pass cut short.
    static void markRunning(int slot, bool running);
    void store(int slot) const;

    // "pass of <folder>: 12 copied, 0 failed, 3 deleted, 2 waiting, 0.84 s"
    std::string summary(const std::string& folder) const;
    // "12 copied, 0 failed, 3 deleted, 2 waiting"
    std::string counts() const;
    // " · 3 photos dated in the future (camera clock?)", "" when none are
    std::string futureNote() const;
    // A pass of the per-file engine long enough that fast archiving, which
    // copies the same files in one run, would be felt.
    static constexpr double kSlowPassSeconds = 60;
    bool slowWithoutFastArchiving() const { return !fast && seconds > kSlowPassSeconds; }

private:
    static std::optional<PassResult> loadFrom(const std::string& key);
};
