#include "app/status/ProblemReporter.h"

#include "app/lifecycle/AppDelegate.h"
#include "folders/SelectFolderNSViewController.h"
#include "core/PreferencesHealth.h"
#include "core/CommonHeader.h"
#include "core/Settings.h"
#include "log/OVLogFileManager.h"
#include "watch/WatcherNSObject.h"
#include "platform/qt/DesktopNotification.h"
#include "platform/qt/QtGuiThread.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/NotificationCenter.h"

#include <QDesktopServices>
#include <QTimer>
#include <QUrl>

#include <chrono>

using platform::logf;
using platform::NotificationCenter;

ProblemReporter::ProblemReporter(std::shared_ptr<AppDelegate> delegate, QWidget* window, bool headless)
    : delegate_(delegate), window_(window), headless_(headless), self_(this) {
    auto& center = NotificationCenter::defaultCenter();
    for (const std::string& name :
         {kWatcherPassEnded, kWatcherDidStart, kWatcherDidStop, kWatcherDidStopAll, kDestinationDidChange})
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

void ProblemReporter::reviewSoon(const platform::Notification&) {
    // Watchers post from their own threads; the window lives on the GUI
    // thread. Queued even there, so the rows have taken the news first.
    platform::queueOnGuiThread([self = self_] {
        if (self) self->review();
    });
}

void ProblemReporter::review() {
    auto delegate = delegate_.lock();
    if (!delegate) return;
    std::map<int, std::string> now;
    std::string destinationProblem;
    for (const auto& row : delegate->rows())
        if (row && row->_viewIndex() == CommonHeader::kDestinationSlot)
            destinationProblem = row->destinationProblem().value_or("");
    // Settings lost to a damaged file stop every folder too.
    const std::string lost = PreferencesHealth::problem();
    // The rows' own states, so the title never says other than they do.
    for (const auto& row : delegate->rows()) {
        if (!row || row->_viewIndex() == CommonHeader::kDestinationSlot) continue;
        const std::string problem = row->slotState().problem();
        if (problem.empty()) continue;
        // A destination that is not there stops every folder: told once, as its own.
        const bool everyFolder = problem == destinationProblem || problem == lost;
        const int slot = everyFolder ? CommonHeader::kDestinationSlot : row->_viewIndex();
        now[slot] = CommonHeader::slotDisplayName(slot) + ": " + problem;
    }
    for (const auto& [slot, text] : now)
        // Told once per problem, not once a minute while it lasts.
        if (problems_[slot] != text) tell(slot, text);
    problems_ = std::move(now);
    showInTitle();
}

void ProblemReporter::tell(int slot, const std::string& text) {
    logf("ERROR: %s", text.c_str());
    if (headless_) return;
    const bool logsSaved = Settings::read().saveLogs;
    std::vector<platform::DesktopNotification::Action> actions{{"open", "Open", [window = window_] {
        if (!window) return;
        window->show();
        window->raise();
        window->activateWindow();
    }}};
    if (logsSaved)
        actions.push_back({"log", "Show log", [] {
            QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(OVLogFileManager::logFolder().string())));
        }});
    if (!platform::DesktopNotification::send(std::string(TOLV_APP_NAME) + ": " + CommonHeader::slotDisplayName(slot),
                                             notificationBody(slot, text, logsSaved), std::move(actions)))
        logf("No desktop notification service: the problem is shown in the window only");
}

// The problem, the file it concerns when one failed, and where the log is.
std::string ProblemReporter::notificationBody(int slot, const std::string& text, bool logsSaved) const {
    std::string body = text;
    if (auto delegate = delegate_.lock())
        for (const auto& row : delegate->rows())
            if (row && row->_viewIndex() == slot)
                if (const auto last = row->stateInputs().last; last && !last->firstFailed.empty())
                    body += "\nFirst: " + last->firstFailed;
    if (logsSaved) body += "\nThe log: " + OVLogFileManager::logFolder().string();
    return body;
}

// "42% archived" over every pass under way that has files to copy; "" when none has.
std::string ProblemReporter::overallShare() const {
    auto delegate = delegate_.lock();
    if (!delegate) return "";
    std::int64_t done = 0, total = 0;
    // Straight from the watchers: this runs every second, and needs nothing the preferences keep.
    for (const auto& row : delegate->rows())
        if (const auto watcher = row ? row->_watcherObj() : nullptr)
            if (const auto progress = watcher->progress()) {
                done += progress->done;
                total += progress->total;
            }
    if (total == 0) return "";
    return std::to_string(done * 100 / total) + "% archived";
}

void ProblemReporter::showInTitle() {
    if (!window_) return;
    std::string title = TOLV_APP_NAME;
    if (const std::string share = overallShare(); !share.empty()) title += " — " + share;
    for (const auto& [slot, text] : problems_) title += (slot == problems_.begin()->first ? " — " : "; ") + text;
    window_->setWindowTitle(QString::fromStdString(title));
}
