#include "app/schedule/ScheduleCommand.h"

#include "app/schedule/DailySchedule.h"
#include "platform/scheduler/UserScheduler.h"

ScheduleCommand::Reply ScheduleCommand::schedule(DailySchedule& schedule, const std::string& timeOfDay) {
    const auto time = DailySchedule::parseTimeOfDay(timeOfDay);
    if (!time) return {2, "not a time of day (HH:MM): " + timeOfDay + "\n"};
    if (!schedule.confirmTime(*time)) {
        const std::string problem = DailySchedule::stored().problem;
        return {1, "the daily run at " + timeOfDay + " could not be installed" +
                       (problem.empty() ? std::string("; the log says why") : ": " + problem) + "\n"};
    }
    std::string reply = "archiving daily at " + timeOfDay + "; next run: " + DailySchedule::stored().nextRunText + "\n";
    if (platform::UserScheduler::cronDaemonMissing()) reply += "note: " + platform::UserScheduler::kNoCronDaemon + "\n";
    return {0, reply};
}

ScheduleCommand::Reply ScheduleCommand::unschedule(DailySchedule& schedule) {
    if (!DailySchedule::stored().confirmed && !DailySchedule::hasAgentFile()) return {0, "no daily schedule\n"};
    schedule.removeWithoutSheet();
    return {0, "daily schedule removed\n"};
}
