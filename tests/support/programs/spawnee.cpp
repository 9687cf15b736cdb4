// A child for process tests. The first argument picks what it does:
//   args            writes its whole argv to stdout, each entry followed by NUL
//   cwd             writes its working directory to stdout
//   exit N          exits with status N
//   sleep SECONDS   sleeps, then exits 0
//   bytes N         writes N bytes ('a'..'z' repeating) to stdout
//   log N TAG       writes N lines "TAG i" through the platform logging call
//   fds             writes the numbers of its open descriptors above 2 to stdout
//   cat             copies stdin to stdout
//   signal N        raises signal N
//   signals         writes the ignored and the blocked signals to stdout
#include "platform/runtime/Log.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

void writeAll(const char* p, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(STDOUT_FILENO, p, n);
        if (w <= 0) std::exit(3);
        p += w;
        n -= static_cast<size_t>(w);
    }
}

void writeAll(const std::string& s) { writeAll(s.data(), s.size()); }

void printArgs(int argc, char** argv) {
    for (int i = 0; i < argc; ++i) writeAll(argv[i], std::strlen(argv[i]) + 1);
}

void printCwd() {
    char buf[4096];
    if (!getcwd(buf, sizeof buf)) std::exit(4);
    writeAll(buf);
}

void printBytes(long n) {
    // A whole number of alphabets, so every chunk starts again at 'a'.
    std::string chunk(26 * 2600, '\0');
    for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>('a' + i % 26);
    for (long done = 0; done < n;) {
        long size = std::min<long>(n - done, static_cast<long>(chunk.size()));
        writeAll(chunk.data(), static_cast<size_t>(size));
        done += size;
    }
}

void printFds() {
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) std::exit(5);
    std::string out;
    while (dirent* e = readdir(dir)) {
        int fd = std::atoi(e->d_name);
        if (e->d_name[0] != '.' && fd > 2 && fd != dirfd(dir)) out += std::to_string(fd) + " ";
    }
    closedir(dir);
    writeAll(out);
}

void copyStdin() {
    char buf[65536];
    ssize_t n;
    while ((n = ::read(STDIN_FILENO, buf, sizeof buf)) > 0) writeAll(buf, static_cast<size_t>(n));
}

void printSignals() {
    sigset_t blocked;
    sigprocmask(SIG_BLOCK, nullptr, &blocked);
    std::string ignored = "ignored:", masked = "blocked:";
    for (int sig = 1; sig < 32; ++sig) {
        struct sigaction sa {};
        if (sigaction(sig, nullptr, &sa) == 0 && sa.sa_handler == SIG_IGN) ignored += " " + std::to_string(sig);
        if (sigismember(&blocked, sig)) masked += " " + std::to_string(sig);
    }
    writeAll(ignored + "\n" + masked + "\n");
}

} // namespace

int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "";
    auto number = [&](int i) { return argc > i ? std::atol(argv[i]) : 0L; };
    if (mode == "args") printArgs(argc, argv);
    else if (mode == "cwd") printCwd();
    else if (mode == "exit") return static_cast<int>(number(2));
    else if (mode == "sleep") std::this_thread::sleep_for(std::chrono::duration<double>(argc > 2 ? std::atof(argv[2]) : 0));
    else if (mode == "bytes") printBytes(number(2));
    else if (mode == "log") {
        for (long i = 0; i < number(2); ++i) platform::logf("%s %ld", argc > 3 ? argv[3] : "child", i);
    } else if (mode == "fds") printFds();
    else if (mode == "cat") copyStdin();
    else if (mode == "signal") raise(static_cast<int>(number(2)));
    else if (mode == "signals") printSignals();
    else return 2;
    return 0;
}
