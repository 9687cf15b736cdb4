#include "launchagent/LaunchAgentArguments.h"

#include <algorithm>
#include <string_view>
#include <vector>

namespace launchagent {
namespace {

Request invalid(std::string problem) {
    Request r;
    r.problem = std::move(problem);
    return r;
}

Request of(Request::Kind kind) {
    Request r;
    r.kind = kind;
    return r;
}

// Options come before "--"; after it, everything is an operand, so a file
// whose name starts with "-" can still be named.
struct Split {
    std::vector<std::string_view> options, operands;
};

Split split(const std::vector<std::string_view>& args) {
    Split s;
    bool optionsEnded = false;
    for (auto a : args) {
        if (!optionsEnded && a == "--")
            optionsEnded = true;
        else if (!optionsEnded && a.size() > 1 && a.front() == '-')
            s.options.push_back(a);
        else
            s.operands.push_back(a);
    }
    return s;
}

bool contains(const std::vector<std::string_view>& args, std::string_view wanted) {
    return std::find(args.begin(), args.end(), wanted) != args.end();
}

// Everything after "start PROGRAM" belongs to the program, options included.
Request startRequest(int argc, const char* const* argv) {
    if (argc < 3 || !std::string_view(argv[2]).starts_with("/"))
        return invalid("expected \"start PROGRAM [ARGUMENT...]\" with PROGRAM an absolute path");
    Request r = of(Request::Kind::Start);
    r.program = argv[2];
    r.arguments.assign(argv + 3, argv + argc);
    return r;
}

} // namespace

// "--help" anywhere wins, as with other command-line tools.
Request parseArguments(int argc, const char* const* argv) {
    if (argc >= 2 && std::string_view(argv[1]) == "start") return startRequest(argc, argv);
    const Split args = split(std::vector<std::string_view>(argv + std::min(argc, 1), argv + argc));
    if (contains(args.options, "--help") || contains(args.options, "-h")) return of(Request::Kind::Help);
    if (contains(args.options, "--version")) return of(Request::Kind::Version);
    if (!args.options.empty()) return invalid("unknown option " + std::string(args.options.front()));
    if (args.operands.size() != 2)
        return invalid("expected \"load FILE\", \"unload FILE\" or \"check FILE\", but got " + std::to_string(args.operands.size()) +
                       " arguments");
    const std::string_view verb = args.operands[0], file = args.operands[1];
    if (verb != "load" && verb != "unload" && verb != "check")
        return invalid("unknown command \"" + std::string(verb) + "\": expected load, unload or check");
    if (file.empty()) return invalid("FILE must not be empty");
    Request r = of(verb == "load" ? Request::Kind::Load : verb == "unload" ? Request::Kind::Unload : Request::Kind::Check);
    r.file = std::string(file);
    return r;
}

std::string helpText() {
    return "Usage: launchagent load FILE\n"
           "       launchagent unload FILE\n"
           "       launchagent check FILE\n"
           "       launchagent start PROGRAM [ARGUMENT...]\n"
           "       launchagent --help | --version\n"
           "\n"
           "Loads or unloads a launchd-style job description into the user's\n"
           "systemd timers or, where no systemd user manager runs, the user's crontab.\n"
           "The bundle's loadlaunchagent.sh and unloadlaunchagent.sh run it.\n"
           "\n"
           "  FILE  a property list with the job's Label, ProgramArguments and\n"
           "        StartCalendarInterval (Hour and Minute): the job runs daily at\n"
           "        that time. \"/usr/bin/open BUNDLE.app --args ARGS...\" runs the\n"
           "        bundle's program with ARGS; other ProgramArguments run as they\n"
           "        stand and must start with an absolute path.\n"
           "\n"
           "start is what a loaded job of the first form runs: it starts PROGRAM\n"
           "with the ARGUMENTs in a session of its own and returns at once, so the\n"
           "application goes on running after the job has ended, as one started\n"
           "by open does.\n"
           "\n"
           "load writes <Label>.service and <Label>.timer to\n"
           "${XDG_CONFIG_HOME:-~/.config}/systemd/user and enables the timer, or adds\n"
           "one crontab line tagged \"# tolv-launch-agent <Label>\"; loading again\n"
           "replaces the job. unload removes the job from both places; when FILE has\n"
           "no readable Label, its name without \".plist\" is taken for the Label.\n"
           "check tells whether the job is still in either place, and if not why.\n"
           "\n"
           "Exit status: 0 done; 1 failed (FILE unreadable or invalid, or systemctl\n"
           "or crontab failed, or check found no job); 2 wrong arguments.\n";
}

std::string versionLine() {
    return std::string("launchagent (" TOLV_APP_NAME ") ") + TOLV_LAUNCHAGENT_VERSION + "\n";
}

} // namespace launchagent
