#include "app/schedule/NextLaunchDate.h"

#include <chrono>
#include <regex>
#include <string>

using namespace std::chrono;

namespace {

int number(platform::Date date, const char* pattern) { return std::stoi(platform::DateFormat::format(date, pattern)); }

// "+0130" → 5400 s; "-0800" → -28800 s.
seconds zoneOffset(platform::Date date) {
    const std::string z = platform::DateFormat::format(date, "Z");
    if (z.size() != 5) return seconds(0);
    const int sign = z[0] == '-' ? -1 : 1;
    return seconds(sign * (std::stoi(z.substr(1, 2)) * 3600 + std::stoi(z.substr(3, 2)) * 60));
}

} // namespace

platform::Date NextLaunchDate::todayAt(platform::Date now, int hour, int minute) {
    // The calendar day of now as the local zone sees it, read at now's offset:
    // the same moment as today's date, the scheduled time and now's "Z" read
    // back as one date.
    const year_month_day day{year(number(now, "yyyy")), month(static_cast<unsigned>(number(now, "MM"))),
                             std::chrono::day(static_cast<unsigned>(number(now, "dd")))};
    const sys_seconds local = sys_days(day) + hours(hour) + minutes(minute);
    return platform::Date(local - zoneOffset(now));
}

platform::Date NextLaunchDate::after(platform::Date now, int hour, int minute) {
    const platform::Date today = todayAt(now, hour, minute);
    return isPast(now, today) ? today + seconds(86400) : today;
}

std::optional<std::pair<int, int>> NextLaunchDate::parseTimeOfDay(const std::string& text) {
    static const std::regex kTime("([01]?[0-9]|2[0-3]):([0-5][0-9])");
    std::smatch match;
    if (!std::regex_match(text, match, kTime)) return std::nullopt;
    return std::pair{std::stoi(match[1]), std::stoi(match[2])};
}
