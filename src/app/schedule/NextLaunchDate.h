#pragma once
// The moment of the next daily run: today at the scheduled hour and minute,
// at today's zone offset, or a day (86400 s) later once that has come.

#include "platform/runtime/DateFormat.h"

#include <optional>
#include <string>
#include <utility>

struct NextLaunchDate {
    // Today (in the local zone at `now`) at hour:minute, second 0.
    static platform::Date todayAt(platform::Date now, int hour, int minute);
    // todayAt, moved on by 86400 s when now is not earlier than it.
    static platform::Date after(platform::Date now, int hour, int minute);
    static bool isPast(platform::Date now, platform::Date today) { return now >= today; }
    // "HH:MM" or "H:MM" (00:00 to 23:59) → hour and minute; nullopt otherwise.
    static std::optional<std::pair<int, int>> parseTimeOfDay(const std::string& text);
};
