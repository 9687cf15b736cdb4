#pragma once
// Tells the user when a folder needs them: a slot that enters an error, or
// whose oldest unarchived file has waited longer than the alarm allows.
// Each new problem is logged with "ERROR:" and, with a display, shown as a
// desktop notification, one per subject (the destination, each folder): a
// new problem of the same subject takes the place of the one shown, and a
// problem that clears is taken off the desktop. Once every problem has
// cleared and the passes after it have ended, one notice says archiving
// runs again and what it archived. The window's title names the problems
// for as long as they last. It looks again whenever a pass ends or watching starts or
// stops, and once a minute, since a waiting file grows older by itself.

#include <QObject>
#include <QPointer>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

class Station;
namespace platform {
struct Notification;
}

class ProblemReporter : public QObject {
    Q_OBJECT
public:
    // Problems go to the log only until desktop notifications are switched on.
    explicit ProblemReporter(const Station& station);
    ~ProblemReporter() override;

    // The window, when there is one: its title names the problems, and a
    // notification's "Open" brings it forward (GUI thread).
    struct Window {
        std::function<void(const std::string&)> showTitle;
        std::function<void()> bringForward;
    };
    void setWindow(Window window) { window_ = std::move(window); }
    // With a display: each problem is also a desktop notification.
    void setNotify(bool notify) { notify_ = notify; }

    // Looks at every slot now (GUI thread).
    void review();
    // The problems shown, slot by slot.
    const std::map<int, std::string>& problems() const { return problems_; }

private:
    void reviewSoon(const platform::Notification&);
    void tell(int slot, const std::string& text);
    void withdraw(int slot);
    // A pass that ended after a recovery adds what it copied to the notice.
    void notePass(const std::string& error, std::int64_t copied);
    void tellRecoveryOnceArchived(bool anyBusy);
    std::string notificationBody(int slot, const std::string& text, bool logsSaved) const;
    void showInTitle();
    std::string overallShare() const;

    const Station& station_;
    Window window_;
    bool notify_ = false;
    std::map<int, std::string> problems_;
    std::map<int, std::uint32_t> shown_; // the desktop's id of each subject's notification
    struct Recovery {
        std::int64_t copied = 0;
        bool passEnded = false;
    };
    std::optional<Recovery> recovery_; // since the last problem cleared
    QPointer<ProblemReporter> self_;
};
