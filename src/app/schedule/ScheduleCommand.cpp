#include "app/schedule/ScheduleCommand.h"

#include "app/schedule/DailySchedule.h"

ScheduleCommand::Reply ScheduleCommand::schedule(DailySchedule& schedule, const std::string& timeOfDay) {
    const auto time = DailySchedule::parseTimeOfDay(timeOfDay);
    if (!time) return {2, "not a time of day (HH:MM): " + timeOfDay + "\n"};
    if (!schedule.confirmTime(*time))
        return {1, "the daily run at " + timeOfDay + " could not be installed; the log says why\n"};
    return {0, "archiving daily at " + timeOfDay + "; next run: " + DailySchedule::stored().nextRunText + "\n"};
}

ScheduleCommand::Reply ScheduleCommand::unschedule(DailySchedule& schedule) {
    if (!DailySchedule::stored().confirmed && !DailySchedule::hasAgentFile()) return {0, "no daily schedule\n"};
    schedule.removeWithoutSheet();
    return {0, "daily schedule removed\n"};
}
