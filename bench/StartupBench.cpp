// Figures for the application's start: time from starting the process to
// its main window being shown (or, without a window, to the end of the
// launch), median of RUNS, and resident memory once the launch's delayed
// work is done. Each run has a fresh, empty home folder. The platform is
// whatever the environment gives:
//
//   StartupBench APP [RUNS]                                   (RUNS: default 5)
//   QT_QPA_PLATFORM=offscreen DISPLAY=:0 StartupBench APP     offscreen, window shown
//   xvfb-run -a StartupBench APP                              under Xvfb
//   env -u DISPLAY StartupBench APP                           without a window
//
// APP is build/Tolv-Archiver.app/Contents/MacOS/Tolv-Archiver.

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

const char* kShown = "Main window shown";
const char* kWindowless = "No display: running without a window";
// The second of the launch's two delayed stop requests ends its work.
const char* kDelayedStop = "Inside AppDelegate => ibStopAllWatcher";
constexpr auto kTimeout = std::chrono::seconds(30);

struct Run {
    double msToShown = 0;
    bool window = false;
    long rssKiB = 0;
};

class Child {
public:
    Child(const std::string& app, const fs::path& home) {
        int fds[2];
        if (pipe(fds) != 0) return;
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            std::string v = *e;
            if (v.rfind("HOME=", 0) == 0 || v.rfind("XDG_CONFIG_HOME=", 0) == 0 || v.rfind("TOLV_BUNDLE_PATH=", 0) == 0)
                continue;
            env.push_back(v);
        }
        env.push_back("HOME=" + home.string());
        env.push_back("XDG_CONFIG_HOME=" + (home / ".config").string());
        std::vector<char*> envp;
        for (auto& v : env) envp.push_back(v.data());
        envp.push_back(nullptr);
        std::string path = app;
        char* argv[] = {path.data(), nullptr};

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        if (posix_spawn(&pid_, app.c_str(), &actions, nullptr, argv, envp.data()) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        fd_ = fds[0];
    }
    ~Child() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            while (readSome(std::chrono::milliseconds(2000))) {
            }
            waitpid(pid_, nullptr, 0);
        }
        if (fd_ >= 0) close(fd_);
    }

    pid_t pid() const { return pid_; }
    // Reads until `text` has appeared `times` times in all; false on timeout or end.
    bool waitFor(const std::string& text, int times = 1) {
        const auto end = Clock::now() + kTimeout;
        while (count(text) < times) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
            if (left.count() <= 0 || !readSome(left)) return false;
        }
        return true;
    }
    bool has(const std::string& text) const { return output_.find(text) != std::string::npos; }
    // Reads until either text has appeared; false on timeout or end.
    bool waitForEither(const std::string& a, const std::string& b) {
        const auto end = Clock::now() + kTimeout;
        while (!has(a) && !has(b)) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
            if (left.count() <= 0 || !readSome(left)) return false;
        }
        return true;
    }

private:
    int count(const std::string& text) const {
        int n = 0;
        for (size_t at = output_.find(text); at != std::string::npos; at = output_.find(text, at + 1)) ++n;
        return n;
    }
    bool readSome(std::chrono::milliseconds timeout) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return false;
        char buf[4096];
        ssize_t n = read(fd_, buf, sizeof buf);
        if (n <= 0) return false;
        output_.append(buf, static_cast<size_t>(n));
        return true;
    }

    pid_t pid_ = -1;
    int fd_ = -1;
    std::string output_;
};

long residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

std::optional<Run> runOnce(const std::string& app) {
    std::string pattern = (fs::temp_directory_path() / "tolv-startup-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return std::nullopt;
    const fs::path home = pattern;
    fs::create_directories(home / ".config");
    std::optional<Run> run;
    {
        const auto start = Clock::now();
        Child child(app, home);
        if (child.pid() > 0 && child.waitForEither(kShown, kWindowless)) {
            Run r;
            r.msToShown = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            r.window = child.has(kShown);
            if (child.waitFor(kDelayedStop, 2)) r.rssKiB = residentKiB(child.pid());
            run = r;
        }
    }
    std::error_code ec;
    fs::remove_all(home, ec);
    return run;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s APP [RUNS]\n", argv[0]);
        return 2;
    }
    const std::string app = argv[1];
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    std::vector<double> times, rss;
    bool window = false;
    for (int i = 0; i < runs; ++i) {
        auto r = runOnce(app);
        if (!r) {
            std::fprintf(stderr, "run %d: the application did not finish its launch\n", i + 1);
            return 1;
        }
        window = r->window;
        times.push_back(r->msToShown);
        rss.push_back(r->rssKiB / 1024.0);
        std::printf("run %d: %s after %.0f ms, resident %.1f MiB\n", i + 1, r->window ? "window shown" : "launched",
                    r->msToShown, r->rssKiB / 1024.0);
    }
    std::printf("median of %d: %s after %.0f ms; resident memory after start-up %.1f MiB\n", runs,
                window ? "window shown" : "launched without a window", median(times), median(rss));
    return 0;
}
