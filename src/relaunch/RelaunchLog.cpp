#include "relaunch/RelaunchLog.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace relaunch {
namespace {

// The loop only matters for a pipe that takes part of a long line; a
// signal arriving mid-write must not cut the line short either.
void writeToStandardError(const std::string& text) {
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t n = ::write(STDERR_FILENO, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return; // nowhere left to tell anyone
        p += n;
        left -= static_cast<size_t>(n);
    }
}

} // namespace

void logLine(std::string_view message) {
    std::string line = "relaunch: ";
    line += message;
    line += '\n';
    writeToStandardError(line);
}

void logf(const char* format, ...) {
    char buf[4096];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    logLine(buf);
}

} // namespace relaunch
