#pragma once
// Tells the user when a folder needs them: a slot that enters an error, or
// whose oldest unarchived file has waited longer than the alarm allows.
// Each new problem is logged with "ERROR:" and, with a display, shown as a
// desktop notification; the window's title names the problems for as long
// as they last. It looks again whenever a pass ends or watching starts or
// stops, and once a minute, since a waiting file grows older by itself.

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <map>
#include <memory>
#include <string>

class AppDelegate;
class QTimer;
namespace platform {
struct Notification;
}

class ProblemReporter : public QObject {
    Q_OBJECT
public:
    ProblemReporter(std::shared_ptr<AppDelegate> delegate, QWidget* window, bool headless);
    ~ProblemReporter() override;

    // Looks at every slot now (GUI thread).
    void review();
    // The problems shown, slot by slot.
    const std::map<int, std::string>& problems() const { return problems_; }

private:
    void reviewSoon(const platform::Notification&);
    void tell(int slot, const std::string& text);
    std::string notificationBody(int slot, const std::string& text, bool logsSaved) const;
    void showInTitle();
    std::string overallShare() const;

    std::weak_ptr<AppDelegate> delegate_;
    QPointer<QWidget> window_;
    const bool headless_;
    std::map<int, std::string> problems_;
    QPointer<ProblemReporter> self_;
};
