#include "app/StatusReport.h"

#include "app/NextLaunchDate.h"
#include "core/CommonHeader.h"
#include "platform/preferences/UserDefaults.h"
#include "platform/runtime/DateFormat.h"

#include <cstdio>

namespace {

std::string yesNo(bool value) { return value ? "yes" : "no"; }

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        default:
            if (c < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out += escaped;
            } else {
                out += static_cast<char>(c); // UTF-8 passes through as it is
            }
        }
    }
    return out + "\"";
}

std::string jsonBool(bool value) { return value ? "true" : "false"; }

StatusReport::Slot slotFromPreferences(int slot) {
    auto& prefs = platform::UserDefaults::standard();
    const ParamDictionary p = CommonHeader::slotParameters(slot);
    StatusReport::Slot s;
    s.slot = slot;
    s.name = CommonHeader::slotDisplayName(slot);
    s.path = prefs.stringForKey(p.at(sPrefCameraFolderPathKey)).value_or("");
    s.valid = prefs.boolForKey(p.at(sPrefCameraFolderPathAliasDataIsValidKey));
    const platform::Value enabled = prefs.objectForKey(p.at(sPrefCameraFolderPathEnableKey));
    s.enabled = slot != CommonHeader::kDestinationSlot && (enabled.isNone() || enabled.toBool());
    s.busy = prefs.boolForKey(CommonHeader::inProgressKey(slot));
    return s;
}

StatusReport::Schedule scheduleFromPreferences() {
    auto& prefs = platform::UserDefaults::standard();
    StatusReport::Schedule s;
    s.lastAgentStart = prefs.stringForKey(kPreflastLaunchctlDate).value_or("");
    const auto time = prefs.objectForKey(sPrefDailyScheduledTime).date();
    s.set = prefs.boolForKey(kPrefDidSetSchedule) && time.has_value();
    if (!s.set) return s;
    s.time = platform::DateFormat::format(*time, "HH:mm");
    // The stored moment is as old as the last launch; once it has passed,
    // the next one is worked out afresh.
    const auto now = std::chrono::system_clock::now();
    auto next = prefs.objectForKey(sPrefNextScheduledTime).date();
    if (!next || *next <= now)
        next = NextLaunchDate::after(now, platform::DateFormat::localHour(*time), platform::DateFormat::localMinute(*time));
    s.nextRun = platform::DateFormat::describe(*next);
    s.nextRunIso = platform::DateFormat::iso8601(*next);
    return s;
}

} // namespace

StatusReport StatusReport::fromPreferences(bool running) {
    StatusReport report;
    report.running = running;
    for (int slot = 0; slot < CommonHeader::kSlotCount; ++slot) report.folders.push_back(slotFromPreferences(slot));
    report.schedule = scheduleFromPreferences();
    return report;
}

std::string StatusReport::text() const {
    std::string out = std::string(TOLV_APP_NAME) + (running ? ": running\n" : ": not running\n");
    for (const Slot& s : folders) {
        out += s.name + ": " + (s.path.empty() ? "(no folder)" : s.path);
        if (!s.path.empty() && !s.valid) out += " (missing)";
        if (s.slot != CommonHeader::kDestinationSlot)
            out += "\n    enabled " + yesNo(s.enabled) + ", watched " + yesNo(s.watched) + ", busy " + yesNo(s.busy);
        out += "\n";
    }
    if (!schedule.set) out += "Daily schedule: none\n";
    else out += "Daily schedule: " + schedule.time + ", next run " + (schedule.nextRun.empty() ? "(not known)" : schedule.nextRun) + "\n";
    if (!schedule.lastAgentStart.empty()) out += "Last scheduled start: " + schedule.lastAgentStart + "\n";
    return out;
}

std::string StatusReport::json() const {
    std::string out = "{\"running\":" + jsonBool(running) + ",\"slots\":[";
    for (size_t i = 0; i < folders.size(); ++i) {
        const Slot& s = folders[i];
        out += (i ? "," : "") + std::string("{\"slot\":") + std::to_string(s.slot) + ",\"name\":" + jsonString(s.name) +
               ",\"path\":" + jsonString(s.path) + ",\"valid\":" + jsonBool(s.valid) +
               ",\"enabled\":" + jsonBool(s.enabled) + ",\"watched\":" + jsonBool(s.watched) +
               ",\"busy\":" + jsonBool(s.busy) + "}";
    }
    out += "],\"schedule\":";
    if (!schedule.set) out += "null";
    else out += "{\"time\":" + jsonString(schedule.time) + ",\"nextRun\":" + jsonString(schedule.nextRunIso) + "}";
    out += ",\"lastScheduledStart\":" + jsonString(schedule.lastAgentStart);
    return out + "}\n";
}
