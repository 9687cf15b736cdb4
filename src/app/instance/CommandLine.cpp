#include "app/instance/CommandLine.h"

#include "app/lifecycle/AppDelegate.h"
#include "app/schedule/NextLaunchDate.h"
#include "core/RemoteDestination.h"

#include <QCommandLineParser>
#include <QStringList>

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <string_view>

namespace {

const std::string kUrlScheme = "tolv-archiver:";

struct Command {
    std::string_view name; // without its dashes
    CommandLine::Action action;
    std::string_view help;
    std::string_view valueName = {}; // for an option that takes a value
};

constexpr std::array<Command, 19> kCommands{{
    {"scan", CommandLine::Action::Scan, "archive every enabled folder now"},
    {"start-all", CommandLine::Action::StartAll, "switch watching on for every folder"},
    {"stop-all", CommandLine::Action::StopAll, "switch watching off for every folder"},
    {"poll", CommandLine::Action::Poll, "set every watcher up again and poll its folder"},
    {"quit", CommandLine::Action::Quit, "quit the running application (--force: even mid-pass)"},
    {"relaunch", CommandLine::Action::Relaunch, "quit the running application and start it again"},
    {"status", CommandLine::Action::Status,
     "print the destination, each folder's state and last pass, and the daily schedule (--json: as JSON); exit status "
     "1 when a folder is in error, 3 when the application is not running"},
    {"schedule", CommandLine::Action::Schedule, "HH:MM: archive every enabled folder once a day at that time", "HH:MM"},
    {"unschedule", CommandLine::Action::Unschedule, "remove the daily schedule"},
    {"autostart", CommandLine::Action::Autostart,
     "on|off: start the application watching every folder at login, or not", "on|off"},
    {"set-destination", CommandLine::Action::SetDestination, "PATH: choose the destination folder, as the window does",
     "PATH"},
    {"check-destination", CommandLine::Action::CheckDestination,
     "try the destination: on a server, the connection, the login and its key, write access, free space and the "
     "server's rsync; exit status 1 when archiving into it cannot work"},
    {"verify", CommandLine::Action::Verify,
     "[N]: read every copy in the archive (of source folder N) and compare it with the record of what it held when it "
     "was copied; exit status 1 when a copy is damaged or missing"},
    {"set-source", CommandLine::Action::SetSource, "N PATH: choose source folder N (1 to 3), as the window does", "N"},
    {"enable", CommandLine::Action::Enable, "N: switch source folder N on", "N"},
    {"disable", CommandLine::Action::Disable, "N: switch source folder N off", "N"},
    {"set", CommandLine::Action::Set,
     "NAME VALUE: change a setting of the window (settle-minutes, delete-old, delete-after-days, fast-archiving, "
     "full-pass-minutes, save-logs, log-days, free-space-floor-mb, lag-alarm-minutes, verify-archive-days)",
     "NAME"},
    {"help", CommandLine::Action::Help, "print this help (also -h)"},
    {"version", CommandLine::Action::Version, "print the version (also -v)"},
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
    if (!args[i].starts_with("-")) return 0;
    const std::string_view name = optionName(args[i]);
    if (contains(kQtFlags, name)) return 1;
    if (!contains(kQtOptionsWithValue, name)) return 0;
    const bool inlineValue = args[i].find('=') != std::string::npos;
    return inlineValue || i + 1 >= args.size() ? 1 : 2;
}

QString q(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

std::string_view nameOf(CommandLine::Action action) {
    for (const Command& c : kCommands)
        if (c.action == action) return c.name;
    return {};
}

bool takesSlot(CommandLine::Action action) {
    using A = CommandLine::Action;
    return action == A::SetSource || action == A::Enable || action == A::Disable;
}

// A folder as typed, made absolute against where the command was given:
// the running application that stores it works elsewhere. A server's
// "[user@]host:/path" stays as it is.
std::string absoluteFolder(const std::string& typed) {
    if (typed.empty() || typed.starts_with('/') || RemoteDestination::looksRemote(typed)) return typed;
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(typed, ec);
    return ec ? typed : absolute.lexically_normal().string();
}

// A negative number after "--set NAME" is the value (refused later with the
// range), not an option of its own.
bool isNegativeSetValue(const std::vector<std::string>& args, size_t i) {
    return i >= 2 && args[i - 2] == "--set" && args[i].size() > 1 && args[i][0] == '-' &&
           std::isdigit(static_cast<unsigned char>(args[i][1]));
}

// The command's own words after its option: the path of --set-source, the
// value of --set. Taken out of `words`.
void takeSetupWords(CommandLine& line, const QCommandLineParser& parser, QStringList& words) {
    using A = CommandLine::Action;
    if (takesSlot(line.action)) {
        const std::string n = parser.value(q(nameOf(line.action))).toStdString();
        if (n == "1" || n == "2" || n == "3") line.slot = n[0] - '0';
        else line.error = "no source folder " + n + ": they are 1, 2 and 3";
    }
    if (line.action == A::SetDestination) line.path = absoluteFolder(parser.value("set-destination").toStdString());
    if (line.action == A::Verify && !words.isEmpty()) {
        const std::string n = words.takeFirst().toStdString();
        if (n == "1" || n == "2" || n == "3") line.slot = n[0] - '0';
        else line.error = "no source folder " + n + ": they are 1, 2 and 3";
        return;
    }
    if (line.action != A::SetSource && line.action != A::Set) return;
    if (words.isEmpty()) {
        if (!line.error) line.error = line.action == A::Set ? "--set needs a NAME and a VALUE" : "--set-source needs N and a PATH";
        return;
    }
    const std::string word = words.takeFirst().toStdString();
    if (line.action == A::SetSource) line.path = absoluteFolder(word);
    else {
        line.settingName = parser.value("set").toStdString();
        line.settingValue = word;
    }
}

// Our options for Qt's parser. Single-dash words are long options, so that
// the scheduler's "-fromlaunchagent" is one; -h and -v are the short forms.
void addOptions(QCommandLineParser& parser) {
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    for (const Command& c : kCommands) {
        QStringList names{q(c.name)};
        if (c.action == CommandLine::Action::Help) names.prepend("h");
        if (c.action == CommandLine::Action::Version) names.prepend("v");
        parser.addOption({names, q(c.help), q(c.valueName)});
    }
    for (const char* flag : {"force", "json", "headless", "verbose", "fromlaunchagent"}) parser.addOption({flag, ""});
    parser.addOption({"grab-window", "", "FILE"});
}

std::string text(const QString& s) { return s.toStdString(); }

// The system's own open request: a file that is there, or the agent file
// the scheduler names relative to the bundle.
bool isOpenRequest(const std::string& word) {
    std::error_code ec;
    return word == AppDelegate::kAgentFile || std::filesystem::exists(word, ec);
}

void takeAction(CommandLine& line, const QCommandLineParser& parser) {
    for (const Command& c : kCommands) {
        if (!parser.isSet(q(c.name))) continue;
        if (line.action != CommandLine::Action::Launch) {
            line.error = "only one command at a time: --" + std::string(c.name) + " comes with another";
            return;
        }
        line.action = c.action;
    }
    if (line.action == CommandLine::Action::Autostart) {
        const std::string value = text(parser.value("autostart"));
        if (value == "on" || value == "off") line.autostart = value == "on";
        else line.error = "--autostart takes on or off, not '" + value + "'";
        return;
    }
    if (line.action != CommandLine::Action::Schedule) return;
    const std::string time = text(parser.value("schedule"));
    if (NextLaunchDate::parseTimeOfDay(time)) line.scheduleTime = time;
    else line.error = "--schedule needs a time of day as HH:MM, 00:00 to 23:59, not '" + time + "'";
}

void takeWords(CommandLine& line, const QStringList& words) {
    for (const QString& w : words) {
        const std::string word = text(w);
        if (line.action != CommandLine::Action::Launch) {
            line.error = "unexpected argument '" + word + "'";
            return;
        }
        if (word.starts_with(kUrlScheme)) line.urls.push_back(word);
        else if (isOpenRequest(word)) line.files.push_back(word);
        else {
            line.error = "unexpected argument '" + word + "': no such file";
            return;
        }
    }
}

// Qt's reason, with an unknown option named as it was typed.
std::string refusal(const QCommandLineParser& parser, const QStringList& arguments) {
    const QStringList unknown = parser.unknownOptionNames();
    if (unknown.isEmpty()) return text(parser.errorText());
    for (const QString& argument : arguments) {
        const std::string typed = text(argument);
        if (typed.starts_with("-") && optionName(typed) == text(unknown.front()))
            return "unknown option " + typed.substr(0, typed.find('='));
    }
    return "unknown option -" + text(unknown.front());
}

void checkCombinations(CommandLine& line) {
    if (line.error) return;
    if (line.force && line.action != CommandLine::Action::Quit) line.error = "--force goes with --quit";
    else if (line.json && line.action != CommandLine::Action::Status) line.error = "--json goes with --status";
}

} // namespace

CommandLine CommandLine::parse(const std::vector<std::string>& args) {
    CommandLine line;
    // Qt's options are Qt's; the desktop's process serial words are ignored.
    QStringList ours{args.empty() ? QString() : QString::fromStdString(args[0])};
    for (size_t i = 1; i < args.size(); ++i) {
        if (int n = qtOptionLength(args, i)) {
            i += n - 1;
            continue;
        }
        if (isNegativeSetValue(args, i)) ours << "--";
        if (!args[i].starts_with("-psn_")) ours << QString::fromStdString(args[i]);
    }
    QCommandLineParser parser;
    addOptions(parser);
    if (!parser.parse(ours)) {
        line.error = refusal(parser, ours);
        return line;
    }
    line.force = parser.isSet("force");
    line.json = parser.isSet("json");
    line.verbose = parser.isSet("verbose");
    line.fromLaunchAgent = parser.isSet("fromlaunchagent");
    if (parser.isSet("grab-window")) line.grabWindowFile = text(parser.value("grab-window"));
    takeAction(line, parser);
    QStringList words = parser.positionalArguments();
    if (!line.error) takeSetupWords(line, parser, words);
    if (!line.error) takeWords(line, words);
    checkCombinations(line);
    return line;
}

bool CommandLine::isBare() const {
    return action == Action::Launch && files.empty() && urls.empty() && !fromLaunchAgent;
}

bool CommandLine::isScheduleCommand() const { return action == Action::Schedule || action == Action::Unschedule; }

bool CommandLine::actsAloneWhenNoneRuns() const { return isScheduleCommand() || isSetupCommand(); }

bool CommandLine::isSetupCommand() const {
    return action == Action::SetDestination || action == Action::SetSource || action == Action::Enable ||
           action == Action::Disable || action == Action::Set;
}

bool CommandLine::isCommand() const {
    return action == Action::Scan || action == Action::StartAll || action == Action::StopAll || action == Action::Poll;
}

std::string CommandLine::helpText(const std::string& programName, const std::string& preferencesFile,
                                  const std::string& logFolder) {
    std::string text = "Usage: " + programName + " [OPTION]\n"
                       "Keeps the image folders of a photo station archived. With no option, starts the\n"
                       "application, or shows the window of the one already running.\n\n";
    // One column for every option's words, wide enough for the longest.
    const auto row = [](const std::string& option, const std::string& help) {
        constexpr std::size_t kColumn = 22;
        return "  " + option + std::string(option.size() < kColumn ? kColumn - option.size() : 1, ' ') + help + "\n";
    };
    for (const Command& c : kCommands) text += row("--" + std::string(c.name), std::string(c.help));
    text += row("--headless", "run without a window (also when there is no display)") +
            row("--verbose", "write the trace lines to standard error (a command's too)") + "\n"
            "--scan, --start-all, --stop-all and --poll start the application when none runs.\n"
            "--schedule, --unschedule and the set-up commands act on the running application,\n"
            "or alone on the preference file when none runs.\n"
            "Qt's own options (-platform, -style, ...) are accepted.\n\n"
            "Used by the system:\n"
            "  -fromlaunchagent     a start by the daily schedule: scan once started\n"
            "  FILE...              open requests of the desktop (the schedule's agent file)\n"
            "  tolv-archiver:URL    the application's own links\n\n"
            "For developers:\n"
            "  --grab-window FILE   save a picture of the window as PNG once it shows\n\n"
            "Preferences: " + preferencesFile + "\n"
            "Log files (when saving logs is on): " + logFolder + "\n";
    return text;
}
