#include "platform/desktop/FileSystemFlush.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

bool flushFileSystem(const std::string& path, std::string* error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool flushed = fd >= 0 && ::syncfs(fd) == 0;
    if (!flushed && error) *error = path + ": " + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return flushed;
}

} // namespace platform
