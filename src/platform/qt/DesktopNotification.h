#pragma once
// A message on the user's desktop through the freedesktop notification
// service, so a failure is seen even while the window is hidden.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace platform {

class DesktopNotification {
public:
    DesktopNotification() = delete;

    // Shows a desktop notification (org.freedesktop.Notifications.Notify on
    // the session bus) with the application's name. Returns false, and shows
    // nothing, when there is no session bus or no notification service runs.
    // Never blocks longer than about a second. Needs a QCoreApplication.
    static bool send(const std::string& title, const std::string& body);

    // The same with buttons, where the service offers them (its "actions"
    // capability); without, the notification shows as it would without them.
    // An action's run is called on the GUI thread when the user picks it.
    struct Action {
        std::string key;   // e.g. "open"
        std::string label; // e.g. "Open"
        std::function<void()> run;
    };
    static bool send(const std::string& title, const std::string& body, std::vector<Action> actions);

    struct Message {
        std::string title;
        std::string body;
        std::vector<Action> actions;
        std::uint32_t replaces = 0; // the id of one shown before, which this one takes the place of
        bool critical = true;       // a problem; false for good news
    };
    // The same, answering the id the service gave it (0 when it gave none).
    static std::optional<std::uint32_t> show(Message message);
    // Takes a notification shown before off the desktop (CloseNotification).
    static void withdraw(std::uint32_t id);
};

} // namespace platform
