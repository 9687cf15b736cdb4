#pragma once
// Bytes in a file that lives in memory only, to hand a child as its standard
// input: written whole beforehand, it never blocks the writer nor raises
// SIGPIPE when the child ends early. Or as a child's standard output, read
// once the child has ended: it never fills up as a pipe would. Closed with
// the object.

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
    // Everything in it from byte `from` on, wherever its position is; ""
    // when it cannot be read. A reader following a writer passes how much
    // it has read already.
    std::string contents(std::size_t from = 0) const;

private:
    explicit MemoryFile(int fd) : fd_(fd) {}
    int fd_ = -1;
};

} // namespace platform
