#include "support/StderrCapture.h"

#include "support/TempHome.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace testing_support {

StderrCapture::StderrCapture() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tolv-stderr-XXXXXX").string();
    int fd = mkstemp(pattern.data());
    if (fd < 0) throw std::runtime_error("mkstemp failed");
    path_ = pattern;
    // Appending, as the log file is opened, so lines from several writers never overwrite each other.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_APPEND);
    std::fflush(stderr);
    saved_ = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    dup2(fd, STDERR_FILENO);
    close(fd);
}

StderrCapture::~StderrCapture() {
    std::fflush(stderr);
    if (saved_ >= 0) {
        dup2(saved_, STDERR_FILENO);
        close(saved_);
    }
    std::remove(path_.c_str());
}

std::string StderrCapture::text() const { return readFile(path_); }

std::vector<std::string> StderrCapture::lines() const {
    std::vector<std::string> out;
    std::istringstream in(text());
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

} // namespace testing_support
