#pragma once
// The platform logging call: one line per message,
// "yyyy-MM-dd HH:mm:ss.SSS Tolv-Archiver[pid:tid] message", written to
// standard error with a single write(2) so lines of several threads and
// child processes never interleave.

#include <string>
#include <string_view>

namespace platform {

void log(std::string_view message);
void logf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Process name shown in each line (default: TOLV_APP_NAME).
void setLogProcessName(std::string name);

// Whether lines are written at all (default: yes); a command run from a
// terminal keeps them to itself.
void setLogWritten(bool written);
bool logWritten();

} // namespace platform
