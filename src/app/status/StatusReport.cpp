#include "app/status/StatusReport.h"

#include "app/lifecycle/AppDelegate.h"
#include "app/schedule/DailySchedule.h"
#include "app/schedule/NextLaunchDate.h"
#include "core/ArchiveDestination.h"
#include "core/CommonHeader.h"
#include "core/RemoteArchive.h"
#include "core/RemoteDestination.h"
#include "core/Settings.h"
#include "platform/remote/SecureShell.h"
#include "platform/desktop/Bundle.h"
#include "platform/runtime/DateFormat.h"
#include "station/Station.h"
#include "pass/DestinationCheck.h"
#include "pass/FreeSpaceFloor.h"
#include "pass/RollingCheck.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <cstdio>
#include <filesystem>

namespace {

std::string yesNo(bool value) { return value ? "yes" : "no"; }

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
    s.archive = ArchiveHealth::stored(slot);
    return s;
}

std::optional<UnarchivedFiles::Count> unarchivedOf(const StatusReport::Slot& s) {
    if (!s.state.enabled || s.path.empty()) return std::nullopt;
    const auto from = s.state.lastArchived ? std::optional(s.state.lastArchived->started()) : std::nullopt;
    auto count = UnarchivedFiles::count(s.path, static_cast<unsigned>(std::max<long>(0, Settings::read().settleMinutes)), from);
    return count && count->files > 0 ? count : std::nullopt;
}

StatusReport::Destination destinationOf(const DestinationState& state) {
    StatusReport::Destination d;
    d.path = Settings::folder(CommonHeader::kDestinationSlot).path.value_or("");
    d.present = state.ready();
    d.problem = state.problem;
    if (!state.path.empty()) d.path = state.path;
    // Only the archive's own disk: that of a folder a disk left behind is the system disk's.
    if (d.present) d.freeBytes = state.freeBytes;
    if (const auto kept = KeptVersions::stored(); kept && !state.path.empty() && kept->destination == state.path)
        d.kept = kept;
    if (const auto remote = RemoteDestination::parse(d.path)) {
        d.key = platform::SecureShell::identityFor(remote->login).value_or("");
        if (RemoteArchive::isConnectionProblem(d.problem)) d.nextTry = RemoteArchive::nextTry();
    }
    return d;
}

StatusReport::Schedule scheduleFromPreferences() {
    const DailySchedule::Stored stored = DailySchedule::stored();
    StatusReport::Schedule s;
    s.lastAgentStart = stored.lastAgentStart;
    s.lastAgentStartDate = stored.lastAgentStartDate;
    s.set = stored.set;
    if (!s.set) return s;
    s.time = platform::DateFormat::format(*stored.time, "HH:mm");
    s.problem = stored.problem;
    if (!s.problem.empty()) return s; // no run is to come
    // The stored moment is as old as the last launch; once it has passed,
    // the next one is worked out afresh.
    const auto now = std::chrono::system_clock::now();
    auto next = stored.next;
    if (!next || *next <= now)
        next = NextLaunchDate::after(now, platform::DateFormat::localHour(*stored.time),
                                     platform::DateFormat::localMinute(*stored.time));
    s.next = next;
    return s;
}

// A moment for scripts: RFC 3339 in UTC, or null for one that never came.
QJsonValue jsonTime(const std::optional<platform::Date>& date) {
    return date ? QJsonValue(QString::fromStdString(platform::DateFormat::rfc3339(*date))) : QJsonValue();
}

// A running pass's {"done", "total"}; null without one.
QJsonValue progressJson(const std::optional<PassProgress::Shown>& progress) {
    if (!progress) return QJsonValue();
    return QJsonObject{{"done", static_cast<qint64>(progress->done)}, {"total", static_cast<qint64>(progress->total)}};
}

QJsonValue jsonText(const std::string& text, bool nullWhenEmpty = false) {
    return nullWhenEmpty && text.empty() ? QJsonValue() : QJsonValue(QString::fromStdString(text));
}

// A pass that a problem stopped or spoiled: when, and why.
QJsonValue lastAttemptJson(const std::optional<PassResult>& last) {
    if (!last || last->error.empty()) return QJsonValue();
    return QJsonObject{{"ended", jsonTime(last->ended)}, {"problem", jsonText(last->error)}};
}

QJsonValue lastPassJson(const std::optional<PassResult>& last) {
    if (!last) return QJsonValue();
    return QJsonObject{{"ended", jsonTime(last->ended)},
                       {"copied", static_cast<qint64>(last->copied)},
                       {"failed", static_cast<qint64>(last->failed)},
                       {"deleted", static_cast<qint64>(last->deleted)},
                       {"waiting", static_cast<qint64>(last->waiting)},
                       {"futureDated", static_cast<qint64>(last->futureDated)},
                       {"seconds", std::round(last->seconds * 100) / 100}};
}

