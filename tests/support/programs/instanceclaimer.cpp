// One start of an application that runs once per user:
//   instanceclaimer APPNAME RECORD_FILE DONE_FILE
// First reads its standard input to the end, so a test can hold many starts
// back and let them all go at the same moment. Then claims the instance,
// handing over its own pid.
//   primary    writes "primary PID\n", appends each request it receives as
//              one line (arguments joined by spaces) to RECORD_FILE and
//              replies with the number of lines so far as the status;
//              exits 0 once DONE_FILE exists
//   secondary  writes the reply's text and exits with its status
//   otherwise  exits 100 (no answer) or 101 (nothing could be set up)
#include "platform/desktop/SingleInstance.h"

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <thread>
#include <unistd.h>

using platform::SingleInstance;
using namespace std::chrono_literals;

namespace {

void awaitEndOfInput() {
    char buffer[64];
    while (read(STDIN_FILENO, buffer, sizeof buffer) > 0) {}
}

// Only the service thread calls it, so counting needs no lock.
SingleInstance::Handler recorder(std::string file) {
    return [file, lines = 0](const std::vector<std::string>& arguments) mutable {
        std::string line;
        for (const auto& a : arguments) line += (line.empty() ? "" : " ") + a;
        line += "\n";
        int fd = open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
        bool written = fd >= 0 && write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
        if (fd >= 0) close(fd);
        if (!written) return SingleInstance::Reply{99, "could not record\n"};
        return SingleInstance::Reply{++lines, "recorded " + line};
    };
}

int servePrimary(const std::string& doneFile) {
    std::printf("primary %d\n", static_cast<int>(getpid()));
    std::fflush(stdout);
    auto giveUp = std::chrono::steady_clock::now() + 60s;
    while (access(doneFile.c_str(), F_OK) != 0) {
        if (std::chrono::steady_clock::now() > giveUp) return 3;
        std::this_thread::sleep_for(5ms);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    awaitEndOfInput();
    auto claim = SingleInstance::claim(argv[1], {std::to_string(getpid())}, recorder(argv[2]), 5s);
    if (claim.primary) return servePrimary(argv[3]);
    if (!claim.otherInstance) return 101;
    if (!claim.reply) return 100;
    std::fputs(claim.reply->text.c_str(), stdout);
    return claim.reply->status;
}
