#pragma once
// Bytes in a file that lives in memory only, to hand a child as its standard
// input: written whole beforehand, it never blocks the writer nor raises
// SIGPIPE when the child ends early. Closed with the object.

#include <optional>
#include <string>
#include <string_view>

namespace platform {

class MemoryFile {
public:
    // Positioned at its start; nullopt (and why in *error) when it cannot be made.
    static std::optional<MemoryFile> withContents(std::string_view contents, std::string* error = nullptr);

    MemoryFile(MemoryFile&& other) noexcept;
    MemoryFile& operator=(MemoryFile&&) = delete;
    MemoryFile(const MemoryFile&) = delete;
    ~MemoryFile();

    int fd() const { return fd_; }

private:
    explicit MemoryFile(int fd) : fd_(fd) {}
    int fd_ = -1;
};

} // namespace platform
