#pragma once
// The helper's command line: "load FILE" or "unload FILE", as the bundle's
// loadlaunchagent.sh and unloadlaunchagent.sh pass it; "check FILE", as the
// application asks whether its schedule is still in place; "start PROGRAM
// ARGS...", as a loaded job runs it; and the --help and --version requests.

#include <filesystem>
#include <string>
#include <vector>

namespace launchagent {

struct Request {
    enum class Kind { Load, Unload, Check, Start, Help, Version, Invalid };
    Kind kind = Kind::Invalid;
    std::filesystem::path file; // Load, Unload and Check only
    std::string program;                // Start only: an absolute path
    std::vector<std::string> arguments; // Start only: passed on untouched
    std::string problem;        // what is wrong with the command line; Invalid only
};

// argv[0] is the helper itself.
Request parseArguments(int argc, const char* const* argv);

std::string helpText();
std::string versionLine();

} // namespace launchagent
