#pragma once
// Dates written with Unicode date patterns in the local time zone.

#include <chrono>
#include <string>

namespace platform {

using Date = std::chrono::system_clock::time_point;

class DateFormat {
public:
    // Supports the fields yyyy, MM, dd, HH, mm, ss, SSS and Z (zone offset
    // as +hhmm); text in single quotes and other characters stand as they are.
    static std::string format(Date date, const std::string& pattern);
    // ISO-8601 with zone offset, "2026-12-07T20:15:00+0100".
    static std::string iso8601(Date date);
    // RFC 3339 in UTC, "2026-12-07T19:15:00Z": what scripts' date parsers
    // (jq's fromdateiso8601 among them) take.
    static std::string rfc3339(Date date);
    // "Monday, 7 December 2026 at 20:15:00 Central European Standard Time"
    // style description in the current locale.
    static std::string describe(Date date);
    // Hour and minute of the date in the local zone.
    static int localHour(Date date);
    static int localMinute(Date date);
    // The moment the local clock shows hour:minute:00 on the calendar day of
    // `day` (on a day the clock skips that time, the normalised moment).
    static Date localTimeOnDay(Date day, int hour, int minute);
};

} // namespace platform
