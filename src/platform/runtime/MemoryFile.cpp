#include "platform/runtime/MemoryFile.h"

#include <cerrno>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace platform {

std::optional<MemoryFile> MemoryFile::withContents(std::string_view contents, std::string* error) {
    MemoryFile file(::memfd_create("tolv list", MFD_CLOEXEC));
    bool ok = file.fd_ >= 0;
    for (size_t done = 0; ok && done < contents.size();) {
        const ssize_t n = ::write(file.fd_, contents.data() + done, contents.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<size_t>(n);
    }
    ok = ok && ::lseek(file.fd_, 0, SEEK_SET) == 0;
    if (ok) return file;
    if (error) *error = std::strerror(errno);
    return std::nullopt;
}

std::string MemoryFile::contents(std::size_t from) const {
    std::string all;
    char buffer[65536];
    for (off_t at = static_cast<off_t>(from);;) {
        const ssize_t n = ::pread(fd_, buffer, sizeof buffer, at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        all.append(buffer, static_cast<size_t>(n));
        at += n;
    }
    return all;
}

MemoryFile::MemoryFile(MemoryFile&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

MemoryFile::~MemoryFile() {
    if (fd_ >= 0) ::close(fd_);
}

} // namespace platform
