#pragma once
// What the watch events of a slot named since a pass last took them: the
// folders in which something changed, for an incremental pass, or the word
// that the next pass must walk the whole folder (events were dropped, too
// many folders changed, or a full pass was asked for). Used on the slot's
// loop only.

#include "platform/fileevents/FileEventStream.h"

#include <cstddef>
#include <set>
#include <string>
#include <vector>

class PendingChanges {
public:
    // Past this many folders a full walk costs less than listing them one by one.
    static constexpr std::size_t kMostFolders = 4096;

    void addFolders(const std::vector<std::string>& folders);
    // The folders a stream's events named; events it could not report one
    // by one (dropped, the folder itself gone) ask for a full walk.
    void addEvents(const std::vector<platform::FileEventStream::Event>& events);
    void requestFull();

    struct Taken {
        bool full = false;
        std::vector<std::string> folders; // empty when full
    };
    // Hands over what is pending and starts afresh.
    Taken take();
    bool fullRequested() const;
    bool empty() const;

private:
    std::set<std::string> folders_;
    bool full_ = false;
};
