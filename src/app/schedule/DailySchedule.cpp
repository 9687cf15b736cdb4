#include "app/schedule/DailySchedule.h"

#include "app/schedule/LaunchAgentFile.h"
#include "app/schedule/NextLaunchDate.h"
#include "core/CommonHeader.h"
#include "dialogs/ModalUI.h"
#include "platform/desktop/Bundle.h"
#include "platform/preferences/AtomicFile.h"
#include "platform/preferences/PreferenceSnapshot.h"
#include "platform/preferences/UserDefaults.h"
#include "platform/runtime/Log.h"
#include "core/TolvExtras.h"

#include <cstdio>

namespace fs = std::filesystem;
using platform::DateFormat;
using platform::log;
using platform::logf;
using platform::UserDefaults;
using platform::Value;

namespace {

const std::string kSeparator(59, '-');
const std::string kLoadScript = "loadlaunchagent.sh";
const std::string kUnloadScript = "unloadlaunchagent.sh";
const std::string kRefreshedFileName = "com.orvane.tolv-archiver.agent.plist";

std::string formatted(const std::string& format, const std::string& argument) {
    const std::size_t at = format.find("%@");
    return at == std::string::npos ? format : format.substr(0, at) + argument + format.substr(at + 2);
}

// The running bundle's path, when the program's arguments should name it.
std::optional<std::string> bundlePathOption() {
    if (!UserDefaults::standard().boolForKey(kPrefUseAbsolueBundlePathForProgramArguments)) return std::nullopt;
    return platform::Bundle::main().bundlePath().string();
}

bool runScript(const std::string& script, const fs::path& agentFile) {
    return runShellScript(script, std::vector<std::string>{agentFile.string()});
}

// The helper's last line, without its "cannot load <label>: ".
std::string reasonFrom(const std::string& told) {
    std::string line = told.substr(0, told.find_last_not_of(" \n") + 1);
    line = line.substr(line.find_last_of('\n') == std::string::npos ? 0 : line.find_last_of('\n') + 1);
    if (line.starts_with("cannot ")) {
        if (const auto colon = line.find(": "); colon != std::string::npos) line = line.substr(colon + 2);
    }
    return line.empty() ? "the user's scheduler did not take it; the log says why" : line;
}

} // namespace

const fs::path DailySchedule::kStagingFile = "/tmp/temp.archiver.plist";

DailySchedule::DailySchedule(std::function<void()> afterChange, fs::path stagingFile)
    : afterChange_(std::move(afterChange)), stagingFile_(std::move(stagingFile)) {}

fs::path DailySchedule::agentFilePath() {
    return LaunchAgentFile::folder() / LaunchAgentFile::fileName(platform::Bundle::main().infoString("CFBundleIdentifier"));
}

void DailySchedule::alert(const std::string& informativeFormat, const std::string& reason) const {
    ModalUI::Alert alert;
    alert.message = "Error!!";
    alert.defaultButton = "OK";
    alert.informativeText = formatted(informativeFormat, reason);
    alert.window = window_;
    ModalUI::current().runAlert(alert);
}

bool DailySchedule::hasAgentFile() {
    std::error_code ec;
    return fs::exists(fs::symlink_status(agentFilePath(), ec));
}

// ---- installing ---------------------------------------------------------------

bool DailySchedule::install(const std::optional<Value>& time) {
    const fs::path agentFile = agentFilePath();
    logf("Inside AppDelegate => setLaunchAgentPlist...fileName = %s", agentFile.filename().c_str());
    Value when = time.value_or(UserDefaults::standard().objectForKey(sPrefDailyScheduledTime));
    if (when.type() == Value::Type::None) {
        log("Inside AppDelegate => setLaunchAgentPlist... prefDailyScheduledTime is NIL");
        return false;
    }
    if (when.type() == Value::Type::String) log("need to convert to nsdate...");
    logf("Using prefDailyScheduledTime = %s", when.description().c_str());
    // A value that is no date has no time of day: nothing can be scheduled.
    const auto date = when.date();
    if (!date) {
        logf("Inside AppDelegate => setLaunchAgentPlist...%s is not a time of day: nothing installed",
             when.description().c_str());
        return false;
    }
    const std::string hour = DateFormat::format(*date, "HH"), minute = DateFormat::format(*date, "mm");
    logf("hour:minute = %s:%s", hour.c_str(), minute.c_str());

    const Value agent(LaunchAgentFile::build(UserDefaults::standard().objectForKey(kPrefLaunchAgentContent),
                                             std::stoi(hour), std::stoi(minute), bundlePathOption()));
    const std::string contents = agent.toXmlPlist();
    if (!stage(contents) || !putInPlace(agentFile, contents)) return false;

    UserDefaults::standard().setObject(kPrefLastSavedLaunchAgentContent, agent);
    std::string told;
    const bool loaded = runShellScript(kLoadScript, std::vector<std::string>{agentFile.string()}, &told);
    // A schedule the user's scheduler did not take never runs: the user
    // must hear of it, not find out a day later, and nothing may look
    // installed.
    if (!loaded) {
        const std::string reason = reasonFrom(told);
        logf("Error with loading %s: %s", agentFile.c_str(), reason.c_str());
        std::error_code ec;
        fs::remove(agentFile, ec);
        recordProblem(reason);
        alert("Unable to schedule the daily run:\n%@.\n\n", reason);
    } else {
        UserDefaults::standard().removeObjectForKey(kPrefDailyScheduleProblem);
    }
    if (afterChange_) afterChange_();
    log(kSeparator);
    return loaded;
}

