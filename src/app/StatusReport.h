#pragma once
// What `--status` prints: each folder slot's path and state, and the daily
// schedule, as text for
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

    struct Schedule {
        bool set = false;
        std::string time;           // "07:05"
        std::string nextRun;        // as the window shows it
        std::string nextRunIso;     // ISO 8601, for scripts
        std::string lastAgentStart; // when the schedule last started the application
    };

    bool running = false;
    std::vector<Slot> folders; // the destination first, then the three sources
    Schedule schedule;

    static StatusReport fromPreferences(bool running);
    std::string text() const;
    std::string json() const;
};
