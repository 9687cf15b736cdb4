// launchagent load|unload|check FILE: what launchctl does for the application's
// launch agent file, with the user's systemd timers or crontab as the
// scheduler. Prints what it did on standard output; blocks until done.

#include "launchagent/LaunchAgentArguments.h"
#include "platform/desktop/Bundle.h"
#include "platform/runtime/DetachedProcess.h"
#include "platform/runtime/Log.h"
#include "platform/scheduler/UserScheduler.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kWrongArguments = 2;

void logLine(const std::string& message) {
    platform::log("launchagent: " + message);
}

int start(const launchagent::Request& request) {
    return platform::DetachedProcess::start(request.program, request.arguments) > 0 ? kDone : kFailed;
}

int carryOut(const launchagent::Request& request) {
    // A loaded job starts the application through this helper's own path.
    using Kind = launchagent::Request::Kind;
    const auto outcome =
        request.kind == Kind::Load    ? platform::UserScheduler::load(request.file, platform::Bundle::runningExecutable().string())
        : request.kind == Kind::Check ? platform::UserScheduler::check(request.file)
                                      : platform::UserScheduler::unload(request.file);
    // Standard output carries the answer either way: the application shows
    // a failure's reason to the user.
    std::puts(outcome.message.c_str());
    if (!outcome.succeeded) {
        logLine(outcome.message);
        return kFailed;
    }
    return kDone;
}

} // namespace

int main(int argc, char** argv) {
    const launchagent::Request request = launchagent::parseArguments(argc, argv);
    switch (request.kind) {
    case launchagent::Request::Kind::Help:
        std::fputs(launchagent::helpText().c_str(), stdout);
        return kDone;
    case launchagent::Request::Kind::Version:
        std::fputs(launchagent::versionLine().c_str(), stdout);
        return kDone;
    case launchagent::Request::Kind::Invalid:
        logLine(request.problem);
        logLine("run \"launchagent --help\" for its usage");
        return kWrongArguments;
    case launchagent::Request::Kind::Load:
    case launchagent::Request::Kind::Unload:
    case launchagent::Request::Kind::Check:
        return carryOut(request);
    case launchagent::Request::Kind::Start:
        return start(request);
    }
    return kWrongArguments;
}
