#pragma once
// Small synchronous helpers: running the bundle's scripts and system
// commands, showing a folder in the file manager, the system beep, and the
// name of the current log day.

#include "platform/desktop/Bundle.h"
#include "platform/runtime/DateFormat.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

using ScriptParameters = std::optional<std::vector<std::string>>;

// Runs the program with its standard output collected and waits for it. The
// output on success, "Task failed." on a non-zero status, nullopt without a
// program or when the output is not UTF-8.
std::optional<std::string> runThisShellScript(const std::optional<std::string>& path, const ScriptParameters& parameters);

// Runs a script of the main bundle (an auxiliary executable of that name,
// else the resource name.ext) and waits for it. True when it ran and
// exited with status 0; callers that only need it run may ignore that.
bool runShellScript(const std::optional<std::string>& name, const ScriptParameters& parameters);
bool runShellScript(const platform::Bundle& bundle, const std::optional<std::string>& name,
                    const ScriptParameters& parameters);
// The same, with the script's standard output in *answer whatever its
// status (a failing script may say why there).
bool runShellScript(const std::string& name, const ScriptParameters& parameters, std::string* answer);

// The quiet twin for system commands: the output whatever the status.
std::optional<std::string> runShellScript2(const std::optional<std::string>& path, const ScriptParameters& parameters);

// Shows the folder in the desktop's file manager; anything but an existing
// folder beeps instead.
void revealItemInFinder(const std::optional<std::string>& path);

// The system beep goes through a hook that the user interface connects;
// without one it is only logged.
void setSystemBeepHook(std::function<void()> hook);
void systemBeep();

// The date, as yyyy-MM-dd in the local zone, of the moment that lies the
// given hours and minutes before now: with 3 and 0 the day turns at 03:00.
std::string computeCurrentDaysFolderString2(int hours, int minutes);
std::string computeCurrentDaysFolderString2(int hours, int minutes, platform::Date now);
