#include "platform/scheduler/JobCommand.h"

#include "platform/desktop/BundleExecutable.h"
#include "platform/scheduler/StepFailure.h"

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace platform {
namespace {

// "/Applications/X.app/" names X.app too.
fs::path bundlePathOf(const std::string& item) {
    fs::path p = fs::path(item).lexically_normal();
    return p.has_filename() ? p : p.parent_path();
}

// Any program called "open" (/usr/bin/open, open) opening an application
// bundle is meant: the opener's own path does not matter since it is not
// what runs.
bool opensBundle(const std::vector<std::string>& items) {
    return items.size() >= 2 && fs::path(items[0]).filename() == "open" && bundlePathOf(items[1]).extension() == ".app";
}

// The program of an application bundle, found as the relaunch tool finds it.
std::optional<std::string> bundleProgram(const fs::path& bundle, std::string* error) {
    if (!bundle.is_absolute())
        return refuse<std::string>(error, "the bundle " + bundle.string() + " is not an absolute path");
    std::error_code ec;
    if (!fs::is_directory(bundle / "Contents", ec))
        return refuse<std::string>(error, "no application bundle at " + bundle.string());
    std::string why;
    auto program = BundleExecutable::program(bundle, &why);
    if (!program) return refuse<std::string>(error, why);
    return program->string();
}

// open BUNDLE [--args ARGS...]: nothing else open takes has a meaning here.
std::optional<JobCommand> openedBundle(const std::vector<std::string>& items, std::string* error) {
    if (items.size() > 2 && items[2] != "--args")
        return refuse<JobCommand>(error,
                    "open " + items[1] + " takes only \"--args\" and arguments after it, not \"" + items[2] + "\"");
    auto program = bundleProgram(bundlePathOf(items[1]), error);
    if (!program) return std::nullopt;
    JobCommand command{*program, {}, true};
    if (items.size() > 3) command.arguments.assign(items.begin() + 3, items.end());
    return command;
}

} // namespace

std::optional<JobCommand> JobCommand::fromProgramArguments(const std::vector<std::string>& items, std::string* error) {
    if (items.empty()) return refuse<JobCommand>(error, "ProgramArguments is empty");
    if (opensBundle(items)) return openedBundle(items, error);
    // launchd would search PATH for a bare name; the scheduler's PATH is
    // another one, so only an absolute path means the same program there.
    if (!fs::path(items[0]).is_absolute())
        return refuse<JobCommand>(error, "the program \"" + items[0] + "\" is not an absolute path");
    return JobCommand{items[0], std::vector<std::string>(items.begin() + 1, items.end())};
}

std::vector<std::string> JobCommand::argv() const {
    std::vector<std::string> all{program};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return all;
}

JobCommand JobCommand::startedBy(const std::string& launcher) const {
    if (!detached || launcher.empty()) return *this;
    JobCommand started{launcher, {"start", program}, false};
    started.arguments.insert(started.arguments.end(), arguments.begin(), arguments.end());
    return started;
}

} // namespace platform
