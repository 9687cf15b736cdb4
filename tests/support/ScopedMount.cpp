#include "support/ScopedMount.h"

#include <sys/mount.h>

#include <cerrno>
#include <cstring>

namespace fs = std::filesystem;

namespace testing_support {

namespace {

std::unique_ptr<ScopedMount> failed(std::string* why, const std::string& what) {
    if (why) *why = what + ": " + std::strerror(errno);
    return nullptr;
}

} // namespace

std::unique_ptr<ScopedMount> ScopedMount::tmpfs(const fs::path& at, std::string* why) {
    fs::create_directories(at);
    if (mount("tmpfs", at.c_str(), "tmpfs", 0, "size=16m") != 0) return failed(why, "mount -t tmpfs " + at.string());
    return std::unique_ptr<ScopedMount>(new ScopedMount(at));
}

std::unique_ptr<ScopedMount> ScopedMount::bind(const fs::path& from, const fs::path& at, std::string* why) {
    fs::create_directories(at);
    if (mount(from.c_str(), at.c_str(), nullptr, MS_BIND, nullptr) != 0)
        return failed(why, "mount --bind " + from.string() + " " + at.string());
    return std::unique_ptr<ScopedMount>(new ScopedMount(at));
}

std::unique_ptr<ScopedMount> ScopedMount::device(const fs::path& device, const std::string& fsType, const fs::path& at,
                                                 std::string* why) {
    fs::create_directories(at);
    if (mount(device.c_str(), at.c_str(), fsType.c_str(), 0, nullptr) != 0)
        return failed(why, "mount " + device.string() + " " + at.string());
    return std::unique_ptr<ScopedMount>(new ScopedMount(at));
}

ScopedMount::~ScopedMount() {
    if (mounted_) umount2(at_.c_str(), MNT_DETACH);
}

bool ScopedMount::unmount() {
    if (!mounted_) return true;
    if (umount2(at_.c_str(), 0) != 0) return false;
    mounted_ = false;
    return true;
}

} // namespace testing_support