// The staging name sits in a folder every user can write: it is replaced,
// never written through a link someone planted there or into their file.
bool DailySchedule::stage(const std::string& contents) const {
    std::string why;
    if (platform::replaceFileAtomically(stagingFile_, contents, &why)) return true;
    logf("Error with writing %s: %s", stagingFile_.c_str(), why.c_str());
    alert("Unable to Write to Path:\n%@.\n\n", why);
    return false;
}

// What is put in place is what was built and staged here, not whatever the
// shared staging name holds by now.
bool DailySchedule::putInPlace(const fs::path& file, const std::string& contents) const {
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    if (ec) {
        logf("Error with creating directory at %s with error = %s", file.parent_path().c_str(), ec.message().c_str());
        return false;
    }
    if (fs::exists(fs::symlink_status(file, ec))) {
        fs::remove(file, ec);
        if (ec) {
            logf("Error with removeItemAtPath: %s", ec.message().c_str());
            alert("Unable to removeItemAtPath at Path:\n%@.\n\n", ec.message());
        }
    }
    std::string why;
    if (platform::createFileAtomically(file, contents, &why)) return true;
    logf("Error with copyItemAtPath: %s", why.c_str());
    alert("Unable to Write to Path:\n%@.\n\n", why);
    return false;
}

// ---- unloading and refreshing --------------------------------------------------

void DailySchedule::unload() {
    const fs::path agentFile = agentFilePath();
    std::error_code ec;
    if (hasAgentFile()) {
        if (!runScript(kUnloadScript, agentFile)) logf("Error with unloading %s: the log says why", agentFile.c_str());
        fs::remove(agentFile, ec);
        if (ec) logf("Error with removeItemAtPath: %s: %s", agentFile.c_str(), ec.message().c_str());
    }
    log(kSeparator);
}

void DailySchedule::refreshInstalledFile() {
    const fs::path agentFile = LaunchAgentFile::folder() / kRefreshedFileName;
    std::error_code ec;
    if (!fs::exists(agentFile, ec)) return;
    std::string why;
    const auto installed = Value::readPlistFile(agentFile, &why);
    if (!installed || !installed->dictionary()) {
        logf("Inside AppDelegate => updateLaunchAgentFileIfNeeded...cannot read %s: %s; left as it is",
             agentFile.c_str(), why.empty() ? "not a dictionary" : why.c_str());
        return;
    }
    if (LaunchAgentFile::isCurrent(*installed->dictionary())) return;
    const Value refreshed(LaunchAgentFile::refreshed(
        *installed->dictionary(), UserDefaults::standard().objectForKey(kPrefLaunchAgentContent), bundlePathOption()));
    if (!refreshed.writePlistFile(agentFile, &why)) {
        logf("Inside AppDelegate => updateLaunchAgentFileIfNeeded...cannot write %s: %s", agentFile.c_str(), why.c_str());
        return;
    }
    if (!runScript(kLoadScript, agentFile)) logf("Error with loading %s: the log says why", agentFile.c_str());
}

void DailySchedule::verifyInstalled() {
    if (!stored().set) return;
    const fs::path agentFile = agentFilePath();
    if (!hasAgentFile()) return recordProblem("its launch agent file " + agentFile.string() + " is gone");
    std::string told;
    if (runShellScript("checklaunchagent.sh", std::vector<std::string>{agentFile.string()}, &told)) {
        UserDefaults::standard().removeObjectForKey(kPrefDailyScheduleProblem);
        return;
    }
    const std::string reason = reasonFrom(told);
    logf("ERROR: the daily run is not in the user's scheduler: %s", reason.c_str());
    recordProblem(reason);
}

void DailySchedule::recordProblem(const std::string& problem) {
    UserDefaults::standard().setObject(kPrefDailyScheduleProblem, Value(problem));
    UserDefaults::standard().removeObjectForKey(sPrefNextScheduledTime);
    UserDefaults::standard().setObject(sPrefNextScheduledTimeDisplayString, Value("not installed: " + problem));
}

// ---- the next run ----------------------------------------------------------------

