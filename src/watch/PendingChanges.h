#pragma once
// What the watch events of a slot named since a pass last took them: the
// files that changed and the folders whose entries must be listed, for an
// incremental pass, or the word that the next pass must walk the whole
// folder (events were dropped, too much changed at once, or a full pass was
// asked for). Used on the slot's loop only.

#include "platform/fileevents/FileEventStream.h"

#include <cstddef>
#include <set>
#include <string>
#include <vector>

class PendingChanges {
public:
    // Past this many folders a full walk costs less than listing them one by one.
    static constexpr std::size_t kMostFolders = 4096;
    // Past this many files, the same: each costs a few looks of its own.
    static constexpr std::size_t kMostFiles = 50000;

    void add(const std::vector<std::string>& folders, const std::vector<std::string>& files);
    // The files and folders a stream's events named; events it could not
    // report one by one (dropped, the folder itself gone) ask for a full walk.
    void addEvents(const std::vector<platform::FileEventStream::Event>& events);
    void requestFull();

    struct Taken {
        bool full = false;
        std::vector<std::string> folders; // empty when full
        std::vector<std::string> files;   // empty when full
    };
    // Hands over what is pending and starts afresh.
    Taken take();
    bool fullRequested() const;
    bool empty() const;

private:
    std::set<std::string> folders_;
    std::set<std::string> files_;
    bool full_ = false;
};
