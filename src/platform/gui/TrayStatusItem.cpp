#include "platform/gui/TrayStatusItem.h"

#include "core/AppLogger.h"

#include <QCursor>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>

TrayStatusItem::TrayStatusItem(QObject* parent, int graceMs, QDBusConnection bus) : StatusItem(parent)
{
    if (!bus.isConnected()) {
        // Without a session bus no StatusNotifierItem host can ever see us; XEmbed is all there is.
        QTimer::singleShot(0, this, [this] { createTray(QStringLiteral("no session bus")); });
        return;
    }
    m_watcher =
        new QDBusServiceWatcher(watcherService(), bus, QDBusServiceWatcher::WatchForRegistration, this);
    connect(m_watcher, &QDBusServiceWatcher::serviceRegistered, this,
            [this] { createTray(QStringLiteral("StatusNotifierWatcher appeared")); });
    m_grace = new QTimer(this);
    m_grace->setSingleShot(true);
    connect(m_grace, &QTimer::timeout, this,
            [this] { createTray(QStringLiteral("no StatusNotifierWatcher")); });
    m_grace->start(graceMs);
    // The watcher may be there already; ask without blocking start-up.
    QDBusMessage ask = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
    ask << watcherService();
    auto* pending = new QDBusPendingCallWatcher(bus.asyncCall(ask, 2000), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this, pending] {
        pending->deleteLater();
        const QDBusPendingReply<bool> reply = *pending;
        if (!reply.isError() && reply.value())
            createTray(QStringLiteral("StatusNotifierWatcher present"));
    });
}

TrayStatusItem::~TrayStatusItem()
{
    delete m_tray;
}

void TrayStatusItem::createTray(const QString& why)
{
    if (m_tray)
        return;
    if (m_grace)
        m_grace->stop();
    m_tray = new QSystemTrayIcon(m_icon, this);
    m_tray->setToolTip(m_toolTip);
    if (m_menu)
        m_tray->setContextMenu(m_menu);
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            Q_EMIT activated(QCursor::pos());
        else if (reason == QSystemTrayIcon::MiddleClick)
            Q_EMIT middleClicked();
    });
    m_tray->show();
    AppLogger::shared().info(QStringLiteral("Tray icon created (%1)").arg(why));
    Q_EMIT shown();
}

void TrayStatusItem::setIcon(const QIcon& icon)
{
    m_icon = icon;
    if (m_tray)
        m_tray->setIcon(icon);
}

void TrayStatusItem::setToolTip(const QString& text)
{
    if (text == m_toolTip)
        return;
    m_toolTip = text;
    if (m_tray)
        m_tray->setToolTip(text);
}

void TrayStatusItem::setContextMenu(QMenu* menu)
{
    m_menu = menu;
    if (m_tray)
        m_tray->setContextMenu(menu);
}

std::optional<QRect> TrayStatusItem::geometry() const
{
    if (!m_tray)
        return std::nullopt;
    const QRect rect = m_tray->geometry();
    if (!rect.isValid() || rect.isEmpty())
        return std::nullopt;
    return rect;
}
