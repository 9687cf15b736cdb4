#include "watch/SlotState.h"

#include "core/ArchiveDestination.h"
#include "core/CommonHeader.h"
#include "core/PreferencesHealth.h"
#include "core/Settings.h"

#include <chrono>

namespace {


std::string files(std::int64_t n) { return std::to_string(n) + (n == 1 ? " young file" : " young files"); }

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
    else if (!in.enabled) s.kind = Kind::Off;
    else if (!lastError.empty()) s.kind = Kind::Error;
    else if (!in.watching) s.kind = Kind::Off;
    else if (in.last && in.last->waiting > 0) s.kind = Kind::Waiting;
    else s.kind = Kind::Watching;
    if (in.enabled) s.error = destinationProblem.empty() ? lastError : destinationProblem;
    if (s.kind == Kind::Waiting) s.waiting = in.last->waiting;
    if (s.kind == Kind::Archiving) s.progress = in.progress;
    // Only a watched folder is expected to be archived as it changes.
    if (in.enabled && in.watching && in.last && in.last->oldestUnarchived) {
        const auto age = std::chrono::duration_cast<std::chrono::minutes>(now - *in.last->oldestUnarchived);
        s.oldestUnarchivedMinutes = std::max<long>(0, age.count());
        s.lagAlarm = in.lagAlarmMinutes > 0 && *s.oldestUnarchivedMinutes > in.lagAlarmMinutes;
    }
    return s;
}

SlotState::Inputs SlotState::stored(int slot) {
    Inputs in = storedSwitches(slot);
    in.last = PassResult::load(slot);
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

std::string SlotState::line(const std::optional<PassResult>& last) const {
    std::string out = title();
    if (lagAlarm) out += " · oldest unarchived file " + std::to_string(*oldestUnarchivedMinutes) + " min old";
    if (!last) return out + " · never archived";
    return out + " · last pass " + platform::DateFormat::format(last->ended, "yyyy-MM-dd HH:mm") + " · " + last->counts() + last->futureNote();
}
