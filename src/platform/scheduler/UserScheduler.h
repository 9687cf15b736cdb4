#pragma once
// launchctl load/unload for one user: puts a launchd job description's daily
// job into the user's systemd timers when a user manager runs, else into the
// user's crontab, and takes it out of either again. Calls block until done.

#include <filesystem>
#include <string>

namespace platform {

class UserScheduler {
public:
    UserScheduler() = delete;

    struct Outcome {
        bool succeeded = false;
        std::string message; // what was done, or what went wrong
    };

    // systemctl is on PATH and "systemctl --user show-environment" succeeds.
    static bool userManagerRunning();
    // Jobs go into the crontab, and no cron daemon runs to start them.
    static bool cronDaemonMissing();
    static const std::string kNoCronDaemon; // what a load into such a crontab adds to its message

    // Schedules the job of the description, replacing an earlier load of
    // the same Label in either place. A description that cannot be read or
    // translated changes nothing. An application the job opens is started
    // through the launcher ("launcher start PROGRAM ARGS..."), which leaves
    // it running on its own; without a launcher the job runs it itself.
    static Outcome load(const std::filesystem::path& jobFile, const std::string& launcher = {});
    // Removes the job from every place it is found in. The Label comes from
    // the description, or from the file's name when the description has no
    // readable Label (a damaged or already deleted file).
    static Outcome unload(const std::filesystem::path& jobFile);
    // Whether the description's job is still scheduled (a timer the user
    // manager runs, or a crontab line); when not, the message says why.
    static Outcome check(const std::filesystem::path& jobFile);
    static const std::string kNoScheduler; // neither a user manager nor crontab
};

} // namespace platform
