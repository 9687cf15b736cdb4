#include "platform/scheduler/UserScheduler.h"

#include "platform/runtime/Log.h"
#include "platform/scheduler/CrontabJob.h"
#include "platform/scheduler/JobCommand.h"
#include "platform/scheduler/LaunchdJob.h"
#include "platform/scheduler/SystemdUserTimer.h"
#include "platform/scheduler/ToolRun.h"

#include <vector>

namespace fs = std::filesystem;

namespace platform {
namespace {

using Outcome = UserScheduler::Outcome;

Outcome failed(const std::string& what, const std::string& why) {
    return {false, what + ": " + why};
}

// A job lives in one place only, or it would run twice once the other
// place is in use again; the leftover is worth a log line, not a failure.
void removeCrontabLeftover(const std::string& label) {
    if (!CrontabJob::available()) return;
    bool removed = false;
    std::string error;
    if (!CrontabJob(label).unload(&removed, &error))
        logf("%s: could not check the crontab for an earlier line: %s", label.c_str(), error.c_str());
    else if (removed)
        logf("%s: removed its earlier crontab line", label.c_str());
}

void removeSystemdLeftover(const std::string& label) {
    SystemdUserTimer timer(label);
    if (!timer.hasUnitFiles()) return;
    std::string error;
    if (timer.removeUnitFiles(&error))
        logf("%s: removed its earlier systemd units, no user manager runs", label.c_str());
    else
        logf("%s: could not remove its earlier systemd units: %s", label.c_str(), error.c_str());
}

Outcome loadIntoSystemd(const LaunchdJob& job, const JobCommand& command) {
    std::string error;
    if (!SystemdUserTimer(job.label).load(job, command, &error)) return failed("cannot load " + job.label, error);
    removeCrontabLeftover(job.label);
    return {true, "loaded " + job.label + ": systemd timer at " + job.timeOfDay()};
}

Outcome loadIntoCrontab(const LaunchdJob& job, const JobCommand& command) {
    if (!CrontabJob::available())
        return failed("cannot load " + job.label, UserScheduler::kNoScheduler);
    std::string error;
    if (!CrontabJob(job.label).load(job, command, &error)) return failed("cannot load " + job.label, error);
    removeSystemdLeftover(job.label);
    std::string message = "loaded " + job.label + ": crontab line at " + job.timeOfDay();
    if (!CrontabJob::daemonRunning()) message += "; " + UserScheduler::kNoCronDaemon;
    return {true, message};
}

// The app deletes the description after unloading, so a later unload may
// find no file; its name is the Label by launchd convention.
std::optional<std::string> unloadLabel(const fs::path& jobFile, std::string* error) {
    std::string why;
    if (auto label = LaunchdJob::labelOfFile(jobFile, &why)) return label;
    const std::string fallback =
        jobFile.extension() == ".plist" ? jobFile.stem().string() : jobFile.filename().string();
    if (std::string unsafe = LaunchdJob::whyUnsafeLabel(fallback); !unsafe.empty()) {
        *error = why + "; the file name gives no Label either: it " + unsafe;
        return std::nullopt;
    }
    logf("%s; unloading %s, the file's name", why.c_str(), fallback.c_str());
    return fallback;
}

} // namespace

const std::string UserScheduler::kNoScheduler = "no systemd user manager runs and crontab is not installed";

const std::string UserScheduler::kNoCronDaemon = "no cron daemon runs: the daily run starts only once one does";

bool UserScheduler::cronDaemonMissing() {
    return !userManagerRunning() && CrontabJob::available() && !CrontabJob::daemonRunning();
}

bool UserScheduler::userManagerRunning() {
    return ToolRun::available("systemctl") && ToolRun::run("systemctl", {"--user", "show-environment"}, true).succeeded();
}

Outcome UserScheduler::load(const fs::path& jobFile, const std::string& launcher) {
    std::string error;
    auto job = LaunchdJob::fromFile(jobFile, &error);
    if (!job) return failed("cannot load " + jobFile.string(), error);
    auto command = JobCommand::fromProgramArguments(job->programArguments, &error);
    if (!command) return failed("cannot load " + job->label, error);
    command = command->startedBy(launcher);
    if (userManagerRunning()) return loadIntoSystemd(*job, *command);
    logf("%s: no systemd user manager runs, using the crontab", job->label.c_str());
    return loadIntoCrontab(*job, *command);
}

Outcome UserScheduler::check(const fs::path& jobFile) {
    std::string error;
    auto label = unloadLabel(jobFile, &error);
    if (!label) return failed("cannot check " + jobFile.string(), error);
    const bool manager = userManagerRunning();
    if (manager && SystemdUserTimer(*label).hasUnitFiles()) return {true, *label + " is loaded: systemd timer"};
    if (CrontabJob::available()) {
        if (CrontabJob(*label).isLoaded(&error)) {
            std::string message = *label + " is loaded: crontab line";
            if (!manager && !CrontabJob::daemonRunning()) message += "; " + kNoCronDaemon;
            return {true, message};
        }
        if (!error.empty()) return failed("cannot check " + *label, error);
    }
    if (!manager && !CrontabJob::available()) return {false, kNoScheduler};
    return {false, std::string(manager ? "no systemd timer" : "no line in the crontab") + " for " + *label};
}

Outcome UserScheduler::unload(const fs::path& jobFile) {
    std::string error;
    auto label = unloadLabel(jobFile, &error);
    if (!label) return failed("cannot unload " + jobFile.string(), error);

    std::vector<std::string> removed, problems;
    SystemdUserTimer timer(*label);
    if (timer.hasUnitFiles()) {
        const bool done = userManagerRunning() ? timer.unload(&error) : timer.removeUnitFiles(&error);
        if (done)
            removed.push_back("systemd timer");
        else
            problems.push_back(error);
    }
    if (CrontabJob::available()) {
        bool hadLine = false;
        if (!CrontabJob(*label).unload(&hadLine, &error))
            problems.push_back(error);
        else if (hadLine)
            removed.push_back("crontab line");
    }
    if (!problems.empty()) {
        std::string all = problems.front();
        for (size_t i = 1; i < problems.size(); ++i)
            all += "; " + problems[i];
        return failed("cannot unload " + *label, all);
    }
    if (removed.empty()) return {true, *label + " was not loaded: nothing to unload"};
    std::string what = removed.front();
    if (removed.size() > 1) what += " and " + removed[1];
    return {true, "unloaded " + *label + ": " + what + " removed"};
}

} // namespace platform
