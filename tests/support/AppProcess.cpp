#include "support/AppProcess.h"

#include "support/TempHome.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

namespace testing_support {
namespace {

std::vector<std::string> environmentWith(const std::map<std::string, std::optional<std::string>>& changes) {
    std::map<std::string, std::string> vars;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        auto eq = entry.find('=');
        if (eq != std::string::npos) vars[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (const auto& [name, value] : changes) {
        if (value) vars[name] = *value;
        else vars.erase(name);
    }
    std::vector<std::string> out;
    for (const auto& [name, value] : vars) out.push_back(name + "=" + value);
    return out;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (auto& s : strings) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

} // namespace

AppProcess::Options AppProcess::application(std::vector<std::string> arguments) {
    return applicationInBundle(TOLV_TEST_BUNDLE_PATH, std::move(arguments));
}

AppProcess::Options AppProcess::applicationInBundle(const fs::path& bundle, std::vector<std::string> arguments) {
    Options options;
    options.executable = bundle / "Contents/MacOS/Tolv-Archiver";
    options.arguments = std::move(arguments);
    options.environment = {{"TOLV_BUNDLE_PATH", std::nullopt},
                           {"DISPLAY", std::nullopt},
                           {"WAYLAND_DISPLAY", std::nullopt}};
    return options;
}

AppProcess::AppProcess(const Options& options) {
    std::string pattern = (fs::temp_directory_path() / "tolv-app-output-XXXXXX").string();
    int fd = mkstemp(pattern.data());
    if (fd < 0) return;
    outputFile_ = pattern;

    std::vector<std::string> argv{options.executable.string()};
    argv.insert(argv.end(), options.arguments.begin(), options.arguments.end());
    std::vector<std::string> envp = environmentWith(options.environment);
    auto argvPointers = pointers(argv);
    auto envpPointers = pointers(envp);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fd, STDERR_FILENO);
    if (posix_spawn(&pid_, argv[0].c_str(), &actions, nullptr, argvPointers.data(), envpPointers.data()) != 0)
        pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(fd);
}

AppProcess::~AppProcess() {
    if (pid_ > 0 && !exitStatus_) {
        kill(pid_, SIGKILL);
        reap(true);
    }
    std::error_code ec;
    if (!outputFile_.empty()) fs::remove(outputFile_, ec);
}

std::string AppProcess::output() const { return outputFile_.empty() ? std::string() : readFile(outputFile_); }

bool AppProcess::reap(bool block) {
    if (pid_ <= 0 || exitStatus_) return true;
    int status = 0;
    pid_t r = waitpid(pid_, &status, block ? 0 : WNOHANG);
    if (r != pid_) return false;
    exitStatus_ = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
    return true;
}

bool AppProcess::waitForOutput(std::string_view text, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        if (output().find(text) != std::string::npos) return true;
        if (reap(false)) return output().find(text) != std::string::npos;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

void AppProcess::signal(int signalNumber) const {
    if (pid_ > 0 && !exitStatus_) kill(pid_, signalNumber);
}

std::optional<int> AppProcess::waitForExit(std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!reap(false)) {
        if (std::chrono::steady_clock::now() > end) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return exitStatus_;
}

Finished runToEnd(std::vector<std::string> arguments, std::chrono::milliseconds timeout) {
    AppProcess app(AppProcess::application(std::move(arguments)));
    auto status = app.waitForExit(timeout);
    return {status, app.output()};
}

} // namespace testing_support
