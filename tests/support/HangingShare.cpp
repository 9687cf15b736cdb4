#include "support/HangingShare.h"

#include <chrono>
#include <csignal>
#include <thread>

#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

namespace testing_support {
namespace {

bool isMountPoint(const fs::path& at) {
    struct stat self {
    }, parent{};
    return stat(at.c_str(), &self) == 0 && stat(at.parent_path().c_str(), &parent) == 0 && self.st_dev != parent.st_dev;
}

} // namespace

std::unique_ptr<HangingShare> HangingShare::make(const fs::path& backing, const fs::path& at, std::string* why,
                                                 Times times) {
    const fs::path program = fs::path(TOLV_TEST_PROGRAMS_DIR) / "hangingfs";
    if (!fs::exists(program)) return *why = "hangingfs was not built (no libfuse3)", nullptr;
    if (geteuid() != 0 || !fs::exists("/dev/fuse"))
        return *why = "mounting through FUSE needs root and /dev/fuse", nullptr;
    fs::create_directories(backing);
    fs::create_directories(at);
    const std::string programText = program.string(), backingText = backing.string(), atText = at.string();
    char twoSeconds[] = "--two-second-times";
    char* argv[] = {const_cast<char*>(programText.c_str()), const_cast<char*>(backingText.c_str()),
                    const_cast<char*>(atText.c_str()), times == Times::TwoSeconds ? twoSeconds : nullptr, nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv, environ) != 0)
        return *why = "hangingfs did not start", nullptr;
    std::unique_ptr<HangingShare> share(new HangingShare(at, pid));
    for (int i = 0; i < 250 && !isMountPoint(at); ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            share->pid_ = -1;
            return *why = "hangingfs could not mount " + atText, nullptr;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!isMountPoint(at)) return *why = "hangingfs did not mount " + atText + " in 5 s", nullptr;
    return share;
}

HangingShare::~HangingShare() {
    if (pid_ <= 0) return;
    release();
    umount2(at_.c_str(), MNT_DETACH);
    // Ending the program aborts the connection: any call still waiting fails.
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
}

void HangingShare::hang() const { kill(pid_, SIGUSR1); }

void HangingShare::release() const { kill(pid_, SIGUSR2); }

} // namespace testing_support
