#pragma once
// The tool's inputs: the command line the application's Relaunch command
// passes (BUNDLE PID LAUNCH_FLAGS), the --help and --version requests, and
// the environment variable that shortens the wait for tests.

#include <chrono>
#include <filesystem>
#include <string>
#include <sys/types.h>

namespace relaunch {

inline constexpr std::chrono::seconds kDefaultWaitBound{600};
inline constexpr const char* kWaitBoundVariable = "TOLV_RELAUNCH_WAIT_SECONDS";

struct Request {
    enum class Kind { Relaunch, Help, Version, Invalid };
    Kind kind = Kind::Invalid;
    std::filesystem::path bundle; // as given; Relaunch only
    pid_t pid = 0;                // Relaunch only
    std::string problem;          // what is wrong with the command line; Invalid only
};

// argv[0] is the tool itself. The launch flags are checked for form only:
// nothing on Linux gives them a meaning.
Request parseArguments(int argc, const char* const* argv);

std::string helpText();
std::string versionLine();

// The longest wait for the process: the variable's value when it is a
// positive whole number of seconds (up to a year), else kDefaultWaitBound,
// with *ignored saying why a value that is set was not taken.
std::chrono::seconds waitBound(const char* variableValue, std::string* ignored);

} // namespace relaunch
