#include "platform/gui/GlobalHotKey.h"

#include "core/io/AppLogger.h"
#include "platform/gui/PortalHotKey.h"
#include "platform/gui/X11HotKey.h"

#include <QDBusConnection>
#include <QGuiApplication>

std::unique_ptr<GlobalHotKey> createGlobalHotKey(QObject* parent)
{
    if (QGuiApplication::platformName() == QLatin1StringView("xcb")) {
        if (auto key = X11HotKey::create(parent))
            return key;
    }
    if (QDBusConnection::sessionBus().isConnected()) {
        auto portal = std::make_unique<PortalHotKey>(parent);
        portal->start();
        return portal;
    }
    AppLogger::shared().info(
        QStringLiteral("No global hot key here; bind `tallyvane --toggle` to a shortcut instead"));
    return nullptr;
}
