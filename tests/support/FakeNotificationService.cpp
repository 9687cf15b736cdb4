// Stands in for the desktop's notification daemon on the session bus named
// by DBUS_SESSION_BUS_ADDRESS, since a test machine has none. Each Notify it
// receives becomes one line in the file given as first argument:
// "app name <TAB> summary <TAB> body <TAB> urgency <TAB> desktop entry <TAB>
// icon <TAB> replaces_id"; each CloseNotification the line "closed <TAB> id".
// As a desktop's daemon does, a notification that replaces another keeps its
// id. With --actions it offers buttons (the "actions" capability) and, once
// it has answered a notification that has some, reports its first one as
// picked (ActionInvoked). With --never-answer it
// takes the calls but leaves them unanswered, as a hung daemon would.
// "ready" on standard output says the service name is held.

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

class FakeNotificationService : public QDBusVirtualObject {
public:
    FakeNotificationService(std::string recordFile, bool answers, bool actions)
        : recordFile_(std::move(recordFile)), answers_(answers), actions_(actions) {}

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.interface() != kService) return false;
        if (message.member() == QStringLiteral("GetCapabilities")) {
            QStringList capabilities{QStringLiteral("body")};
            if (actions_) capabilities << QStringLiteral("actions");
            connection.send(message.createReply(QVariant::fromValue(capabilities)));
            return true;
        }
        if (message.member() == QStringLiteral("CloseNotification")) {
            const QVariantList args = message.arguments();
            std::ofstream(recordFile_, std::ios::app)
                << "closed\t" << (args.isEmpty() ? 0u : args.front().toUInt()) << "\n" << std::flush;
            connection.send(message.createReply());
            return true;
        }
        if (message.member() != QStringLiteral("Notify")) return false;
        const QVariantList args = message.arguments();
        if (args.size() != 8) {
            connection.send(message.createErrorReply(QDBusError::InvalidArgs, QStringLiteral("Notify takes 8")));
            return true;
        }
        record(args);
        // Recorded before the answer, so a sender that got its answer finds
        // the line already written.
        if (!answers_) return true;
        const uint replaces = args.at(1).toUInt();
        connection.send(message.createReply(QVariant::fromValue(replaces != 0 ? replaces : ++lastId_)));
        const QStringList buttons = args.at(5).toStringList();
        if (actions_ && !buttons.isEmpty()) {
            QDBusMessage picked = QDBusMessage::createSignal(kPath, kService, QStringLiteral("ActionInvoked"));
            picked << lastId_ << buttons.front();
            connection.send(picked);
        }
        return true;
    }

private:
    void record(const QVariantList& args) const {
        const auto hints = qdbus_cast<QVariantMap>(args.at(6).value<QDBusArgument>());
        const QString urgency = hints.contains(QStringLiteral("urgency"))
                                    ? QString::number(hints.value(QStringLiteral("urgency")).toInt())
                                    : QStringLiteral("none");
        const QString entry = hints.value(QStringLiteral("desktop-entry"), QStringLiteral("none")).toString();
        const QString line = args.at(0).toString() + '\t' + args.at(3).toString() + '\t' + args.at(4).toString() +
                             '\t' + urgency + '\t' + entry + '\t' + args.at(2).toString() + '\t' +
                             QString::number(args.at(1).toUInt()) + '\n';
        std::ofstream(recordFile_, std::ios::app) << line.toStdString() << std::flush;
    }

    std::string recordFile_;
    bool answers_;
    bool actions_;
    uint lastId_ = 0;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s RECORD-FILE [--never-answer | --actions]\n", argv[0]);
        return 2;
    }
    const bool answers = !(argc > 2 && std::string(argv[2]) == "--never-answer");
    const bool actions = argc > 2 && std::string(argv[2]) == "--actions";
    FakeNotificationService service(argv[1], answers, actions);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerVirtualObject(kPath, &service) || !bus.registerService(kService)) {
        std::fprintf(stderr, "cannot serve %s: %s\n", qPrintable(kService), qPrintable(bus.lastError().message()));
        return 1;
    }
    std::puts("ready");
    std::fflush(stdout);
    // A daemon the bus started is no child of the test; it ends with the bus.
    QTimer busWatch;
    QObject::connect(&busWatch, &QTimer::timeout, &app, [&bus] {
        if (!bus.isConnected()) QCoreApplication::quit();
    });
    busWatch.start(100);
    return app.exec();
}
