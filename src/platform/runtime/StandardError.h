#pragma once
// Sends the process's standard error, and with it the log lines and the
// error output of every child started afterwards, into a file.

#include <filesystem>
#include <string>

namespace platform {

class StandardError {
public:
    // Opens the file for appending (made when missing) and puts it in place
    // of descriptor 2. On failure standard error stays where it was, and
    // *error says why.
    static bool redirectTo(const std::filesystem::path& file, std::string* error = nullptr);
    // Puts back what descriptor 2 was before the first redirectTo; false
    // when it was never redirected.
    static bool restore();
    // Descriptor 2 as the process was started with it is a terminal.
    static bool wasTerminal();
};

} // namespace platform
