#include "watch/SlotState.h"

#include "core/ArchiveDestination.h"
#include "core/ArchiveHealth.h"
#include "core/CommonHeader.h"
#include "core/PreferencesHealth.h"
#include "core/Settings.h"

#include <chrono>

namespace {


std::string files(std::int64_t n) { return std::to_string(n) + (n == 1 ? " young file" : " young files"); }

// "10:02" today, "2026-12-08 10:02" before.
std::string moment(platform::Date when) {
    const auto day = [](platform::Date d) { return platform::DateFormat::format(d, "yyyy-MM-dd"); };
    if (day(when) == day(std::chrono::system_clock::now())) return platform::DateFormat::format(when, "HH:mm");
    return platform::DateFormat::format(when, "yyyy-MM-dd HH:mm");
}

} // namespace

SlotState SlotState::of(const Inputs& in, platform::Date now) {
    SlotState s;
    const std::string destinationProblem = in.destinationProblem.value_or("");
    std::string lastError = in.last ? in.last->error : "";
    if (in.destinationProblem && destinationProblem.empty() && ArchiveDestination::isDestinationProblem(lastError))
        lastError.clear(); // the destination is back
    // A slot switched off has no error to fix: its old result waits for
    // the next pass once it is on again.
    // A pass that runs while the destination is not there is stuck or
    // failing: the problem is what the user must see.
    if (!in.preferencesProblem.empty()) {
        s.kind = Kind::Error;
        s.error = in.preferencesProblem;
        return s;
    }
    // A card pulled, a disk unmounted: the photos it holds wait, and the
    // user must know. Its return is noticed by the slot's watcher.
    if (in.sourceMissing && !in.busy) {
        s.kind = Kind::Error;
        s.error = "source missing";
        return s;
    }
    if (in.enabled && !destinationProblem.empty()) s.kind = Kind::Error;
    else if (in.busy) s.kind = Kind::Archiving;
    else if (!in.archiveDamage.empty())
        s.kind = Kind::Error;
    else if (!in.enabled) s.kind = Kind::Off;
    else if (!lastError.empty()) s.kind = Kind::Error;
    else if (!in.watching) s.kind = in.unarchived && in.unarchived->files > 0 ? Kind::NotWatched : Kind::Off;
    else if (in.last && in.last->waiting > 0) s.kind = Kind::Waiting;
    else s.kind = Kind::Watching;
    if (in.enabled) s.error = destinationProblem.empty() ? lastError : destinationProblem;
    // The only copy damaged is told whatever else is wrong.
    if (!in.archiveDamage.empty()) s.error = s.error.empty() ? in.archiveDamage : s.error + "; " + in.archiveDamage;
    if (s.kind == Kind::Waiting) s.waiting = in.last->waiting;
    if (s.kind == Kind::Archiving) s.progress = in.progress;
    s.archiveCheck = in.archiveCheck;
    if (s.kind == Kind::NotWatched || s.kind == Kind::Error) s.unarchived = in.unarchived;
    // A watched folder's oldest file left by its last pass; one that nobody
    // watches, or whose destination is away, the oldest its count found.
    std::optional<platform::Date> oldest;
    if (in.enabled && in.watching && in.last) oldest = in.last->oldestUnarchived;
    if (s.unarchived && s.unarchived->since && (!oldest || *s.unarchived->since < *oldest)) oldest = s.unarchived->since;
    if (in.enabled && oldest) {
        const auto age = std::chrono::duration_cast<std::chrono::minutes>(now - *oldest);
        s.oldestUnarchivedMinutes = std::max<long>(0, age.count());
        s.lagAlarm = in.lagAlarmMinutes > 0 && *s.oldestUnarchivedMinutes > in.lagAlarmMinutes;
    }
    return s;
}

SlotState::Inputs SlotState::stored(int slot) {
    Inputs in = storedSwitches(slot);
    in.last = PassResult::load(slot);
    in.lastArchived = PassResult::loadLastArchived(slot);
    return in;
}

SlotState::Inputs SlotState::storedSwitches(int slot) {
    const Settings::Folder folder = Settings::folder(slot);
    Inputs in;
    const bool chosen = folder.path && !folder.path->empty();
    const bool on = Settings::slotSwitchedOn(slot, folder);
    in.enabled = on && folder.valid;
    in.sourceMissing = slot != CommonHeader::kDestinationSlot && chosen && on && !folder.valid;
    in.lagAlarmMinutes = lagAlarmMinutesSetting();
    in.preferencesProblem = PreferencesHealth::problem();
    if (slot != CommonHeader::kDestinationSlot && chosen) in.archiveDamage = ArchiveHealth::stored(slot).problem();
    return in;
}

long SlotState::lagAlarmMinutesSetting() {
    return Settings::read().lagAlarmMinutes;
}

std::string SlotState::name() const {
    switch (kind) {
    case Kind::Off: return "off";
    case Kind::Watching: return "watching";
    case Kind::Archiving: return "archiving";
    case Kind::Waiting: return "waiting";
    case Kind::NotWatched: return "not-watched";
    case Kind::Error: return "error";
    }
    return "off";
}

std::string SlotState::title() const {
    switch (kind) {
    case Kind::Off: return "Off";
    case Kind::Watching: return "Watching";
    case Kind::Archiving: return progress ? "Archiving " + progress->text() : "Archiving";
    case Kind::Waiting: return "Waiting for " + files(waiting);
    case Kind::NotWatched: return "Not watched" + waitingNote();
    case Kind::Error: return "Error: " + error;
    }
    return "Off";
}

std::string SlotState::problem() const {
    if (!error.empty()) return error;
    if (lagAlarm)
        return "a photo has waited " + std::to_string(*oldestUnarchivedMinutes) + " minutes without a copy";
    return "";
}

std::string SlotState::waitingNote() const {
    if (!unarchived || unarchived->files <= 0) return "";
    std::string note = " · " + std::to_string(unarchived->files) + " waiting";
    if (unarchived->since) note += " since " + moment(*unarchived->since);
    return note;
}

std::string SlotState::line(const std::optional<PassResult>& last, const std::optional<PassResult>& lastArchived) const {
    std::string out = title();
    if (kind == Kind::Error) out += waitingNote();
    if (lagAlarm) out += " · oldest unarchived file " + std::to_string(*oldestUnarchivedMinutes) + " min old";
    if (archiveCheck) out += " · checking the archive: " + archiveCheck->text();
    const auto passLine = [](const PassResult& pass) {
        return platform::DateFormat::format(pass.ended, "yyyy-MM-dd HH:mm") + " · " + pass.counts() + pass.futureNote();
    };
    // A pass that a problem stopped: the last one that archived stays in sight.
    if (last && !last->error.empty() && kind == Kind::Error) {
        out += " · last archived " + (lastArchived ? passLine(*lastArchived) : std::string("never"));
        return out + " · last attempt " + platform::DateFormat::format(last->ended, "yyyy-MM-dd HH:mm");
    }
    if (!last) return out + " · never archived";
    return out + " · last pass " + passLine(*last);
}
