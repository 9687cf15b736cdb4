#include "platform/desktop/FileSystemFlush.h"

#include "platform/runtime/FileDescriptor.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

bool flushFileSystem(const std::string& path, std::string* error) {
    const FileDescriptor folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const bool flushed = folder.valid() && ::syncfs(folder.get()) == 0;
    if (!flushed && error) *error = path + ": " + std::strerror(errno);
    return flushed;
}

} // namespace platform
