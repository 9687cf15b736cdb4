#pragma once
// A mount made by a test and always taken down again: a fresh tmpfs, a bind
// of another folder, or a block device. Mounting needs privileges a test
// may not have, so every maker reports why it could not mount and the test
// skips with that reason.

#include <filesystem>
#include <memory>
#include <string>

namespace testing_support {

class ScopedMount {
public:
    // options as mount -o takes them ("size=1m,nr_inodes=40").
    static std::unique_ptr<ScopedMount> tmpfs(const std::filesystem::path& at, std::string* why,
                                              const std::string& options = "size=16m");
    static std::unique_ptr<ScopedMount> bind(const std::filesystem::path& from, const std::filesystem::path& at,
                                             std::string* why);
    static std::unique_ptr<ScopedMount> device(const std::filesystem::path& device, const std::string& fsType,
                                               const std::filesystem::path& at, std::string* why);
    // A file system the kernel does not have, mounted by its own program
    // ("fusefat -o rw+ DEVICE AT").
    static std::unique_ptr<ScopedMount> byProgram(const std::string& program, const std::filesystem::path& device,
                                                  const std::filesystem::path& at, std::string* why);
    ~ScopedMount();
    ScopedMount(const ScopedMount&) = delete;
    ScopedMount& operator=(const ScopedMount&) = delete;

    // Takes the mount down now; the destructor then does nothing. NO when
    // the kernel refused.
    bool unmount();
    // Moves the mount to another folder (mount --move), as a disk mounted
    // again elsewhere; NO when the kernel refused.
    bool moveTo(const std::filesystem::path& to);
    // Makes the mount read-only, as a disk whose file system turned so after an error.
    bool remountReadOnly();
    const std::filesystem::path& at() const { return at_; }

private:
    explicit ScopedMount(std::filesystem::path at) : at_(std::move(at)) {}
    std::filesystem::path at_;
    bool mounted_ = true;
};

} // namespace testing_support
