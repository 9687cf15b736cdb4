#include "platform/runtime/Pipe.h"

#include "platform/runtime/Log.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

Pipe::Pipe() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        logf("could not make a pipe: %s", std::strerror(errno));
        return;
    }
    readFd_ = fds[0];
    writeFd_ = fds[1];
}

Pipe::~Pipe() {
    closeReadEnd();
    closeWriteEnd();
}

long Pipe::read(char* buffer, unsigned long size) {
    for (;;) {
        const ssize_t n = ::read(readFd_, buffer, size);
        if (n >= 0 || errno != EINTR) return static_cast<long>(n);
    }
}

void Pipe::closeReadEnd() {
    if (readFd_ >= 0) ::close(readFd_);
    readFd_ = -1;
}

void Pipe::closeWriteEnd() {
    if (writeFd_ >= 0) ::close(writeFd_);
    writeFd_ = -1;
}

} // namespace platform
