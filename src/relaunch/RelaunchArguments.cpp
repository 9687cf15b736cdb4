#include "relaunch/RelaunchArguments.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdint>
#include <string_view>
#include <vector>

namespace relaunch {
namespace {

constexpr std::int64_t kLongestWaitSeconds = 365LL * 24 * 3600;

bool allDigits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A decimal number of digits alone (no sign, no blanks) within [1, max].
bool parsePositive(std::string_view s, std::int64_t max, std::int64_t* value) {
    if (!allDigits(s)) return false;
    std::int64_t v = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size()) return false;
    if (v < 1 || v > max) return false;
    *value = v;
    return true;
}

// Launch flags are a bit set the application prints as a signed or an
// unsigned integer; since none has an effect here, any length is fine.
bool isDecimalInteger(std::string_view s) {
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) s.remove_prefix(1);
    return allDigits(s);
}

Request invalid(std::string problem) {
    Request r;
    r.problem = std::move(problem);
    return r;
}

bool contains(const std::vector<std::string_view>& args, std::string_view wanted) {
    return std::find(args.begin(), args.end(), wanted) != args.end();
}

// A bundle path starting with "--" is far less likely than a mistyped option.
std::string unknownOption(const std::vector<std::string_view>& args) {
    for (auto a : args)
        if (a.starts_with("--")) return std::string(a);
    return {};
}

Request relaunchRequest(const std::vector<std::string_view>& args) {
    if (args[0].empty()) return invalid("BUNDLE must not be empty");
    std::int64_t pid = 0;
    if (!parsePositive(args[1], INT_MAX, &pid))
        return invalid("PID must be a positive decimal process id, not \"" + std::string(args[1]) + "\"");
    if (!isDecimalInteger(args[2]))
        return invalid("LAUNCH_FLAGS must be a decimal integer, not \"" + std::string(args[2]) + "\"");
    Request r;
    r.kind = Request::Kind::Relaunch;
    r.bundle = std::string(args[0]);
    r.pid = static_cast<pid_t>(pid);
    return r;
}

} // namespace

// "--help" anywhere wins, as with other command-line tools.
Request parseArguments(int argc, const char* const* argv) {
    std::vector<std::string_view> args(argv + std::min(argc, 1), argv + argc);
    if (contains(args, "--help") || contains(args, "-h")) return Request{Request::Kind::Help, {}, 0, {}};
    if (contains(args, "--version")) return Request{Request::Kind::Version, {}, 0, {}};
    if (auto option = unknownOption(args); !option.empty()) return invalid("unknown option " + option);
    if (args.size() != 3)
        return invalid("expected 3 arguments, BUNDLE PID LAUNCH_FLAGS, but got " + std::to_string(args.size()));
    return relaunchRequest(args);
}

std::string helpText() {
    return "Usage: relaunch BUNDLE PID LAUNCH_FLAGS\n"
           "       relaunch --help | --version\n"
           "\n"
           "Starts the application in BUNDLE again once the process PID has ended.\n"
           "The application's Relaunch command runs this tool just before it quits.\n"
           "\n"
           "  BUNDLE        the application bundle, e.g. /opt/Tolv-Archiver.app; the\n"
           "                program started is Contents/MacOS/ followed by the\n"
           "                CFBundleExecutable of Contents/Info.plist, or by the\n"
           "                bundle's name without \".app\" when the key is missing\n"
           "  PID           the running application's process id, a positive decimal\n"
           "                number; a process that is already gone counts as ended\n"
           "  LAUNCH_FLAGS  launch flags, a decimal integer; any value is accepted,\n"
           "                but launch flags have no effect on Linux\n"
           "\n"
           "The program starts detached, in a session of its own, without arguments,\n"
           "in the folder \"/\", with standard input from /dev/null and this tool's\n"
           "standard output and error. The wait for PID gives up after " +
           std::to_string(kDefaultWaitBound.count()) + " seconds\n" +
           "(" + kWaitBoundVariable + " sets another bound).\n" +
           "\n"
           "Exit status: 0 started; 1 not started (no bundle or program, PID still\n"
           "running at the bound, or the start failed); 2 wrong arguments.\n";
}

std::string versionLine() {
    return std::string("relaunch (" TOLV_APP_NAME ") ") + TOLV_RELAUNCH_VERSION + "\n";
}

std::chrono::seconds waitBound(const char* variableValue, std::string* ignored) {
    if (!variableValue || !*variableValue) return kDefaultWaitBound;
    std::int64_t seconds = 0;
    if (parsePositive(variableValue, kLongestWaitSeconds, &seconds)) return std::chrono::seconds(seconds);
    *ignored = std::string(kWaitBoundVariable) + "=\"" + variableValue +
               "\" is not a whole number of seconds from 1 to a year";
    return kDefaultWaitBound;
}

} // namespace relaunch
