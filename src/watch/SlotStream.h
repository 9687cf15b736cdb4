#pragma once
// The event stream of one slot's folder as the slot's loop sees it: started
// on a thread of its own, adopted when that thread says it runs, stopped on
// request. A thread whose start was overtaken by a stop or a later start is
// ended instead of adopted. Used on the slot's loop only.

#include "core/CommonHeader.h"
#include "platform/fileevents/StreamCancel.h"
#include "watch/StreamOwner.h"

#include <cstdint>
#include <memory>

class SlotStream {
public:
    // Starts a stream thread on the slot's folder when the slot is switched
    // on and its folder valid (else logs why not). The thread holds the owner
    // until it ends.
    void start(std::int16_t index, const ParamDictionary& param, std::shared_ptr<watcher::StreamOwner> owner);
    // True when the handles are those of the start under way: they are kept.
    // Otherwise their thread is ended.
    bool adopt(const watcher::StreamHandles& handles);
    // Ends the running stream and any start under way; false when there was none.
    bool stop(std::int16_t index);

    bool running() const { return handles_.runLoop != nullptr; }
    const watcher::StreamHandles& handles() const { return handles_; }

private:
    watcher::StreamHandles handles_;
    std::shared_ptr<platform::StreamCancel> starting_; // the start whose thread may still report
};
