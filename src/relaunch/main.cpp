// relaunch BUNDLE PID LAUNCH_FLAGS: the application's Relaunch command starts
// this tool and quits; the tool waits for that process to end and starts the
// bundle's program again, detached, so the new instance does not depend on
// either of them.

#include "platform/desktop/BundleExecutable.h"
#include "platform/runtime/DetachedProcess.h"
#include "relaunch/ProcessEndWait.h"
#include "relaunch/RelaunchArguments.h"
#include "relaunch/RelaunchLog.h"

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

namespace fs = std::filesystem;

namespace {

constexpr int kStarted = 0;
constexpr int kNotStarted = 1;
constexpr int kWrongArguments = 2;

// Found before the wait: a bundle that cannot be relaunched is better said
// at once than ten minutes later.
std::optional<fs::path> programOf(const fs::path& bundle) {
    std::string why, note;
    auto program = platform::BundleExecutable::program(bundle, &why, &note);
    if (!note.empty()) relaunch::logf("%s", note.c_str());
    if (!program) relaunch::logf("%s: not relaunching", why.c_str());
    return program;
}

std::chrono::seconds waitBound() {
    std::string ignored;
    auto bound = relaunch::waitBound(std::getenv(relaunch::kWaitBoundVariable), &ignored);
    if (!ignored.empty())
        relaunch::logf("%s: waiting up to %lld s", ignored.c_str(), static_cast<long long>(bound.count()));
    return bound;
}

bool waitedForEnd(pid_t pid) {
    const auto bound = waitBound();
    relaunch::logf("waiting for pid %d", static_cast<int>(pid));
    if (relaunch::waitForProcessEnd(pid, bound) == relaunch::WaitResult::StillRunning) {
        relaunch::logf("process %d still running after %lld s: not relaunching", static_cast<int>(pid),
                       static_cast<long long>(bound.count()));
        return false;
    }
    relaunch::logf("pid %d ended", static_cast<int>(pid));
    return true;
}

bool started(const fs::path& program) {
    relaunch::logf("starting %s", program.c_str());
    // A failed start is logged where it fails.
    return platform::DetachedProcess::start(program.string(), {}) > 0;
}

int relaunchApplication(const relaunch::Request& request) {
    auto program = programOf(platform::BundleExecutable::absoluteBundlePath(request.bundle));
    if (!program || !waitedForEnd(request.pid)) return kNotStarted;
    return started(*program) ? kStarted : kNotStarted;
}

} // namespace

int main(int argc, char** argv) {
    const relaunch::Request request = relaunch::parseArguments(argc, argv);
    switch (request.kind) {
    case relaunch::Request::Kind::Help:
        std::fputs(relaunch::helpText().c_str(), stdout);
        return EXIT_SUCCESS;
    case relaunch::Request::Kind::Version:
        std::fputs(relaunch::versionLine().c_str(), stdout);
        return EXIT_SUCCESS;
    case relaunch::Request::Kind::Invalid:
        relaunch::logLine(request.problem);
        relaunch::logLine("run \"relaunch --help\" for its usage");
        return kWrongArguments;
    case relaunch::Request::Kind::Relaunch:
        return relaunchApplication(request);
    }
    return kWrongArguments;
}
