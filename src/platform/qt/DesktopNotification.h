#pragma once
// A message on the user's desktop through the freedesktop notification
// service, so a failure is seen even while the window is hidden.

#include <string>

namespace platform {

class DesktopNotification {
public:
    DesktopNotification() = delete;

    // Shows a desktop notification (org.freedesktop.Notifications.Notify on
    // the session bus) with the application's name. Returns false, and shows
    // nothing, when there is no session bus or no notification service runs.
    // Never blocks longer than about a second. Needs a QCoreApplication.
    static bool send(const std::string& title, const std::string& body);
};

} // namespace platform
