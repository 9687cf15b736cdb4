// What a start asks for, read from its command line.
#include "app/instance/CommandLine.h"

#include "app/lifecycle/AppDelegate.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>

namespace {

using Action = CommandLine::Action;

CommandLine parse(std::vector<std::string> args) {
    args.insert(args.begin(), "Tolv-Archiver");
    return CommandLine::parse(args);
}

TEST(CommandLineTest, EachLineAsksForOneThing) {
    struct Case {
        std::vector<std::string> args;
        Action action;
        bool error;
    } cases[] = {
        {{}, Action::Launch, false},
        {{"--scan"}, Action::Scan, false},
        {{"--start-all"}, Action::StartAll, false},
        {{"--stop-all"}, Action::StopAll, false},
        {{"--poll"}, Action::Poll, false},
        {{"--quit", "--force"}, Action::Quit, false},
        {{"--relaunch"}, Action::Relaunch, false},
        {{"--status", "--json"}, Action::Status, false},
        {{"--help"}, Action::Help, false},
        {{"-h"}, Action::Help, false},
        {{"--version"}, Action::Version, false},
        {{"-v"}, Action::Version, false},
        {{"-x"}, Action::Launch, true},
        {{"-vx"}, Action::Launch, true},
        {{"word"}, Action::Launch, true},
        {{"--status", "extra"}, Action::Status, true},
        {{"--status", "/"}, Action::Status, true}, // a file goes with no command
        {{"--scan", "tolv-archiver:scan"}, Action::Scan, true},
        // Qt's own options, with their values, in both spellings.
        {{"-platform", "offscreen", "--style=fusion", "-reverse", "--scan"}, Action::Scan, false},
        {{"--nope"}, Action::Launch, true},
        {{"--scan", "--quit"}, Action::Scan, true},
        {{"--force"}, Action::Launch, true},
        {{"--scan", "--json"}, Action::Scan, true},
        {{"--grab-window"}, Action::Launch, true},
        {{"--schedule", "07:05"}, Action::Schedule, false},
        {{"--schedule", "7:05"}, Action::Schedule, false},
        {{"--unschedule"}, Action::Unschedule, false},
        {{"--autostart", "on"}, Action::Autostart, false},
        {{"--autostart", "off"}, Action::Autostart, false},
        {{"--autostart", "maybe"}, Action::Autostart, true},
        {{"--autostart"}, Action::Launch, true},
        {{"--set-destination", "/d"}, Action::SetDestination, false},
        {{"--set-source", "2", "/s"}, Action::SetSource, false},
        {{"--set-source", "4", "/s"}, Action::SetSource, true},
        {{"--set-source", "1"}, Action::SetSource, true},
        {{"--set-source", "1", "/s", "/t"}, Action::SetSource, true},
        {{"--enable", "3"}, Action::Enable, false},
        {{"--disable", "0"}, Action::Disable, true},
        {{"--set", "log-days", "7"}, Action::Set, false},
        {{"--set", "log-days"}, Action::Set, true},
        {{"--schedule"}, Action::Schedule, true},
        {{"--schedule", "24:00"}, Action::Schedule, true},
        {{"--schedule", "07:5"}, Action::Schedule, true},
        {{"--schedule", "--scan"}, Action::Schedule, true},
        {{"--schedule", "07:05", "--unschedule"}, Action::Schedule, true},
    };
    for (const auto& c : cases) {
        std::string shown;
        for (const auto& a : c.args) shown += a + " ";
        SCOPED_TRACE(shown);
        const CommandLine line = parse(c.args);
        EXPECT_EQ(line.error.has_value(), c.error) << line.error.value_or("");
        if (!c.error) {
            EXPECT_EQ(line.action, c.action);
        }
    }
    EXPECT_NE(parse({"--nope"}).error->find("nope"), std::string::npos);
    EXPECT_NE(parse({"word"}).error->find("'word'"), std::string::npos);
    EXPECT_NE(parse({"--schedule", "7pm"}).error->find("HH:MM"), std::string::npos);
    EXPECT_EQ(parse({"--schedule", "21:30"}).scheduleTime, "21:30");
    EXPECT_TRUE(parse({"--autostart", "on"}).autostart);
    EXPECT_FALSE(parse({"--autostart", "off"}).autostart);
    const CommandLine source = parse({"--set-source", "2", "/s"});
    EXPECT_EQ(source.slot, 2);
    EXPECT_EQ(source.path, "/s");
    const CommandLine set = parse({"--set", "log-days", "7"});
    EXPECT_EQ(set.settingName, "log-days");
    EXPECT_EQ(set.settingValue, "7");
    // A negative value is the setting's value, refused for its range later, not an option.
    const CommandLine negative = parse({"--set", "settle-minutes", "-5"});
    EXPECT_FALSE(negative.error) << negative.error.value_or("");
    EXPECT_EQ(negative.settingValue, "-5");
    // A relative folder is made absolute where the command is given; a server's stays.
    EXPECT_EQ(parse({"--set-source", "1", "Main"}).path, (std::filesystem::current_path() / "Main").string());
    EXPECT_EQ(parse({"--set-destination", "./x/../Backup"}).path, (std::filesystem::current_path() / "Backup").string());
    EXPECT_EQ(parse({"--set-destination", "nas:/srv/photos"}).path, "nas:/srv/photos");
}

TEST(CommandLineTest, FilesUrlsAndTheLaunchAgentMarkAreKeptApart) {
    const CommandLine line = parse({"-fromlaunchagent", "tolv-archiver:scan?x=1", "/", "-psn_0_1", AppDelegate::kAgentFile});
    EXPECT_TRUE(line.fromLaunchAgent);
    EXPECT_EQ(line.urls, std::vector<std::string>{"tolv-archiver:scan?x=1"});
    EXPECT_EQ(line.files, (std::vector<std::string>{"/", AppDelegate::kAgentFile}));
    EXPECT_FALSE(line.isBare());
    EXPECT_TRUE(parse({"--headless"}).isBare());
    EXPECT_EQ(*parse({"--grab-window", "w.png"}).grabWindowFile, "w.png");
}

TEST(CommandLineTest, HelpNamesEveryCommandAndWhereThingsLive) {
    const std::string help = CommandLine::helpText("tolv-archiver", "/home/u/.config/p.plist", "/home/u/logs");
    for (const char* part : {"--scan", "--start-all", "--stop-all", "--poll", "--quit", "--force", "--status",
                             "--json", "--help", "-h", "--version", "-v", "-fromlaunchagent", "--grab-window",
                             "Used by the system", "/home/u/.config/p.plist", "/home/u/logs"})
        EXPECT_NE(help.find(part), std::string::npos) << part;
    // Every option's words start in one column.
    std::istringstream lines(help);
    std::set<std::size_t> columns;
    for (std::string l; std::getline(lines, l);)
        if (l.starts_with("  --") && !l.starts_with("  --grab-window")) columns.insert(l.find_first_not_of(' ', l.find(' ', 2)));
    EXPECT_EQ(columns.size(), 1u);
}

} // namespace