// The rolling check's next share: how many copies, and when it falls due
// (nullopt: at the next look, or before the first one).
struct NextShare {
    std::int64_t copies = 0;
    std::optional<platform::Date> due;
};

NextShare nextShareOf(const ArchiveHealth& archive, long days) {
    if (archive.owed > 0) return {archive.owed, std::nullopt};
    return {RollingCheck::shareOf(archive.recorded, days), RollingCheck::nextDue(archive)};
}

std::string archiveLine(const ArchiveHealth& archive, long days) {
    if (days <= 0) return "archive not read again (switched off)";
    std::string line =
        "archive read through " +
        (archive.readThrough ? platform::DateFormat::describe(*archive.readThrough) : std::string("never")) +
        ", every " + std::to_string(days) + " days";
    if (!archive.lastRead) return line + "; its first share is read soon";
    const NextShare next = nextShareOf(archive, days);
    return line + "; next share " + std::to_string(next.copies) + (next.copies == 1 ? " copy" : " copies") +
           (next.due ? ", " + platform::DateFormat::describe(*next.due) : std::string(", now"));
}

QJsonArray pathList(const std::set<std::string>& paths) {
    QJsonArray list;
    for (const auto& path : paths) list.append(QString::fromStdString(path));
    return list;
}

} // namespace

StatusReport StatusReport::fromPreferences(bool running) {
    // A server's look is an ssh session, which a busy machine may take
    // seconds to make: told "not responding" sooner, it would be a false alarm.
    const auto destination = Settings::folder(CommonHeader::kDestinationSlot).path.value_or("");
    return fromPreferences(running, DestinationCheck::inspect(RemoteDestination::looksRemote(destination)
                                                                 ? kServerBound
                                                                 : kDestinationBound));
}

StatusReport StatusReport::fromPreferences(bool running, const DestinationState& destination) {
    StatusReport report;
    report.version = platform::Bundle::main().infoString("CFBundleShortVersionString");
    report.running = running;
    report.destination = destinationOf(destination);
    for (int slot = 1; slot < CommonHeader::kSlotCount; ++slot) {
        report.folders.push_back(slotFromPreferences(slot));
        report.folders.back().state.destinationProblem = report.destination.problem;
        // With no application running nothing archives: what waits is counted here.
        if (!running) report.folders.back().state.unarchived = unarchivedOf(report.folders.back());
    }
    report.schedule = scheduleFromPreferences();
    report.verifyArchiveDays = Settings::read().verifyArchiveDays;
    report.now = std::chrono::system_clock::now();
    return report;
}

StatusReport StatusReport::ofRunningApplication(const AppDelegate& delegate) {
    const auto known = delegate.destinationState();
    StatusReport report = known ? fromPreferences(true, *known) : fromPreferences(true);
    for (auto& slot : report.folders)
        if (const auto watched = delegate.station().slot(slot.slot)) {
            slot.state = watched->stateInputs();
            slot.state.destinationProblem = report.destination.problem;
        }
    return report;
}

SlotState StatusReport::stateOf(const Slot& s) const {
    return SlotState::of(s.state, now);
}

int StatusReport::exitStatus() const {
    // A folder in error, or a photo older than the alarm allows, says more
    // than that nothing runs.
    for (const Slot& s : folders)
        if (!stateOf(s).problem().empty()) return kProblem;
    return running ? kAllWell : kNotRunning;
}

std::string StatusReport::text() const {
    std::string out = std::string(TOLV_APP_NAME) + (running ? ": running\n" : ": not running\n");
    out += CommonHeader::slotDisplayName(CommonHeader::kDestinationSlot) + ": " +
           (destination.path.empty() ? "(no folder)" : destination.path);
    if (!destination.path.empty() && !destination.present)
        out += " (" + (destination.problem.empty() ? std::string("missing") : destination.problem) + ")";
    if (destination.freeBytes) out += ", " + FreeSpaceFloor::gigabytes(*destination.freeBytes) + " free";
    if (destination.kept && destination.kept->count > 0) out += ", " + destination.kept->text();
    if (destination.nextTry) out += ", next try " + platform::DateFormat::format(*destination.nextTry, "HH:mm:ss");
    if (destination.key)
        out += "\n    ssh key: " + (destination.key->empty() ? std::string("none found") : *destination.key);
    out += "\n";
    for (const Slot& s : folders) {
        out += s.name + ": " + (s.path.empty() ? "(no folder)" : s.path);
        if (!s.path.empty() && !s.valid) out += " (missing)";
        out += "\n    " + stateOf(s).line(s.state.last, s.state.lastArchived);
        if (!s.path.empty())
            out += "\n    " + (RemoteDestination::looksRemote(destination.path)
                                   ? std::string("archive on a server: not read again from here yet")
                                   : archiveLine(s.archive, verifyArchiveDays));
        out += "\n    enabled " + yesNo(s.enabled) + ", watched " + yesNo(s.state.watching) + ", busy " +
               yesNo(s.state.busy) + "\n";
    }
    if (!schedule.set) out += "Daily schedule: none\n";
    else if (!schedule.problem.empty()) out += "Daily schedule: " + schedule.time + ", not installed: " + schedule.problem + "\n";
    else out += "Daily schedule: " + schedule.time + ", next run " + (schedule.next ? platform::DateFormat::describe(*schedule.next) : "(not known)") + "\n";
    if (!schedule.lastAgentStart.empty()) out += "Last scheduled start: " + schedule.lastAgentStart + "\n";
    return out;
}

