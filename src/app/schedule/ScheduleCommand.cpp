#include "app/schedule/ScheduleCommand.h"

#include "app/schedule/DailySchedule.h"
#include "core/CommonHeader.h"
#include "platform/preferences/UserDefaults.h"

using platform::UserDefaults;
using platform::Value;

namespace {

UserDefaults& prefs() { return UserDefaults::standard(); }

std::string nextRunText() {
    return prefs().stringForKey(sPrefNextScheduledTimeDisplayString).value_or("(not known)");
}

} // namespace

ScheduleCommand::Reply ScheduleCommand::schedule(DailySchedule& schedule, const std::string& timeOfDay) {
    const auto time = DailySchedule::parseTimeOfDay(timeOfDay);
    if (!time) return {2, "not a time of day (HH:MM): " + timeOfDay + "\n"};
    prefs().setObject(kPrefTempTime, Value(*time));
    if (!schedule.confirmTime())
        return {1, "the daily run at " + timeOfDay + " could not be installed; the log says why\n"};
    return {0, "archiving daily at " + timeOfDay + "; next run: " + nextRunText() + "\n"};
}

ScheduleCommand::Reply ScheduleCommand::unschedule(DailySchedule& schedule) {
    if (!prefs().boolForKey(kPrefDidSetSchedule) && !DailySchedule::hasAgentFile()) return {0, "no daily schedule\n"};
    // The sheet removes only after its time has been shown; a command has
    // nothing to show, so it stands in for that.
    if (prefs().objectForKey(kPrefTempTime).isNone()) {
        const Value scheduled = prefs().objectForKey(sPrefDailyScheduledTime);
        prefs().setObject(kPrefTempTime, scheduled.isNone() ? Value(std::chrono::system_clock::now()) : scheduled);
    }
    schedule.removeSchedule();
    return {0, "daily schedule removed\n"};
}
