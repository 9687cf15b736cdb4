#pragma once
// What the process entry hands control to. A start first reads its command
// line (help, version and refusals need no application), then hands its
// request to the instance already running, if one does; otherwise it
// creates the Qt application (on
// the offscreen platform when there is no display or --headless is given),
// connects the platform's main loop, dialogs, beep and termination signals
// to it, runs the delegate's class set-up and launch phases around the main
// window, and runs the event loop until the application quits.

#include <optional>
#include <string>
#include <vector>

class InstanceBridge;
struct CommandLine;

class ApplicationMain {
public:
    static int run(int argc, char** argv);

    // No window: asked for with --headless, or no display to show one on.
    static bool wantsHeadless(const std::vector<std::string>& arguments, const char* display,
                              const char* waylandDisplay);

private:
    static int runApplication(int& argc, char** argv, const std::vector<std::string>& arguments,
                              const CommandLine& line, InstanceBridge& bridge);
};
