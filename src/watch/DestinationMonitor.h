#pragma once
// Keeps an eye on the destination for the whole application: whether passes
// may archive into it, and its free space (DestinationCheck::locate). It
// looks at start, when the mount table changes, after every pass, when the
// chosen folder changes, and on an interval: every five seconds while the
// destination is ready (a share that stops answering in the middle of a
// pass is found so), every few seconds while it does not answer (such a
// look costs nothing until the stuck one ends), once a minute otherwise.
// Each change is posted as "DestinationDidChange"; the rows and the status
// report show it and, when the destination comes back from a problem, the
// watchers archive what arrived meanwhile.
//
// Checks run on a thread of the monitor's own, never on the GUI thread, and
// each waits for the destination only DestinationCheck's bound.

#include "core/ArchiveDestination.h"
#include "platform/runtime/NotificationCenter.h"
#include "core/Settings.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <vector>

namespace platform {
class MountTableWatch;
}

class DestinationMonitor {
public:
    static constexpr std::chrono::seconds kReadyInterval{5};
    static constexpr std::chrono::seconds kNotRespondingInterval{5};
    static constexpr std::chrono::minutes kInterval{1};

    // The first check runs at once.
    DestinationMonitor();
    ~DestinationMonitor();
    DestinationMonitor(const DestinationMonitor&) = delete;
    DestinationMonitor& operator=(const DestinationMonitor&) = delete;

    // What the last check found; nullopt before the first has ended.
    std::optional<DestinationState> current() const;
    // Looks again soon (any thread).
    void recheck();

private:
    void check();
    enum class Change { None, Space, State };
    // Keeps what a check found, sets the next look's interval and tells
    // what changed.
    Change takeChange(const DestinationState& now, bool* returned);
    static std::chrono::milliseconds intervalFor(const DestinationState& state);

    mutable std::mutex mutex_; // guards state_ and the setting of watch_
    std::optional<DestinationState> state_;
    std::vector<Settings::ObserverId> observers_;
    std::stop_source stopping_;                        // ends a check's wait for a destination that does not answer
    std::unique_ptr<platform::MountTableWatch> watch_; // last: it stops the checking thread first
};
