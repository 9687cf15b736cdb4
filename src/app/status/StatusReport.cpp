#include "app/status/StatusReport.h"

#include "app/lifecycle/AppDelegate.h"
#include "app/schedule/DailySchedule.h"
#include "app/schedule/NextLaunchDate.h"
#include "core/ArchiveDestination.h"
#include "core/CommonHeader.h"
#include "core/Settings.h"
#include "platform/desktop/Bundle.h"
#include "platform/runtime/DateFormat.h"
#include "folders/SelectFolderNSViewController.h"
#include "tools/DestinationCheck.h"
#include "tools/FreeSpaceFloor.h"

#include <cstdio>
#include <filesystem>

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

std::string jsonNumber(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

// A JSON object from members already written as JSON, in order.
std::string jsonObject(const std::vector<std::pair<std::string, std::string>>& members) {
    std::string out = "{";
    for (size_t i = 0; i < members.size(); ++i)
        out += (i ? "," : "") + jsonString(members[i].first) + ":" + members[i].second;
    return out + "}";
}

StatusReport::Slot slotFromPreferences(int slot) {
    const Settings::Folder folder = Settings::folder(slot);
    StatusReport::Slot s;
    s.slot = slot;
    s.name = CommonHeader::slotDisplayName(slot);
    s.path = folder.path.value_or("");
    s.valid = folder.valid;
    s.enabled = folder.switchedOn();
    // A running flag left by an application that ended mid-pass says nothing.
    s.state = SlotState::stored(slot);
    return s;
}

StatusReport::Destination destinationOf(const DestinationState& state) {
    StatusReport::Destination d;
    d.path = Settings::folder(CommonHeader::kDestinationSlot).path.value_or("");
    d.present = state.ready();
    d.problem = state.problem;
    if (!state.path.empty()) d.path = state.path;
    // Only the archive's own disk: that of a folder a disk left behind is the system disk's.
    if (d.present) d.freeBytes = state.freeBytes;
    return d;
}

StatusReport::Schedule scheduleFromPreferences() {
    const DailySchedule::Stored stored = DailySchedule::stored();
    StatusReport::Schedule s;
    s.lastAgentStart = stored.lastAgentStart;
    s.set = stored.set;
    if (!s.set) return s;
    s.time = platform::DateFormat::format(*stored.time, "HH:mm");
    // The stored moment is as old as the last launch; once it has passed,
    // the next one is worked out afresh.
    const auto now = std::chrono::system_clock::now();
    auto next = stored.next;
    if (!next || *next <= now)
        next = NextLaunchDate::after(now, platform::DateFormat::localHour(*stored.time),
                                     platform::DateFormat::localMinute(*stored.time));
    s.nextRun = platform::DateFormat::describe(*next);
    return s;
}

std::string lastPassJson(const std::optional<PassResult>& last) {
    if (!last) return "null";
    return jsonObject({{"ended", jsonString(platform::DateFormat::iso8601(last->ended))},
                       {"copied", std::to_string(last->copied)},
                       {"failed", std::to_string(last->failed)},
                       {"deleted", std::to_string(last->deleted)},
                       {"waiting", std::to_string(last->waiting)},
                       {"seconds", jsonNumber(last->seconds)}});
}

} // namespace

StatusReport StatusReport::fromPreferences(bool running) {
    return fromPreferences(running, DestinationCheck::inspect(kDestinationBound));
}

StatusReport StatusReport::fromPreferences(bool running, const DestinationState& destination) {
    StatusReport report;
    report.version = platform::Bundle::main().infoString("CFBundleShortVersionString");
    report.running = running;
    report.destination = destinationOf(destination);
    for (int slot = 1; slot < CommonHeader::kSlotCount; ++slot) {
        report.folders.push_back(slotFromPreferences(slot));
        report.folders.back().state.destinationProblem = report.destination.problem;
    }
    report.schedule = scheduleFromPreferences();
    report.now = std::chrono::system_clock::now();
    return report;
}

