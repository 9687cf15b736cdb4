#pragma once
// The daily run: the launch agent file that asks the user's scheduler to
// start the application once a day, installed, unloaded and refreshed here,
// and the next run's moment for the window. The delegate's schedule
// operations and the --schedule and --unschedule commands come here.
// Main thread only: each script run blocks until the scheduler is done.

#include "platform/preferences/Value.h"
#include "platform/runtime/DateFormat.h"

#include <QPointer>
#include <QWidget>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

class DailySchedule {
public:
    // Where the file is written before it is put in place.
    static const std::filesystem::path kStagingFile;

    // afterChange runs once a file has been installed and loaded, and once
    // the schedule has been removed.
    explicit DailySchedule(std::function<void()> afterChange = {},
                           std::filesystem::path stagingFile = kStagingFile);

    // The window the alerts belong to.
    void setWindow(QWidget* window) { window_ = window; }

    // ~/Library/LaunchAgents/<bundle identifier in lower case>.agent.plist.
    static std::filesystem::path agentFilePath();
    static bool hasAgentFile();

    // Builds the file for the time (or the stored daily time when none),
    // writes it and loads it. False when nothing was installed, or the
    // scheduler did not take it (with an alert).
    bool install(const std::optional<platform::Value>& time);
    // Unloads and deletes an installed file; does nothing without one.
    void unload();
    // Brings an installed file whose layout is out of date up to the
    // template, keeping its time, and reloads it.
    static void refreshInstalledFile();
    // Asks the user's scheduler whether the daily time is still in it (a
    // crontab line or a timer removed by hand, a user manager gone), and
    // records the answer for the window and --status.
    static void verifyInstalled();
    // Stores the next run's moment after now and its description; nothing
    // without a daily time.
    void computeNextRun(platform::Date now);

    // Confirming the set-time sheet: the edited time becomes the daily time
    // and is installed. False when there was no edited time or it could not
    // be installed and loaded.
    bool confirmTime();
    // The same for a time given without the sheet (--schedule).
    bool confirmTime(platform::Date time);
    // Confirming the remove-schedule sheet. False when nothing was removed.
    bool removeSchedule();
    // The same without the sheet (--unschedule).
    bool removeWithoutSheet();

    // What the preferences keep of the schedule, in one read.
    struct Stored {
        std::string lastAgentStart;         // the last start by the scheduler, as written then
        std::optional<platform::Date> lastAgentStartDate; // the same moment (stored since it was kept as a date)
        bool confirmed = false;             // a daily time was confirmed once
        bool set = false;                   // ... and is there
        std::string problem;                // why it is not in the user's scheduler; "" when it is
        bool installed() const { return set && problem.empty(); }
        std::optional<platform::Date> time; // the daily time
        std::optional<platform::Date> next; // the next run as worked out at the last launch
        std::string nextRunText;            // its description, "(not known)" without one
    };
    static Stored stored();

    // "HH:MM" → today at that time in the local zone; nullopt when malformed.
    static std::optional<platform::Date> parseTimeOfDay(const std::string& text);

private:
    bool stage(const std::string& contents) const;
    bool putInPlace(const std::filesystem::path& file, const std::string& contents) const;
    void alert(const std::string& informativeFormat, const std::string& reason) const;
    static void recordProblem(const std::string& problem);

    std::function<void()> afterChange_;
    std::filesystem::path stagingFile_;
    QPointer<QWidget> window_;
};
