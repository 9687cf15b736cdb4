#pragma once
// Runs the built application (or a copy of its bundle) as a child process
// with its standard output and error in a file, so a test can wait for a
// log line, send a signal, and see how the process ended.

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace testing_support {

class AppProcess {
public:
    struct Options {
        std::filesystem::path executable;
        std::vector<std::string> arguments; // argv[1..]
        // Changes to the inherited environment; nullopt removes a variable.
        std::map<std::string, std::optional<std::string>> environment;
    };

    // The application of the build tree, found from its bundle rather than
    // TOLV_BUNDLE_PATH, which is removed, as is DISPLAY unless asked for.
    static Options application(std::vector<std::string> arguments = {});
    static Options applicationInBundle(const std::filesystem::path& bundle, std::vector<std::string> arguments = {});

    explicit AppProcess(const Options& options);
    ~AppProcess(); // kills a child still running
    AppProcess(const AppProcess&) = delete;
    AppProcess& operator=(const AppProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    std::string output() const;
    // Waits until the output holds text; false after the timeout or when
    // the child ended without writing it.
    bool waitForOutput(std::string_view text, std::chrono::milliseconds timeout = std::chrono::seconds(30));
    void signal(int signalNumber) const;
    // The exit status, or 128 + the signal that ended the child; nullopt
    // while it still runs after the timeout.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(30));

private:
    bool reap(bool block);

    pid_t pid_ = -1;
    std::filesystem::path outputFile_;
    std::optional<int> exitStatus_;
};

// How a run of the application that was left to end by itself ended.
struct Finished {
    std::optional<int> status; // nullopt: still running after the timeout (then killed)
    std::string output;
};
Finished runToEnd(std::vector<std::string> arguments, std::chrono::milliseconds timeout = std::chrono::seconds(30));

} // namespace testing_support
