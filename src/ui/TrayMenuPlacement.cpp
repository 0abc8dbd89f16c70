#include "ui/TrayMenuPlacement.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QGuiApplication>

namespace {

bool StatusNotifierHostRegistered() {
    const QString service = QStringLiteral("org.kde.StatusNotifierWatcher");
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface() ||
        !bus.interface()->isServiceRegistered(service).value()) {
        return false;
    }
    QDBusInterface watcher(service, QStringLiteral("/StatusNotifierWatcher"), service, bus);
    return watcher.property("IsStatusNotifierHostRegistered").toBool();
}

}  // namespace

bool DesktopPlacesTrayMenus() {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        return true;
    }
    return StatusNotifierHostRegistered();
}