void DailySchedule::computeNextRun(platform::Date now) {
    logf("Inside AppDelegate => convertToNextLaunchCtlDate...now = %s", DateFormat::describe(now).c_str());
    logf("Inside AppDelegate => convertToNextLaunchCtlDate...%s", DateFormat::format(now, "yyyy MM dd HH:mm:ss Z").c_str());
    const auto scheduled = UserDefaults::standard().objectForKey(sPrefDailyScheduledTime).date();
    if (!scheduled) return;
    // A time the scheduler does not hold has no next run.
    if (const auto problem = UserDefaults::standard().stringForKey(kPrefDailyScheduleProblem);
        problem && !problem->empty())
        return recordProblem(*problem);
    const int hour = DateFormat::localHour(*scheduled), minute = DateFormat::localMinute(*scheduled);
    platform::Date next = NextLaunchDate::todayAt(now, hour, minute);
    logf("          current date: %s", DateFormat::describe(now).c_str());
    logf("        nextLaunchDate: %s", DateFormat::describe(next).c_str());
    if (!NextLaunchDate::isPast(now, next)) {
        log("current date is EARLIER than nextLaunchDate...");
    } else {
        log("current date is AFTER/LATER than nextLaunchDate...");
        next = NextLaunchDate::after(now, hour, minute);
        logf("adjusted nextLaunchDate: %s", DateFormat::describe(next).c_str());
    }
    UserDefaults::standard().setObject(sPrefNextScheduledTime, Value(next));
    UserDefaults::standard().setObject(sPrefNextScheduledTimeDisplayString, Value(DateFormat::describe(next)));
}

// ---- the sheets' confirmations ------------------------------------------------------

bool DailySchedule::confirmTime() {
    const Value edited = UserDefaults::standard().objectForKey(kPrefTempTime);
    if (edited.type() == Value::Type::None) return false;
    logf("tempTimeObj = %s", edited.description().c_str());
    UserDefaults::standard().setObject(sPrefDailyScheduledTime, edited);
    const bool installed = install(std::nullopt);
    UserDefaults::standard().setBool(kPrefDidSetSchedule, true);
    UserDefaults::standard().synchronize();
    // The window shows the new time's next run at once, not after a restart.
    computeNextRun(std::chrono::system_clock::now());
    return installed;
}

bool DailySchedule::removeSchedule() {
    const Value edited = UserDefaults::standard().objectForKey(kPrefTempTime);
    if (edited.type() == Value::Type::None) return false;
    logf("tempTimeObj = %s", edited.description().c_str());
    unload();
    for (const std::string& key : {sPrefNextScheduledTime, sPrefNextScheduledTimeDisplayString, sPrefDailyScheduledTime,
                                   kPrefDidSetSchedule, kPrefDailyScheduleProblem})
        UserDefaults::standard().removeObjectForKey(key);
    UserDefaults::standard().synchronize();
    if (afterChange_) afterChange_();
    return true;
}

std::optional<platform::Date> DailySchedule::parseTimeOfDay(const std::string& text) {
    const auto time = NextLaunchDate::parseTimeOfDay(text);
    if (!time) return std::nullopt;
    return DateFormat::localTimeOnDay(std::chrono::system_clock::now(), time->first, time->second);
}

DailySchedule::Stored DailySchedule::stored() {
    const auto values = platform::PreferenceSnapshot::read({kPreflastLaunchctlDate, sPrefDailyScheduledTime,
                                                            kPrefDidSetSchedule, sPrefNextScheduledTime,
                                                            sPrefNextScheduledTimeDisplayString,
                                                            kPrefLastScheduledStart, kPrefDailyScheduleProblem});
    Stored s;
    s.lastAgentStart = values.string(kPreflastLaunchctlDate).value_or("");
    s.lastAgentStartDate = values.object(kPrefLastScheduledStart).date();
    s.time = values.object(sPrefDailyScheduledTime).date();
    s.confirmed = values.object(kPrefDidSetSchedule).toBool();
    s.set = s.confirmed && s.time.has_value();
    s.problem = values.string(kPrefDailyScheduleProblem).value_or("");
    s.next = values.object(sPrefNextScheduledTime).date();
    s.nextRunText = values.string(sPrefNextScheduledTimeDisplayString).value_or("(not known)");
    return s;
}

bool DailySchedule::confirmTime(platform::Date time) {
    UserDefaults::standard().setObject(kPrefTempTime, Value(time));
    return confirmTime();
}

bool DailySchedule::removeWithoutSheet() {
    // The sheet removes only after its time has been shown; without one,
    // the daily time (or now) stands in for it.
    if (UserDefaults::standard().objectForKey(kPrefTempTime).isNone()) {
        const Value scheduled = UserDefaults::standard().objectForKey(sPrefDailyScheduledTime);
        UserDefaults::standard().setObject(kPrefTempTime,
                                           scheduled.isNone() ? Value(std::chrono::system_clock::now()) : scheduled);
    }
    return removeSchedule();
}
