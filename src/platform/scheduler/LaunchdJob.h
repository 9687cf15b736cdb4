#pragma once
// What a daily per-user job needs of a launchd job description (a property
// list such as ~/Library/LaunchAgents/<Label>.plist): Label,
// ProgramArguments and StartCalendarInterval's Hour and Minute.
// Other keys are left to launchd and ignored here.

#include "platform/preferences/Value.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct LaunchdJob {
    std::string label;
    std::vector<std::string> programArguments; // never empty
    int hour = 0;                              // 0-23
    int minute = 0;                            // 0-59

    // nullopt with the reason in *error when the file cannot be read, is not
    // a property list, or any of the keys above is missing or malformed.
    static std::optional<LaunchdJob> fromFile(const std::filesystem::path& file, std::string* error);
    static std::optional<LaunchdJob> fromValue(const Value& description, std::string* error);

    // The Label alone, for unloading a description whose other keys may be
    // damaged; nullopt with *error when there is no usable Label.
    static std::optional<std::string> labelOfFile(const std::filesystem::path& file, std::string* error);

    // "" when the label can name files (non-empty, no "/", not starting with
    // ".", no control characters, at most 200 bytes), else what is wrong.
    static std::string whyUnsafeLabel(const std::string& label);

    // "07:05".
    std::string timeOfDay() const;
};

} // namespace platform