QJsonValue StatusReport::archiveCheckJson(const ArchiveHealth& archive,
                                          const std::optional<PassProgress::Shown>& reading) const {
    const NextShare next = nextShareOf(archive, verifyArchiveDays);
    const QJsonValue nextShare = verifyArchiveDays > 0
                                     ? QJsonValue(QJsonObject{{"copies", static_cast<qint64>(next.copies)},
                                                              {"due", jsonTime(next.due)},
                                                              {"after", jsonText(archive.next, true)}})
                                     : QJsonValue();
    return QJsonObject{{"days", static_cast<qint64>(verifyArchiveDays)},
                       {"lastReadThrough", jsonTime(archive.readThrough)},
                       {"lastRead", jsonTime(archive.lastRead)},
                       {"lastShare", static_cast<qint64>(archive.lastShare)},
                       {"nextShare", nextShare},
                       {"damaged", pathList(archive.damaged)},
                       {"missing", pathList(archive.missing)},
                       {"reading", progressJson(reading)}};
}

std::string StatusReport::json() const {
    QJsonArray slotList;
    for (const Slot& s : folders) {
        const SlotState state = stateOf(s);
        const auto lag = state.oldestUnarchivedMinutes;
        slotList.append(QJsonObject{
            {"index", s.slot},
            {"name", jsonText(s.name)},
            {"path", jsonText(s.path)},
            {"enabled", s.enabled},
            {"watching", s.state.watching},
            {"busy", s.state.busy},
            {"state", jsonText(state.name())},
            {"error", jsonText(state.error, true)},
            {"lastPass", lastPassJson(s.state.last)},
            {"lastArchived", lastPassJson(s.state.lastArchived)},
            {"lastAttempt", lastAttemptJson(s.state.last)},
            {"waiting", state.unarchived ? QJsonValue(static_cast<qint64>(state.unarchived->files)) : QJsonValue()},
            {"waitingSince", state.unarchived ? jsonTime(state.unarchived->since) : QJsonValue()},
            {"oldestUnarchivedMinutes", lag ? QJsonValue(static_cast<qint64>(*lag)) : QJsonValue()},
            {"progress", progressJson(state.progress)},
            {"archiveCheck", archiveCheckJson(s.archive, s.state.archiveCheck)}});
    }
    const QJsonObject dest{
        {"path", jsonText(destination.path)},
        {"present", destination.present},
        {"problem", jsonText(destination.problem, true)},
        {"freeBytes", destination.freeBytes ? QJsonValue(static_cast<qint64>(*destination.freeBytes)) : QJsonValue()},
        {"key", destination.key ? jsonText(*destination.key, true) : QJsonValue()},
        {"nextTry", jsonTime(destination.nextTry)},
        {"keptVersions", destination.kept
                             ? QJsonValue(QJsonObject{{"count", static_cast<qint64>(destination.kept->count)},
                                                      {"bytes", static_cast<qint64>(destination.kept->bytes)},
                                                      {"counted", jsonTime(destination.kept->countedAt)}})
                             : QJsonValue()}};
    const QJsonObject sched{{"time", schedule.set ? jsonText(schedule.time) : QJsonValue()},
                            {"installed", schedule.set && schedule.problem.empty()},
                            {"problem", jsonText(schedule.problem, true)},
                            {"next", schedule.set ? jsonTime(schedule.next) : QJsonValue()}};
    const QJsonObject top{{"version", jsonText(version)},
                          {"running", running},
                          {"destination", dest},
                          {"slots", slotList},
                          {"schedule", sched},
                          {"lastScheduledStart", jsonTime(schedule.lastAgentStartDate)}};
    return QJsonDocument(top).toJson(QJsonDocument::Compact).toStdString() + "\n";
}
