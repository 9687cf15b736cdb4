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
constexpr uchar kUrgencyNormal = 1;
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

QDBusMessage notifyCall(const std::string& title, const std::string& body, const QStringList& actions,
                        std::uint32_t replaces, bool critical) {
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    // The desktop entry names the application and its icon in the service's history.
    const QVariantMap hints{{QStringLiteral("urgency"), QVariant::fromValue(critical ? kUrgencyCritical : kUrgencyNormal)},
                            {QStringLiteral("desktop-entry"), QStringLiteral("tolv-archiver")}};
    call << QString::fromUtf8(TOLV_APP_NAME) // app_name
         << uint(replaces)                   // replaces_id: 0 for a new notification
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
    return show({title, body, std::move(actions)}).has_value();
}

void DesktopNotification::withdraw(std::uint32_t id) {
    if (!QCoreApplication::instance() || id == 0) return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("CloseNotification"));
    call << uint(id);
    // Bounded as a Notify is; a notification the user closed already is no error.
    bus.call(call, QDBus::Block, kReplyTimeoutMs);
}

std::optional<std::uint32_t> DesktopNotification::show(Message message) {
    const std::string& title = message.title;
    const std::string& body = message.body;
    std::vector<Action>& actions = message.actions;
    if (!QCoreApplication::instance()) return std::nullopt;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!serviceAvailable(bus)) return std::nullopt;
    QStringList pairs;
    if (!actions.empty() && offersActions(bus)) {
        for (const Action& action : actions)
            pairs << QString::fromStdString(action.key) << QString::fromStdString(action.label);
        NotificationActions::instance().listen(bus);
    }
    const QDBusMessage reply = bus.call(notifyCall(title, body, pairs, message.replaces, message.critical),
                                        QDBus::Block, kReplyTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        logf("desktop notification: the notification service did not take it (%s)", qPrintable(reply.errorMessage()));
        return std::nullopt;
    }
    const std::uint32_t id = reply.arguments().isEmpty() ? 0 : reply.arguments().front().toUInt();
    if (!pairs.isEmpty() && id != 0) NotificationActions::instance().keep(id, std::move(actions));
    return id;
}

} // namespace platform

#include "DesktopNotification.moc"
