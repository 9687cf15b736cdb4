#pragma once
// The requests of later starts (see ApplicationMain), answered by the
// running application on its GUI thread: open requests, URL events, a
// reopen, and the command-line commands.

#include "app/instance/CommandLine.h"
#include "platform/desktop/SingleInstance.h"

#include <QPointer>
#include <QWidget>

#include <memory>
#include <string>

class AppDelegate;
class StateButton;

class InstanceRequests {
public:
    // The status and the text for the later start's standard output.
    using Reply = platform::SingleInstance::Reply;

    InstanceRequests(std::shared_ptr<AppDelegate> delegate, QWidget* window, StateButton* toggle, bool headless);

    // GUI thread only.
    Reply answer(const CommandLine& line);
    // What --status prints of a running application.
    Reply status(bool json) const;

private:
    Reply launchRequest(const CommandLine& line);
    Reply quit(bool force);
    Reply toggleWatching(bool on);
    void reopen();

    std::shared_ptr<AppDelegate> delegate_;
    QPointer<QWidget> window_;
    QPointer<StateButton> toggle_;
    bool headless_;
    bool watchingWithoutWindow_ = false; // the launch switches watching off
};
