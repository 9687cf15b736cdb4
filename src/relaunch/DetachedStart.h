#pragma once
// Starting a program that lives on without the tool: in a session of its
// own, so neither the tool's end nor a hangup of the terminal the old
// application ran in reaches it, with nothing of the tool's state but the
// environment and standard output and error.

#include <filesystem>
#include <string>
#include <sys/types.h>

namespace relaunch {

// Starts program (an absolute path) without arguments, in "/", with
// standard input from /dev/null, default signal handling, and no other
// inherited descriptor above standard error. Returns its pid, or -1 with
// *error saying why it could not start.
pid_t startDetached(const std::filesystem::path& program, std::string* error);

} // namespace relaunch
