#include "platform/runtime/Log.h"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>
#include <unistd.h>

namespace platform {
namespace {

std::mutex& nameMutex() {
    static std::mutex m;
    return m;
}

// Never destroyed: threads may still log while the process exits.
std::string& processName() {
    static auto* name = new std::string(TOLV_APP_NAME);
    return *name;
}

std::string currentProcessName() {
    std::lock_guard lock(nameMutex());
    return processName();
}

std::string timestamp() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    std::tm tm{};
    localtime_r(&now.tv_sec, &tm);
    char buf[96];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(now.tv_nsec / 1000000));
    return buf;
}

std::string formatLine(std::string_view message) {
    char ids[48];
    std::snprintf(ids, sizeof ids, "[%d:%d] ", static_cast<int>(getpid()), static_cast<int>(gettid()));
    std::string line = timestamp();
    line += ' ';
    line += currentProcessName();
    line += ids;
    line += message;
    line += '\n';
    return line;
}

// One write keeps the line whole beside other threads and child processes
// sharing the descriptor; the loop only matters for pipes that take part of
// a very long line.
void writeAll(const std::string& line) {
    const char* p = line.data();
    size_t left = line.size();
    while (left > 0) {
        ssize_t n = ::write(STDERR_FILENO, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return; // nowhere to report a broken standard error
        p += n;
        left -= static_cast<size_t>(n);
    }
}

std::string vformat(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    char small[512];
    int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0) return format; // a broken format still says where it came from
    if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
    std::string big(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(big.data(), big.size(), format, args);
    big.resize(static_cast<size_t>(n));
    return big;
}

} // namespace

static std::atomic<bool>& written() {
    static std::atomic<bool> on{true};
    return on;
}

void log(std::string_view message) {
    if (written().load(std::memory_order_relaxed)) writeAll(formatLine(message));
}

void setLogWritten(bool on) { written() = on; }

bool logWritten() { return written(); }

void logf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string message = vformat(format, args);
    va_end(args);
    log(message);
}

void setLogProcessName(std::string name) {
    std::lock_guard lock(nameMutex());
    processName() = std::move(name);
}

} // namespace platform
