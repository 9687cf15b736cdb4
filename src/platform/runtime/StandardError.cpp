#include "platform/runtime/StandardError.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

namespace {

// What descriptor 2 was when first redirected (close-on-exec: no child needs it); -1 before.
int& original() {
    static int fd = -1;
    return fd;
}

} // namespace

bool StandardError::wasTerminal() { return isatty(original() >= 0 ? original() : STDERR_FILENO) == 1; }

bool StandardError::restore() {
    if (original() < 0) return false;
    std::fflush(stderr);
    return dup2(original(), STDERR_FILENO) == STDERR_FILENO;
}

bool StandardError::redirectTo(const std::filesystem::path& file, std::string* error) {
    if (original() < 0) original() = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    int fd = open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (error) *error = std::strerror(errno);
        return false;
    }
    std::fflush(stderr);
    // dup2 clears close-on-exec on descriptor 2, so children inherit the file.
    bool ok = dup2(fd, STDERR_FILENO) == STDERR_FILENO;
    if (!ok && error) *error = std::strerror(errno);
    close(fd);
    return ok;
}

} // namespace platform
