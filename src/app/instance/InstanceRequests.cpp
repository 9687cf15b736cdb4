#include "app/instance/InstanceRequests.h"

#include "app/instance/SetupCommand.h"
#include "app/lifecycle/AppDelegate.h"
#include "app/schedule/ScheduleCommand.h"
#include "app/widgets/StateButton.h"
#include "app/status/StatusReport.h"
#include "dialogs/ModalUI.h"
#include "folders/SelectFolderNSViewController.h"
#include "platform/runtime/Log.h"
#include "platform/runtime/NotificationCenter.h"
#include "watch/WatcherNSObject.h"

#include <QTimer>

using platform::logf;

InstanceRequests::InstanceRequests(std::shared_ptr<AppDelegate> delegate, QWidget* window, StateButton* toggle,
                                   bool headless)
    : delegate_(std::move(delegate)), window_(window), toggle_(toggle), headless_(headless) {}

InstanceRequests::Reply InstanceRequests::answer(const CommandLine& line) {
    using Action = CommandLine::Action;
    switch (line.action) {
    case Action::Launch: return launchRequest(line);
    case Action::Scan: delegate_->ibScanAgain(); return {0, "scan started\n"};
    case Action::StartAll: return toggleWatching(true);
    case Action::StopAll: return toggleWatching(false);
    case Action::Poll: delegate_->pollAllPaths(); return {0, "poll started\n"};
    case Action::Quit: return quit(line.force);
    case Action::Relaunch:
        // After the answer has gone out: relaunching ends this application.
        QTimer::singleShot(0, [delegate = delegate_] { delegate->ibRelaunchApp(nullptr); });
        return {0, "relaunching\n"};
    case Action::Status: return status(line.json);
    case Action::CheckDestination:
        // The command made its own report; here the destination is looked at again at once.
        platform::NotificationCenter::defaultCenter().post(kDestinationRetry);
        return {0, ""};
    case Action::Schedule: return ScheduleCommand::schedule(delegate_->schedule(), line.scheduleTime);
    case Action::Unschedule: return ScheduleCommand::unschedule(delegate_->schedule());
    case Action::SetDestination:
    case Action::SetSource:
    case Action::Enable:
    case Action::Disable:
    case Action::Set: return SetupCommand::run(line, true);
    case Action::Help:
    case Action::Version:
    case Action::Autostart: break; // answered by the start itself
    }
    return {2, "not a request for the running application\n"};
}

InstanceRequests::Reply InstanceRequests::launchRequest(const CommandLine& line) {
    for (const std::string& url : line.urls) delegate_->handleURLEvent(url);
    std::vector<std::string> files = line.files;
    // "-fromlaunchagent" is the open request for the agent file: a scan.
    if (line.fromLaunchAgent) files.push_back(AppDelegate::kAgentFile);
    if (!files.empty()) delegate_->openFiles(files);
    if (line.isBare()) reopen();
    return {0, ""};
}

void InstanceRequests::reopen() {
    const bool visible = window_ && window_->isVisible();
    if (!delegate_->applicationShouldHandleReopen(visible) || !window_ || headless_) return;
    window_->show();
    window_->raise();
    window_->activateWindow();
}

InstanceRequests::Reply InstanceRequests::toggleWatching(bool on) {
    if (!toggle_) {
        // No window, no switch to click: the station is told straight away.
        if (watchingWithoutWindow_ == on) return {0, on ? "already watching\n" : "not watching\n"};
        watchingWithoutWindow_ = on;
        delegate_->switchAllWatching(on);
        return {0, on ? "watching switched on\n" : "watching switched off\n"};
    }
    // The switch's state after a click is what its action reads: "off"
    // means the click started watching.
    const bool watching = toggle_->state() == StateButton::kOffState;
    if (watching == on) return {0, on ? "already watching\n" : "not watching\n"};
    toggle_->click();
    return {0, on ? "watching switched on\n" : "watching switched off\n"};
}

InstanceRequests::Reply InstanceRequests::quit(bool force) {
    const Reply busy{1, "busy archiving: not quitting (--force quits)\n"};
    // A terminal has no window to answer the busy alert on: it is told at once.
    if (!force && delegate_->hasRunningTasks()) return busy;
    const auto reply = delegate_->applicationShouldTerminate(force ? std::optional(ModalUI::kAlternateReturn)
                                                                   : std::nullopt);
    if (reply == AppDelegate::TerminateReply::Cancel) return busy;
    // After the answer has gone out; the guard has said yes already.
    QTimer::singleShot(0, [delegate = delegate_] { delegate->terminate(nullptr, ModalUI::kAlternateReturn); });
    return {0, "quitting\n"};
}

InstanceRequests::Reply InstanceRequests::status(bool json) const {
    const StatusReport report = StatusReport::ofRunningApplication(*delegate_);
    return {report.exitStatus(), json ? report.json() : report.text()};
}
