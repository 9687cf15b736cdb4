#pragma once
// What `--status` prints: each folder slot's path and state, as text for
// people or as one JSON object for scripts. Read from the preferences; a
// running application adds which watchers are watching.

#include <string>
#include <vector>

struct StatusReport {
    struct Slot {
        int slot = 0;
        std::string name; // "Destination/Backup", "Main Images", ...
        std::string path; // "" when none is chosen
        bool valid = false;
        bool enabled = false; // sources only
        bool watched = false; // its stream runs (only a running application knows)
        bool busy = false;    // a pass is under way
    };

    bool running = false;
    std::vector<Slot> folders; // the destination first, then the three sources

    static StatusReport fromPreferences(bool running);
    std::string text() const;
    std::string json() const;
};
