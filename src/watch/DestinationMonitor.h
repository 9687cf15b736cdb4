#pragma once
// Keeps an eye on the destination for the whole application: whether passes
// may archive into it (ArchiveDestination::locate), looked at again when
// the mount table changes, after a pass that met a destination problem,
// when the chosen folder changes, and, while it is not ready, once a
// minute. Each change is posted as
// "DestinationDidChange"; the rows show it and, when the destination comes
// back from a problem, the watchers archive what arrived meanwhile.
//
// Checks run on a thread of the monitor's own, never on the GUI thread.

#include "core/ArchiveDestination.h"
#include "platform/runtime/NotificationCenter.h"
#include "platform/preferences/UserDefaults.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace platform {
class MountTableWatch;
}

class DestinationMonitor {
public:
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
    static bool metADestinationProblem(const platform::Notification& passEnded);
    // Keeps what a check found and sets the next look's interval; false when
    // nothing changed.
    bool takeChange(const DestinationState& now, bool* returned);

    mutable std::mutex mutex_; // guards state_ and the setting of watch_
    std::optional<DestinationState> state_;
    std::vector<platform::UserDefaults::ObserverId> observers_;
    std::unique_ptr<platform::MountTableWatch> watch_; // last: it stops the checking thread first
};
