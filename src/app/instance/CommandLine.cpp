#include "app/instance/CommandLine.h"

#include "app/schedule/NextLaunchDate.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace {

const std::string kUrlScheme = "tolv-archiver:";
const std::string kLaunchAgentArgument = "-fromlaunchagent";

struct Command {
    std::string_view option;
    CommandLine::Action action;
    std::string_view help;
};

constexpr std::array<Command, 11> kCommands{{
    {"--scan", CommandLine::Action::Scan, "archive every enabled folder now"},
    {"--start-all", CommandLine::Action::StartAll, "switch watching on for every folder"},
    {"--stop-all", CommandLine::Action::StopAll, "switch watching off for every folder"},
    {"--poll", CommandLine::Action::Poll, "set every watcher up again and poll its folder"},
    {"--quit", CommandLine::Action::Quit, "quit the running application (--force: even mid-pass)"},
    {"--relaunch", CommandLine::Action::Relaunch, "quit the running application and start it again"},
    {"--status", CommandLine::Action::Status, "print the destination, each folder's state and last pass, and the daily schedule (--json: as JSON); exit status 1 when a folder is in error"},
    {"--schedule", CommandLine::Action::Schedule, "HH:MM: archive every enabled folder once a day at that time"},
    {"--unschedule", CommandLine::Action::Unschedule, "remove the daily schedule"},
    {"--help", CommandLine::Action::Help, "print this help"},
    {"--version", CommandLine::Action::Version, "print the version"},
}};

// Qt's own options, with and without a value; Qt takes them out of argv.
constexpr std::array<std::string_view, 22> kQtOptionsWithValue{
    "platform", "platformpluginpath", "platformtheme", "plugin", "style", "stylesheet", "session", "display",
    "geometry", "title", "name", "visual", "qwindowgeometry", "qwindowicon", "qwindowtitle", "font", "fn",
    "bg", "background", "fg", "foreground", "btn"};
constexpr std::array<std::string_view, 6> kQtFlags{"reverse", "widgetcount", "nograb", "dograb", "sync",
                                                   "qmljsdebugger"};

std::string_view optionName(std::string_view argument) {
    argument.remove_prefix(argument.starts_with("--") ? 2 : 1);
    return argument.substr(0, argument.find('='));
}

bool contains(auto& list, std::string_view name) { return std::find(list.begin(), list.end(), name) != list.end(); }

// How many arguments a Qt option takes up (0: not Qt's).
int qtOptionLength(const std::vector<std::string>& args, size_t i) {
    const std::string_view name = optionName(args[i]);
    if (contains(kQtFlags, name)) return 1;
    if (!contains(kQtOptionsWithValue, name)) return 0;
    const bool inlineValue = args[i].find('=') != std::string::npos;
    return inlineValue || i + 1 >= args.size() ? 1 : 2;
}

void setAction(CommandLine& line, CommandLine::Action action, const std::string& option) {
    if (line.action != CommandLine::Action::Launch && line.action != action)
        line.error = "only one command at a time: " + option + " comes after another";
    line.action = action;
}

// One argument of ours; false when it is none of ours.
bool parseOwn(CommandLine& line, const std::vector<std::string>& args, size_t& i) {
    const std::string& a = args[i];
    if (a == "--schedule") {
        setAction(line, CommandLine::Action::Schedule, a);
        if (i + 1 >= args.size() || !NextLaunchDate::parseTimeOfDay(args[i + 1]))
            line.error = "--schedule needs a time of day as HH:MM, 00:00 to 23:59" +
                         (i + 1 < args.size() ? ", not '" + args[i + 1] + "'" : std::string());
        else line.scheduleTime = args[++i];
        return true;
    }
    for (const Command& c : kCommands)
        if (a == c.option) return setAction(line, c.action, a), true;
    if (a == "--force") return line.force = true, true;
    if (a == "--json") return line.json = true, true;
    if (a == "--headless") return true; // ApplicationMain::wantsHeadless reads it
    if (a == kLaunchAgentArgument) return line.fromLaunchAgent = true, true;
    if (a == "--grab-window") {
        if (i + 1 >= args.size()) line.error = "--grab-window needs a file name";
        else line.grabWindowFile = args[++i];
        return true;
    }
    return false;
}

void checkCombinations(CommandLine& line) {
    if (line.error) return;
    if (line.force && line.action != CommandLine::Action::Quit) line.error = "--force goes with --quit";
    else if (line.json && line.action != CommandLine::Action::Status) line.error = "--json goes with --status";
}

} // namespace

CommandLine CommandLine::parse(const std::vector<std::string>& args) {
    CommandLine line;
    for (size_t i = 1; i < args.size() && !line.error; ++i) {
        const std::string& a = args[i];
        if (parseOwn(line, args, i)) continue;
        if (int n = a.starts_with("-") ? qtOptionLength(args, i) : 0) {
            i += n - 1;
            continue;
        }
        if (a.starts_with("--")) line.error = "unknown option " + a;
        else if (a.starts_with(kUrlScheme)) line.urls.push_back(a);
        else if (!a.starts_with("-")) line.files.push_back(a);
        // Other single-dash words are the desktop's (session and process
        // serial arguments): ignored, as they always were.
    }
    checkCombinations(line);
    return line;
}

bool CommandLine::isBare() const {
    return action == Action::Launch && files.empty() && urls.empty() && !fromLaunchAgent;
}

bool CommandLine::isScheduleCommand() const { return action == Action::Schedule || action == Action::Unschedule; }

bool CommandLine::isCommand() const {
    return action == Action::Scan || action == Action::StartAll || action == Action::StopAll || action == Action::Poll;
}

std::string CommandLine::helpText(const std::string& programName, const std::string& preferencesFile,
                                  const std::string& logFolder) {
    std::string text = "Usage: " + programName + " [OPTION] [FILE...]\n"
                       "Keeps the image folders of a photo station archived. With no option, starts the\n"
                       "application, or shows the window of the one already running.\n\n";
    for (const Command& c : kCommands) {
        std::string option(c.option);
        text += "  " + option + std::string(option.size() < 14 ? 14 - option.size() : 1, ' ') + std::string(c.help) + "\n";
    }
    text += "  --headless    run without a window (also when there is no display)\n"
            "  -fromlaunchagent  a start by the daily schedule: scan once started\n\n"
            "--scan, --start-all, --stop-all and --poll start the application when none runs.\n"
            "--schedule and --unschedule act on the running application, or alone when none runs.\n"
            "Qt's own options (-platform, -style, ...) are accepted.\n\n"
            "Preferences: " + preferencesFile + "\n"
            "Log files (when saving logs is on): " + logFolder + "\n";
    return text;
}
