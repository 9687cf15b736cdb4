#pragma once
// The application's command line: what a start asks for. A start either
// launches the application or, when one already runs, hands its request to
// it (see ApplicationMain). Qt's own options are left for Qt.

#include <optional>
#include <string>
#include <vector>

struct CommandLine {
    enum class Action { Launch, Help, Version, Scan, StartAll, StopAll, Poll, Quit, Relaunch, Status, Schedule, Unschedule, Autostart,
                        SetDestination, SetSource, Enable, Disable, Set, CheckDestination, Verify };

    Action action = Action::Launch;
    bool force = false;    // --quit --force: answer the busy alert with "Force Terminate"
    bool json = false;     // --status --json
    bool verbose = false;  // --verbose: trace lines on standard error
    bool fromLaunchAgent = false;
    std::optional<std::string> grabWindowFile;
    std::string scheduleTime; // --schedule HH:MM
    bool autostart = false;   // --autostart on|off
    int slot = 0;             // --set-source N, --enable N, --disable N, --verify [N]: 1 to 3 (0: every folder)
    std::string path;         // --set-destination PATH, --set-source N PATH
    std::string settingName, settingValue; // --set NAME VALUE
    std::vector<std::string> files; // named on the command line: open requests
    std::vector<std::string> urls;  // "tolv-archiver:" URLs: get-URL events
    std::optional<std::string> error; // why the line was refused (exit status 2)

    // argv[0] included. Never fails: a bad line sets `error`.
    static CommandLine parse(const std::vector<std::string>& arguments);
    static std::string helpText(const std::string& programName, const std::string& preferencesFile,
                                const std::string& logFolder);

    // A start with nothing to ask: a reopen of the running application.
    bool isBare() const;
    // Commands that act on the running application and may start one.
    bool isCommand() const;
    // Commands that act on the running application, or on the preferences
    // and the scheduler of a start that ends once it has acted.
    bool isScheduleCommand() const;
    // Set-up commands: they act on the running application, or alone on
    // the preference file when none runs.
    bool isSetupCommand() const;
    // Either: a start that finds no application acts alone and ends.
    bool actsAloneWhenNoneRuns() const;
};
