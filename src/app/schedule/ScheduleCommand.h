#pragma once
// --schedule HH:MM and --unschedule: what confirming the set-time sheet with
// that time, or the remove-schedule sheet, does, with a reply for the start
// that asked. Used by the running application and by a start that acts
// alone because none runs.

#include "platform/desktop/SingleInstance.h"

#include <string>

class DailySchedule;

struct ScheduleCommand {
    using Reply = platform::SingleInstance::Reply;

    static Reply schedule(DailySchedule& schedule, const std::string& timeOfDay);
    static Reply unschedule(DailySchedule& schedule);
};
