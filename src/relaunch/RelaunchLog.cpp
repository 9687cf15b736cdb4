#include "relaunch/RelaunchLog.h"

#include "platform/runtime/Log.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace relaunch {

void logLine(std::string_view message) { platform::log("relaunch: " + std::string(message)); }

void logf(const char* format, ...) {
    char buf[4096];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    logLine(buf);
}

} // namespace relaunch
