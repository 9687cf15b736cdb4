#include "support/ScopedMount.h"

#include <sys/mount.h>

#include <cerrno>
#include <cstdlib>
#include <chrono>
#include <thread>
#include <cstring>

namespace fs = std::filesystem;

namespace testing_support {

namespace {

std::unique_ptr<ScopedMount> failed(std::string* why, const std::string& what) {
    if (why) *why = what + ": " + std::strerror(errno);
    return nullptr;
}

} // namespace

std::unique_ptr<ScopedMount> ScopedMount::tmpfs(const fs::path& at, std::string* why, const std::string& options) {
    fs::create_directories(at);
    if (mount("tmpfs", at.c_str(), "tmpfs", 0, options.c_str()) != 0) return failed(why, "mount -t tmpfs " + at.string());
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

std::unique_ptr<ScopedMount> ScopedMount::byProgram(const std::string& program, const fs::path& device,
                                                    const fs::path& at, std::string* why) {
    fs::create_directories(at);
    const std::string command = program + " '" + device.string() + "' '" + at.string() + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) {
        if (why) *why = program + " could not mount " + device.string();
        return nullptr;
    }
    return std::unique_ptr<ScopedMount>(new ScopedMount(at));
}

bool ScopedMount::remountReadOnly() {
    return mount(nullptr, at_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

bool ScopedMount::moveTo(const fs::path& to) {
    fs::create_directories(to);
    if (mount(at_.c_str(), to.c_str(), nullptr, MS_MOVE, nullptr) != 0) return false;
    at_ = to;
    return true;
}

ScopedMount::~ScopedMount() {
    if (mounted_) umount2(at_.c_str(), MNT_DETACH);
}

// Another test process walking the temporary folders (a resolver search from
// a parent folder) can hold a folder of this volume open for a moment, and
// the kernel refuses the unmount with EBUSY. The tests only need the volume
// gone from its place, so after a short wait it is detached lazily: the path
// is empty at once and the kernel frees the volume when the last user leaves.
bool ScopedMount::unmount() {
    if (!mounted_) return true;
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (umount2(at_.c_str(), 0) == 0) {
            mounted_ = false;
            return true;
        }
        if (errno != EBUSY) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10 * (attempt + 1)));
    }
    if (umount2(at_.c_str(), MNT_DETACH) != 0) return false;
    mounted_ = false;
    return true;
}

} // namespace testing_support
