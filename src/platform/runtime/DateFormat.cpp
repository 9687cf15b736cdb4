#include "platform/runtime/DateFormat.h"

#include <cstdio>
#include <ctime>

namespace platform {
namespace {

struct LocalTime {
    std::tm tm{};
    int millis = 0;
};

LocalTime toLocal(Date date) {
    using namespace std::chrono;
    auto ms = duration_cast<milliseconds>(date.time_since_epoch()).count();
    std::time_t secs = static_cast<std::time_t>(ms / 1000);
    int millis = static_cast<int>(ms % 1000);
    if (millis < 0) { // floor for moments before 1970
        millis += 1000;
        --secs;
    }
    LocalTime lt;
    localtime_r(&secs, &lt.tm);
    lt.millis = millis;
    return lt;
}

std::string zoneOffset(const std::tm& tm) {
    long off = tm.tm_gmtoff / 60;
    char sign = off < 0 ? '-' : '+';
    if (off < 0) off = -off;
    char buf[24];
    std::snprintf(buf, sizeof buf, "%c%02ld%02ld", sign, off / 60, off % 60);
    return buf;
}

std::string number(int value, int width) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*d", width, value);
    return buf;
}

// Length of the run of the same letter starting at i.
size_t runLength(const std::string& s, size_t i) {
    size_t n = 1;
    while (i + n < s.size() && s[i + n] == s[i]) ++n;
    return n;
}

std::string field(char letter, size_t count, const LocalTime& lt) {
    const std::tm& tm = lt.tm;
    switch (letter) {
    case 'y': return count == 2 ? number((tm.tm_year + 1900) % 100, 2) : number(tm.tm_year + 1900, static_cast<int>(count));
    case 'M': return number(tm.tm_mon + 1, static_cast<int>(count));
    case 'd': return number(tm.tm_mday, static_cast<int>(count));
    case 'H': return number(tm.tm_hour, static_cast<int>(count));
    case 'm': return number(tm.tm_min, static_cast<int>(count));
    case 's': return number(tm.tm_sec, static_cast<int>(count));
    case 'S': return number(lt.millis, 3).substr(0, count);
    case 'Z': return zoneOffset(tm);
    default: return std::string(count, letter);
    }
}

} // namespace

std::string DateFormat::format(Date date, const std::string& pattern) {
    LocalTime lt = toLocal(date);
    std::string out;
    for (size_t i = 0; i < pattern.size();) {
        char c = pattern[i];
        if (c == '\'') { // quoted literal; '' stands for one quote, inside quotes or out
            if (i + 1 < pattern.size() && pattern[i + 1] == '\'') {
                out += '\'';
                i += 2;
                continue;
            }
            for (++i; i < pattern.size(); ++i) {
                if (pattern[i] != '\'') {
                    out += pattern[i];
                } else if (i + 1 < pattern.size() && pattern[i + 1] == '\'') {
                    out += '\'';
                    ++i;
                } else {
                    break;
                }
            }
            ++i;
        } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
            size_t n = runLength(pattern, i);
            out += field(c, n, lt);
            i += n;
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

std::string DateFormat::iso8601(Date date) { return format(date, "yyyy-MM-dd'T'HH:mm:ssZ"); }

std::string DateFormat::rfc3339(Date date) {
    const std::time_t t = std::chrono::system_clock::to_time_t(date);
    std::tm utc{};
    gmtime_r(&t, &utc);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return buf;
}

std::string DateFormat::describe(Date date) {
    LocalTime lt = toLocal(date);
    char buf[128];
    std::strftime(buf, sizeof buf, "%A, %B %e, %Y at %H:%M:%S %Z", &lt.tm);
    return buf;
}

int DateFormat::localHour(Date date) { return toLocal(date).tm.tm_hour; }
int DateFormat::localMinute(Date date) { return toLocal(date).tm.tm_min; }

Date DateFormat::localTimeOnDay(Date day, int hour, int minute) {
    std::tm tm = toLocal(day).tm;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = 0;
    tm.tm_isdst = -1; // the zone decides whether summer time applies then
    return std::chrono::system_clock::from_time_t(std::mktime(&tm));
}

} // namespace platform
