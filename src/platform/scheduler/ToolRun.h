#pragma once
// One synchronous run of a command-line tool found through PATH (systemctl,
// crontab): exact arguments, no shell, standard output captured, standard
// error left to the caller's log.

#include <string>
#include <vector>

namespace platform {

struct ToolRun {
    std::vector<std::string> command; // the tool's name and its arguments
    bool started = false;             // false: not on PATH, or could not start
    bool exited = false;              // false: ended by a signal
    int status = -1;                  // exit status, or the signal number
    std::string output;               // standard output

    // quiet: the tool's standard error is discarded (a probe whose failure
    // is an answer, not a fault).
    static ToolRun run(const std::string& tool, const std::vector<std::string>& arguments, bool quiet = false);
    static bool available(const std::string& tool);

    bool succeeded() const { return started && exited && status == 0; }
    // "crontab -l: exit status 1", for an error message.
    std::string failure() const;
};

} // namespace platform
