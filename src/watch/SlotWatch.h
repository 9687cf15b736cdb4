#pragma once
// What one folder slot is doing, kept for whoever shows or reports it: the
// slot's watcher (a source slot owns it; the destination has none), and
// what the watcher and the destination's monitor last told of it: its last
// pass, whether a pass runs, a refusal, the destination's problem and free
// space. A row draws from it, the status report and the problem reporter
// read it, and none of them needs a window to exist for it to be true.
//
// The news arrives as notifications on the posting thread (a watcher's, the
// monitor's); what is kept is read from any thread.

#include "core/CommonHeader.h"
#include "engines/PassProgress.h"
#include "pass/PassResult.h"
#include "platform/runtime/NotificationCenter.h"
#include "watch/SlotState.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class WatcherNSObject;

class SlotWatch {
public:
    // A source slot creates its watcher, subscribed and started as the
    // preferences say; the destination slot only listens.
    SlotWatch(int slot, ParamDictionary params);
    ~SlotWatch();
    SlotWatch(const SlotWatch&) = delete;
    SlotWatch& operator=(const SlotWatch&) = delete;

    int slot() const { return slot_; }
    const ParamDictionary& params() const { return params_; }
    // Null for the destination.
    const std::shared_ptr<WatcherNSObject>& watcher() const { return watcher_; }

    // Whether the news concerns this slot: the watcher it names, else its "index".
    bool concerns(const platform::Notification& n) const;

    // What the slot is doing, from the stored preferences, its watcher and the news.
    SlotState::Inputs stateInputs() const;
    SlotState state() const;
    std::optional<PassResult> lastPass() const;
    // A pass runs: its start was told and its stop not yet, or its copy run has files to take.
    bool busy() const;
    std::optional<PassProgress::Shown> progress() const;
    // Why the last pass was refused, until the next one begins.
    std::optional<std::string> refusal() const;
    // What keeps passes from archiving into the destination, "" when
    // nothing, nullopt before it was first looked at; its free space as last found.
    std::optional<std::string> destinationProblem() const;
    std::optional<std::uintmax_t> destinationFreeBytes() const;
    // A reading of every copy of the folder's archive under way: copies
    // read of those recorded; nullopt when none runs. Set from the reading's thread.
    void setArchiveCheck(std::optional<PassProgress::Shown> progress);
    std::optional<PassProgress::Shown> archiveCheck() const;

private:
    void subscribe();
    void passStarted(const platform::Notification& n);
    void passEnded(const platform::Notification& n);
    void destinationChanged(const platform::Notification& n);

    const int slot_;
    const ParamDictionary params_;
    std::shared_ptr<WatcherNSObject> watcher_;
    std::atomic<bool> passRunning_{false};
    mutable std::mutex mutex_; // guards what follows
    std::optional<PassResult> lastPass_;
    std::optional<std::string> refusal_;
    std::optional<std::string> destinationProblem_;
    std::optional<std::uintmax_t> destinationFreeBytes_;
    std::optional<PassProgress::Shown> archiveCheck_;
};
