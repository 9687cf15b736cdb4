// A child for the watch-limit test. In a user namespace of its own, whose
// inotify watch limit it lowers to LIMIT, it watches FOLDER, makes the
// folder NEW below it, and writes every delivered event to stdout as
// "FLAGS PATH" (flags in hex). Its log lines go to stdout too.
//   watch_limited_stream LIMIT FOLDER NEW
// Exits 77 when it cannot have a namespace with a lower limit.
#include "platform/fileevents/FileEventStream.h"
#include "platform/runtime/RunLoop.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sched.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kCannotLimit = 77;

bool writeProcFile(const std::string& file, const std::string& text) {
    std::ofstream out(file);
    out << text;
    out.flush();
    return bool(out);
}

// The watch limit of a user namespace applies to the instances made in it,
// and the namespace's own root may set it; the machine's limit stays as it is.
bool enterNamespaceWithWatchLimit(const char* limit) {
    const uid_t uid = getuid();
    const gid_t gid = getgid();
    if (unshare(CLONE_NEWUSER) != 0) {
        std::printf("no user namespace: %s\n", std::strerror(errno));
        return false;
    }
    writeProcFile("/proc/self/setgroups", "deny");
    if (!writeProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
        !writeProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1") ||
        !writeProcFile("/proc/sys/user/max_inotify_watches", limit)) {
        std::printf("cannot lower the watch limit in the namespace\n");
        return false;
    }
    return true;
}

void printEvents(const std::vector<platform::FileEventStream::Event>& events) {
    for (const auto& event : events) std::printf("%#x %s\n", event.flags, event.path.c_str());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: watch_limited_stream LIMIT FOLDER NEW\n");
        return 2;
    }
    dup2(STDOUT_FILENO, STDERR_FILENO);
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (!enterNamespaceWithWatchLimit(argv[1])) return kCannotLimit;

    auto loop = std::make_shared<platform::RunLoop>();
    auto stream = platform::FileEventStream::create(argv[2], 0.0, printEvents);
    if (!stream || !stream->scheduleWithRunLoop(loop) || !stream->start()) return 1;
    stream->flushSync();
    if (mkdir(argv[3], 0755) != 0) return 1;
    stream->flushSync();
    return 0;
}
