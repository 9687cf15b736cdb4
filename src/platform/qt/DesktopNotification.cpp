#include "platform/qt/DesktopNotification.h"

#include "platform/runtime/Log.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

#include <map>

namespace platform {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

// A daemon answers at once, or within moments when the bus has to start it
// first; waiting longer would only freeze the window behind a hung one.
constexpr int kReplyTimeoutMs = 1000;

// What is sent are failures, and a critical notification stays on screen
// until the user dismisses it instead of fading unread.
constexpr uchar kUrgencyCritical = 2;

// Asking the bus first spares a desktop without a notification daemon a
// call that can only fail, and its log line. Many desktops have the bus
// start their daemon on the first notification, so a service the bus can
// start counts as present.
bool serviceAvailable(const QDBusConnection& bus) {
    if (!bus.isConnected()) return false;
    const QDBusConnectionInterface* busInterface = bus.interface();
    if (!busInterface) return false;
    if (busInterface->isServiceRegistered(kService).value()) return true;
    return busInterface->activatableServiceNames().value().contains(kService);
}

QDBusMessage notifyCall(const std::string& title, const std::string& body, const QStringList& actions) {
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    // The desktop entry names the application and its icon in the service's history.
    const QVariantMap hints{{QStringLiteral("urgency"), QVariant::fromValue(kUrgencyCritical)},
                            {QStringLiteral("desktop-entry"), QStringLiteral("tolv-archiver")}};
    call << QString::fromUtf8(TOLV_APP_NAME) // app_name
         << uint(0)                          // replaces_id: always a new notification
         << QStringLiteral("tolv-archiver")  // app_icon, installed in hicolor
         << QString::fromStdString(title) << QString::fromStdString(body) << actions
         << hints << qint32(-1); // expire_timeout: the service's default
    return call;
}

bool offersActions(const QDBusConnection& bus) {
    const QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("GetCapabilities"));
    const QDBusMessage reply = bus.call(call, QDBus::Block, kReplyTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
           reply.arguments().front().toStringList().contains(QStringLiteral("actions"));
}

} // namespace

// The actions of the notifications still on screen, by the service's id;
// one listener on the bus for all of them. GUI thread only.
class NotificationActions : public QObject {
    Q_OBJECT
public:
    static NotificationActions& instance() {
        static auto* actions = new NotificationActions; // never destroyed: the bus may call late
        return *actions;
    }
    // Before the notification goes out: the user may pick at once.
    void listen(QDBusConnection& bus) {
        if (listening_) return;
        bus.connect(kService, kPath, kService, QStringLiteral("ActionInvoked"), this, SLOT(invoked(uint, QString)));
        bus.connect(kService, kPath, kService, QStringLiteral("NotificationClosed"), this, SLOT(closed(uint, uint)));
        listening_ = true;
    }
    // Signals are handled on the event loop, so one that came with the
    // answer finds its actions kept.
    void keep(uint id, std::vector<DesktopNotification::Action> actions) { byId_[id] = std::move(actions); }

public slots:
    void invoked(uint id, const QString& key) {
        const auto it = byId_.find(id);
        if (it == byId_.end()) return;
        for (const auto& action : it->second)
            if (QString::fromStdString(action.key) == key && action.run) action.run();
    }
    void closed(uint id, uint) { byId_.erase(id); }

private:
    bool listening_ = false;
    std::map<uint, std::vector<DesktopNotification::Action>> byId_;
};

bool DesktopNotification::send(const std::string& title, const std::string& body) { return send(title, body, {}); }

bool DesktopNotification::send(const std::string& title, const std::string& body, std::vector<Action> actions) {
    if (!QCoreApplication::instance()) return false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!serviceAvailable(bus)) return false;
    QStringList pairs;
    if (!actions.empty() && offersActions(bus)) {
        for (const Action& action : actions)
            pairs << QString::fromStdString(action.key) << QString::fromStdString(action.label);
        NotificationActions::instance().listen(bus);
    }
    const QDBusMessage reply = bus.call(notifyCall(title, body, pairs), QDBus::Block, kReplyTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        logf("desktop notification: the notification service did not take it (%s)", qPrintable(reply.errorMessage()));
        return false;
    }
    if (!pairs.isEmpty() && !reply.arguments().isEmpty())
        NotificationActions::instance().keep(reply.arguments().front().toUInt(), std::move(actions));
    return true;
}

} // namespace platform

#include "DesktopNotification.moc"
