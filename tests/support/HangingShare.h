#pragma once
// A folder mounted again through FUSE (the hangingfs test program) that the
// test can make stop answering, as a network share whose server hangs: every
// call into it then waits in the kernel until release(). It can also keep
// times as FAT does, to two seconds. Mounting needs root and libfuse3;
// make() says why it could not, and the test skips.

#include <filesystem>
#include <memory>
#include <string>
#include <sys/types.h>

namespace testing_support {

class HangingShare {
public:
    enum class Times { Exact, TwoSeconds };
    static std::unique_ptr<HangingShare> make(const std::filesystem::path& backing, const std::filesystem::path& at,
                                              std::string* why, Times times = Times::Exact);
    ~HangingShare(); // releases, unmounts and ends the program
    HangingShare(const HangingShare&) = delete;
    HangingShare& operator=(const HangingShare&) = delete;

    void hang() const;
    void release() const;
    const std::filesystem::path& at() const { return at_; }

private:
    HangingShare(std::filesystem::path at, pid_t pid) : at_(std::move(at)), pid_(pid) {}
    std::filesystem::path at_;
    pid_t pid_;
};

} // namespace testing_support