StatusReport StatusReport::ofRunningApplication(const AppDelegate& delegate) {
    const auto known = delegate.destinationState();
    StatusReport report = known ? fromPreferences(true, *known) : fromPreferences(true);
    for (const auto& row : delegate.rows())
        for (auto& slot : report.folders)
            if (row && slot.slot == row->_viewIndex()) {
                slot.state = row->stateInputs();
                slot.state.destinationProblem = report.destination.problem;
            }
    return report;
}

SlotState StatusReport::stateOf(const Slot& s) const {
    return SlotState::of(s.state, now);
}

int StatusReport::exitStatus() const {
    for (const Slot& s : folders)
        if (stateOf(s).kind == SlotState::Kind::Error) return 1;
    return 0;
}

std::string StatusReport::text() const {
    std::string out = std::string(TOLV_APP_NAME) + (running ? ": running\n" : ": not running\n");
    out += CommonHeader::slotDisplayName(CommonHeader::kDestinationSlot) + ": " +
           (destination.path.empty() ? "(no folder)" : destination.path);
    if (!destination.path.empty() && !destination.present)
        out += " (" + (destination.problem.empty() ? std::string("missing") : destination.problem) + ")";
    if (destination.freeBytes) out += ", " + FreeSpaceFloor::gigabytes(*destination.freeBytes) + " free";
    out += "\n";
    for (const Slot& s : folders) {
        out += s.name + ": " + (s.path.empty() ? "(no folder)" : s.path);
        if (!s.path.empty() && !s.valid) out += " (missing)";
        out += "\n    " + stateOf(s).line(s.state.last);
        out += "\n    enabled " + yesNo(s.enabled) + ", watched " + yesNo(s.state.watching) + ", busy " +
               yesNo(s.state.busy) + "\n";
    }
    if (!schedule.set) out += "Daily schedule: none\n";
    else out += "Daily schedule: " + schedule.time + ", next run " + (schedule.nextRun.empty() ? "(not known)" : schedule.nextRun) + "\n";
    if (!schedule.lastAgentStart.empty()) out += "Last scheduled start: " + schedule.lastAgentStart + "\n";
    return out;
}

std::string StatusReport::json() const {
    std::string slotList = "[";
    for (size_t i = 0; i < folders.size(); ++i) {
        const Slot& s = folders[i];
        const SlotState state = stateOf(s);
        const auto lag = state.oldestUnarchivedMinutes;
        slotList += (i ? "," : "") +
                 jsonObject({{"index", std::to_string(s.slot)},
                             {"name", jsonString(s.name)},
                             {"path", jsonString(s.path)},
                             {"enabled", jsonBool(s.enabled)},
                             {"watching", jsonBool(s.state.watching)},
                             {"busy", jsonBool(s.state.busy)},
                             {"state", jsonString(state.name())},
                             {"error", state.error.empty() ? "null" : jsonString(state.error)},
                             {"lastPass", lastPassJson(s.state.last)},
                             {"oldestUnarchivedMinutes", lag ? std::to_string(*lag) : "null"}});
    }
    slotList += "]";
    const std::string dest = jsonObject(
        {{"path", jsonString(destination.path)},
         {"present", jsonBool(destination.present)},
         {"problem", destination.problem.empty() ? "null" : jsonString(destination.problem)},
         {"freeBytes", destination.freeBytes ? std::to_string(*destination.freeBytes) : "null"}});
    const std::string sched =
        jsonObject({{"time", schedule.set ? jsonString(schedule.time) : "null"},
                    {"next", schedule.set ? jsonString(schedule.nextRunIso) : "null"}});
    return jsonObject({{"version", jsonString(version)},
                       {"running", jsonBool(running)},
                       {"destination", dest},
                       {"slots", slotList},
                       {"schedule", sched},
                       {"lastScheduledStart", jsonString(schedule.lastAgentStart)}}) +
           "\n";
}
