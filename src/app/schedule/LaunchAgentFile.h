#pragma once
// The launch agent file: the agent template with the daily run's hour and
// minute, and, when asked, the running bundle's path as the program's
// second argument; its name and folder; and the refresh of an installed
// file whose layout is out of date.

#include "platform/preferences/Value.h"

#include <filesystem>
#include <optional>
#include <string>

struct LaunchAgentFile {
    // The version mark of the current file layout.
    static const std::string kVersionKey;
    static const std::string kCurrentVersion;

    // "<bundle identifier in lower case>.agent.plist".
    static std::string fileName(const std::string& bundleIdentifier);
    // ~/Library/LaunchAgents.
    static std::filesystem::path folder();

    // The template with StartCalendarInterval's Hour and Minute set (its
    // other entries kept) and, when bundlePath is given, item 1 of
    // ProgramArguments replaced by it. Logs as it goes.
    static platform::Value::Dictionary build(const platform::Value& agentTemplate, int hour, int minute,
                                             const std::optional<std::string>& bundlePath);

    // An installed file whose mark is the current one (in any case) is current.
    static bool isCurrent(const platform::Value::Dictionary& installed);
    // The installed file with every entry of the template but its calendar
    // interval: the user's time of day and keys the template lacks stay.
    // bundlePath, when given, goes into the program's arguments as in build.
    static platform::Value::Dictionary refreshed(platform::Value::Dictionary installed,
                                                 const platform::Value& agentTemplate,
                                                 const std::optional<std::string>& bundlePath);
};
