#pragma once
// The tool's lines: platform log lines on standard error that begin
// "relaunch: ". When the application starts the tool, standard error is the
// application's log file, where the lines stand among its own.

#include <string_view>

namespace relaunch {

void logLine(std::string_view message);
void logf(const char* format, ...) __attribute__((format(printf, 1, 2)));

} // namespace relaunch
