#pragma once
// A daily job as a systemd user timer: <Label>.service runs the command,
// <Label>.timer starts it at the job's time, in the user manager's unit
// folder ($XDG_CONFIG_HOME/systemd/user, else ~/.config/systemd/user).

#include "platform/scheduler/JobCommand.h"
#include "platform/scheduler/LaunchdJob.h"

#include <filesystem>
#include <string>

namespace platform {

class SystemdUserTimer {
public:
    explicit SystemdUserTimer(std::string label);

    static std::filesystem::path unitFolder();

    // "" when "<label>.timer" is a unit name systemd takes and systemctl
    // cannot read as an option, else why not.
    static std::string whyNotAUnitName(const std::string& label);

    // The unit files' whole text.
    static std::string serviceUnit(const LaunchdJob& job, const JobCommand& command);
    static std::string timerUnit(const LaunchdJob& job);
    // One ExecStart word: double quotes, C escapes, and % and $ doubled so
    // that systemd expands no %-sequence or variable inside it.
    static std::string quoted(const std::string& argument);

    std::filesystem::path servicePath() const;
    std::filesystem::path timerPath() const;
    bool hasUnitFiles() const;

    // Writes both units (replacing earlier ones), reloads the manager and
    // enables and starts the timer, restarting it when it was there before
    // so that a new time counts. False with *error on the first failure.
    bool load(const LaunchdJob& job, const JobCommand& command, std::string* error) const;
    // Disables and stops the timer (never the service: a run in progress
    // may be the caller), removes both units and reloads the manager.
    bool unload(std::string* error) const;
    // For when no manager runs: removes the units and the timer's enabling
    // link, as a disable would, so a manager started later does not run it.
    bool removeUnitFiles(std::string* error) const;

private:
    std::string label_;
};

} // namespace platform
