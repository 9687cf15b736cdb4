#include "station/ProblemReporter.h"

#include "station/Station.h"
#include "core/PreferencesHealth.h"
#include "core/CommonHeader.h"
#include "core/Settings.h"
#include "log/OVLogFileManager.h"
#include "platform/qt/DesktopNotification.h"
#include "platform/qt/QtGuiThread.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/NotificationCenter.h"

#include <QDesktopServices>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <filesystem>

using platform::logf;
using platform::NotificationCenter;

namespace {

// A log folder is named only once there is one to open.
bool logFolderExists() {
    std::error_code ec;
    return std::filesystem::is_directory(OVLogFileManager::logFolder(), ec);
}

} // namespace

ProblemReporter::ProblemReporter(const Station& station) : station_(station), self_(this) {
    auto& center = NotificationCenter::defaultCenter();
    for (const std::string& name : {kWatcherPassEnded, kWatcherDidStart, kWatcherDidStop, kWatcherDidStopAll,
                                    kDestinationDidChange, kWatcherUnarchivedCounted, kArchiveCheckDidEnd})
        center.addObserver(this, name, [this](const platform::Notification& n) { reviewSoon(n); });
    auto* timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &ProblemReporter::review);
    timer->start(std::chrono::minutes(1));
    // The share archived of the passes under way moves in the title every second.
    auto* progressTimer = new QTimer(this);
    connect(progressTimer, &QTimer::timeout, this, &ProblemReporter::showInTitle);
    progressTimer->start(std::chrono::seconds(1));
}

ProblemReporter::~ProblemReporter() { NotificationCenter::defaultCenter().removeObserver(this); }

void ProblemReporter::reviewSoon(const platform::Notification& n) {
    std::optional<PassResult> ended;
    if (const auto* result = n.info<PassResult>(kUserInfoPassResult)) ended = *result;
    // Watchers post from their own threads; the window lives on the GUI
    // thread. Queued even there, so the slots have taken the news first.
    platform::queueOnGuiThread([self = self_, ended] {
        if (!self) return;
        if (ended) self->notePass(ended->error, ended->copied);
        self->review();
    });
}

void ProblemReporter::notePass(const std::string& error, std::int64_t copied) {
    if (!recovery_ || !error.empty()) return;
    recovery_->copied += copied;
    recovery_->passEnded = true;
}

void ProblemReporter::review() {
    std::map<int, std::string> now;
    const auto destination = station_.slot(CommonHeader::kDestinationSlot);
    const std::string destinationProblem = destination ? destination->destinationProblem().value_or("") : "";
    // Settings lost to a damaged file stop every folder too.
    const std::string lost = PreferencesHealth::problem();
    // The slots' own states, so the title never says other than the rows do.
    bool anyBusy = false;
    for (int index = 1; index < CommonHeader::kSlotCount; ++index) {
        const auto row = station_.slot(index);
        if (!row) continue;
        const SlotState::Inputs in = row->stateInputs();
        anyBusy = anyBusy || in.busy;
        const std::string problem = SlotState::of(in, std::chrono::system_clock::now()).problem();
        if (problem.empty()) continue;
        // A destination that is not there stops every folder: told once, as its own.
        const bool everyFolder = problem == destinationProblem || problem == lost;
        const int slot = everyFolder ? CommonHeader::kDestinationSlot : index;
        now[slot] = CommonHeader::slotDisplayName(slot) + ": " + problem;
    }
    for (const auto& [slot, text] : now)
        // Told once per problem, not once a minute while it lasts.
        if (problems_[slot] != text) tell(slot, text);
    for (const auto& [slot, text] : problems_)
        if (!text.empty() && !now.count(slot)) {
            logf("Cleared: %s", text.c_str());
            withdraw(slot);
            recovery_ = Recovery{};
        }
    problems_ = std::move(now);
    if (!problems_.empty()) recovery_.reset();
    tellRecoveryOnceArchived(anyBusy);
    showInTitle();
}

void ProblemReporter::withdraw(int slot) {
    const auto it = shown_.find(slot);
    if (it == shown_.end()) return;
    platform::DesktopNotification::withdraw(it->second);
    shown_.erase(it);
}

void ProblemReporter::tellRecoveryOnceArchived(bool anyBusy) {
    if (!recovery_ || !recovery_->passEnded || anyBusy) return;
    const std::int64_t copied = recovery_->copied;
    recovery_.reset();
    const std::string text =
        "archiving again: " + std::to_string(copied) + (copied == 1 ? " photo archived" : " photos archived");
    logf("%s", text.c_str());
    if (!notify_) return;
    platform::DesktopNotification::show({TOLV_APP_NAME, text, {}, 0, false});
}

void ProblemReporter::tell(int slot, const std::string& text) {
    logf("ERROR: %s", text.c_str());
    if (!notify_) return;
    const bool logsSaved = Settings::read().saveLogs;
    std::vector<platform::DesktopNotification::Action> actions{{"open", "Open", [self = self_] {
                                                                    if (self && self->window_.bringForward)
                                                                        self->window_.bringForward();
                                                                }}};
    if (logsSaved && logFolderExists())
        actions.push_back({"log", "Show log", [] {
                               QDesktopServices::openUrl(
                                   QUrl::fromLocalFile(QString::fromStdString(OVLogFileManager::logFolder().string())));
                           }});
    // One per subject: a new problem takes the place of the one shown.
    const auto id = platform::DesktopNotification::show(
        {std::string(TOLV_APP_NAME) + ": " + CommonHeader::slotDisplayName(slot),
         notificationBody(slot, text, logsSaved), std::move(actions), shown_.count(slot) ? shown_[slot] : 0u});
    if (!id)
        logf("No desktop notification service: the problem is shown in the window only");
    else if (*id != 0)
        shown_[slot] = *id;
}

// The problem, the file it concerns when one failed, and where the log is.
std::string ProblemReporter::notificationBody(int slot, const std::string& text, bool logsSaved) const {
    std::string body = text;
    if (const auto row = station_.slot(slot))
        if (const auto last = row->lastPass(); last && !last->firstFailed.empty())
            body += "\nFirst: " + last->firstFailed;
    if (logsSaved && logFolderExists()) body += "\nThe log: " + OVLogFileManager::logFolder().string();
    return body;
}

// "42% archived" over every pass under way that has files to copy; "" when none has.
std::string ProblemReporter::overallShare() const {
    // Straight from the watchers: this runs every second, and needs nothing the preferences keep.
    const auto all = station_.overallProgress();
    if (!all) return "";
    return std::to_string(all->done * 100 / all->total) + "% archived";
}

void ProblemReporter::showInTitle() {
    if (!window_.showTitle) return;
    std::string title = TOLV_APP_NAME;
    if (const std::string share = overallShare(); !share.empty()) title += " — " + share;
    for (const auto& [slot, text] : problems_) title += (slot == problems_.begin()->first ? " — " : "; ") + text;
    window_.showTitle(title);
}
