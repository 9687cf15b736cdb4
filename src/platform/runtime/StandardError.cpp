#include "platform/runtime/StandardError.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

bool StandardError::redirectTo(const std::filesystem::path& file, std::string* error) {
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
