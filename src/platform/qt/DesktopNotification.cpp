#include "platform/qt/DesktopNotification.h"

#include "platform/runtime/Log.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

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

QDBusMessage notifyCall(const std::string& title, const std::string& body) {
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    // The desktop entry names the application and its icon in the service's history.
    const QVariantMap hints{{QStringLiteral("urgency"), QVariant::fromValue(kUrgencyCritical)},
                            {QStringLiteral("desktop-entry"), QStringLiteral("tolv-archiver")}};
    call << QString::fromUtf8(TOLV_APP_NAME) // app_name
         << uint(0)                          // replaces_id: always a new notification
         << QStringLiteral("tolv-archiver")  // app_icon, installed in hicolor
         << QString::fromStdString(title) << QString::fromStdString(body) << QStringList() // actions
         << hints << qint32(-1); // expire_timeout: the service's default
    return call;
}

} // namespace

bool DesktopNotification::send(const std::string& title, const std::string& body) {
    if (!QCoreApplication::instance()) return false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!serviceAvailable(bus)) return false;
    const QDBusMessage reply = bus.call(notifyCall(title, body), QDBus::Block, kReplyTimeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage) return true;
    logf("desktop notification: the notification service did not take it (%s)", qPrintable(reply.errorMessage()));
    return false;
}

} // namespace platform
