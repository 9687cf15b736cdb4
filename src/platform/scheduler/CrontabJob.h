#pragma once
// A daily job as one line of the user's crontab, for systems where no
// systemd user manager runs. The line ends in a tag comment naming the job's
// Label, by which it is found again; every other line of the crontab is
// left exactly as it was.

#include "platform/scheduler/JobCommand.h"
#include "platform/scheduler/LaunchdJob.h"

#include <optional>
#include <string>
#include <string_view>

namespace platform {

class CrontabJob {
public:
    explicit CrontabJob(std::string label);

    static bool available(); // crontab on PATH
    // A cron daemon (cron, crond, cronie, fcron, dcron, busybox crond) runs:
    // without one, a crontab line waits.
    static bool daemonRunning();

    // "" when the label can stand in a tag unambiguously (no blanks, no
    // "#"), else why not.
    static std::string whyNotATag(const std::string& label);
    // One word for /bin/sh, with every % escaped for cron, which would
    // otherwise end the command there.
    static std::string quoted(const std::string& argument);
    // "M H * * * COMMAND # tolv-launch-agent LABEL" without the newline;
    // nullopt with *error when the label cannot be a tag or an argument
    // holds a newline, which no crontab line can carry.
    static std::optional<std::string> line(const LaunchdJob& job, const JobCommand& command, std::string* error);

    // The table without this job's lines, every other line byte for byte.
    std::string withoutJob(const std::string& table) const;
    bool isIn(const std::string& table) const;
    // Whether the user's crontab holds the job's line; false with *error
    // when the crontab cannot be read.
    bool isLoaded(std::string* error) const;

    // Replaces the job's lines in the user's crontab by the job's new line.
    bool load(const LaunchdJob& job, const JobCommand& command, std::string* error) const;
    // Removes the job's lines; *removed says whether there were any. A
    // crontab without them is not rewritten; one that held nothing else is
    // removed (crontab -r), as it was before the job came.
    bool unload(bool* removed, std::string* error) const;

private:
    std::string tag() const;
    bool isTagged(std::string_view line) const;

    std::string label_;
};

} // namespace platform
