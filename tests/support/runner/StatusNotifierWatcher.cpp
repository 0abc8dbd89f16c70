// The desktop's side of a StatusNotifier tray, for tests: owns
// org.kde.StatusNotifierWatcher on the session bus, says a tray host is there,
// and prints the service of each item that registers, one a line, so a test
// can reach the item and its menu as a desktop's tray does.
//   StatusNotifierWatcher        (DBUS_SESSION_BUS_ADDRESS names the bus)

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QStringList>

#include <cstdio>

namespace {

const QString kService = QStringLiteral("org.kde.StatusNotifierWatcher");

class Watcher : public QDBusVirtualObject {
public:
    QString introspect(const QString&) const override {
        return QStringLiteral(
            "<interface name=\"org.kde.StatusNotifierWatcher\">"
            "<method name=\"RegisterStatusNotifierItem\"><arg type=\"s\" direction=\"in\"/>"
            "</method>"
            "<method name=\"RegisterStatusNotifierHost\"><arg type=\"s\" direction=\"in\"/>"
            "</method>"
            "<property name=\"RegisteredStatusNotifierItems\" type=\"as\" access=\"read\"/>"
            "<property name=\"IsStatusNotifierHostRegistered\" type=\"b\" access=\"read\"/>"
            "<property name=\"ProtocolVersion\" type=\"i\" access=\"read\"/>"
            "</interface>");
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        const QString member = message.member();
        if (member == QLatin1String("RegisterStatusNotifierItem")) {
            QString item = message.arguments().value(0).toString();
            // An item may give only its path; its service is then the sender.
            if (item.startsWith(QLatin1Char('/'))) {
                item = message.service();
            }
            m_items << item;
            std::printf("%s\n", item.toUtf8().constData());
            std::fflush(stdout);
            connection.send(message.createReply());
            return true;
        }
        if (member == QLatin1String("RegisterStatusNotifierHost")) {
            connection.send(message.createReply());
            return true;
        }
        if (member == QLatin1String("Get")) {
            connection.send(message.createReply(QVariant::fromValue(
                QDBusVariant(Property(message.arguments().value(1).toString())))));
            return true;
        }
        if (member == QLatin1String("GetAll")) {
            QVariantMap all;
            for (const char* name : {"RegisteredStatusNotifierItems",
                                     "IsStatusNotifierHostRegistered", "ProtocolVersion"}) {
                all.insert(QLatin1String(name), Property(QLatin1String(name)));
            }
            connection.send(message.createReply(all));
            return true;
        }
        return false;
    }

private:
    QVariant Property(const QString& name) const {
        if (name == QLatin1String("IsStatusNotifierHostRegistered")) {
            return true;
        }
        if (name == QLatin1String("ProtocolVersion")) {
            return 0;
        }
        if (name == QLatin1String("RegisteredStatusNotifierItems")) {
            return m_items;
        }
        return {};
    }

    QStringList m_items;
};

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    Watcher watcher;
    if (!bus.isConnected() ||
        !bus.registerVirtualObject(QStringLiteral("/StatusNotifierWatcher"), &watcher) ||
        !bus.registerService(kService)) {
        std::fprintf(stderr, "cannot serve %s on the session bus\n", kService.toUtf8().constData());
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}
