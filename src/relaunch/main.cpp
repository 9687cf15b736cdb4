// relaunch BUNDLE PID LAUNCH_FLAGS: the application's Relaunch command starts
// this tool and quits; the tool waits for that process to end and starts the
// bundle's program again, detached, so the new instance does not depend on
// either of them.

#include "relaunch/BundleExecutable.h"
#include "relaunch/DetachedStart.h"
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
    if (std::string problem = relaunch::whyNotABundle(bundle); !problem.empty()) {
        relaunch::logf("%s: not relaunching", problem.c_str());
        return std::nullopt;
    }
    std::string why;
    auto name = relaunch::declaredExecutableName(bundle, &why);
    if (!name) {
        name = relaunch::conventionalExecutableName(bundle);
        relaunch::logf("%s: trying %s", why.c_str(), name->c_str());
    }
    fs::path program = relaunch::executablePath(bundle, *name);
    if (std::string problem = relaunch::whyNotStartable(program); !problem.empty()) {
        relaunch::logf("%s: not relaunching", problem.c_str());
        return std::nullopt;
    }
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
    std::string error;
    if (relaunch::startDetached(program, &error) > 0) return true;
    relaunch::logf("could not start %s: %s", program.c_str(), error.c_str());
    return false;
}

int relaunchApplication(const relaunch::Request& request) {
    auto program = programOf(relaunch::absoluteBundlePath(request.bundle));
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
