#pragma once
// The tool's lines on standard error, "relaunch: message". When the
// application starts the tool, standard error is the application's log file,
// so a line goes out in one write and never interleaves with another
// process's lines.

#include <string_view>

namespace relaunch {

void logLine(std::string_view message);
void logf(const char* format, ...) __attribute__((format(printf, 1, 2)));

} // namespace relaunch
