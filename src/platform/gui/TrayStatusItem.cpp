#include "platform/gui/TrayStatusItem.h"

#include "core/io/AppLogger.h"

#include <QCursor>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QGuiApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

TrayStatusItem::TrayStatusItem(QObject* parent, int graceMs, QDBusConnection bus) : StatusItem(parent)
{
    if (!bus.isConnected()) {
        // Without a session bus no StatusNotifierItem host can ever see us; XEmbed is all there is.
        QTimer::singleShot(0, this, &TrayStatusItem::graceOver);
        return;
    }
    m_watcher =
        new QDBusServiceWatcher(watcherService(), bus, QDBusServiceWatcher::WatchForRegistration, this);
    connect(m_watcher, &QDBusServiceWatcher::serviceRegistered, this,
            [this] { createTray(QStringLiteral("StatusNotifierWatcher appeared")); });
    m_grace = new QTimer(this);
    m_grace->setSingleShot(true);
    connect(m_grace, &QTimer::timeout, this, &TrayStatusItem::graceOver);
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

bool TrayStatusItem::xembedTrayPresent()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return false;
    int screen = 0;
    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(connection)); it.rem;
         xcb_screen_next(&it), ++screen) {
        const QByteArray name = "_NET_SYSTEM_TRAY_S" + QByteArray::number(screen);
        const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
            xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 1, name.size(), name.constData()),
                                  nullptr),
            &std::free);
        if (!atom || atom->atom == XCB_ATOM_NONE)
            continue;
        const std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> owner(
            xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, atom->atom),
                                          nullptr),
            &std::free);
        if (owner && owner->owner != XCB_NONE)
            return true;
    }
    return false;
}

void TrayStatusItem::graceOver()
{
    if (m_tray)
        return;
    if (xembedTrayPresent()) {
        createTray(m_watcher ? QStringLiteral("no StatusNotifierWatcher, XEmbed tray found")
                             : QStringLiteral("no session bus, XEmbed tray found"));
        return;
    }
    // Asking Qt whether a tray is there would fix its choice for the process; the icon waits instead.
    if (!m_poll) {
        m_poll = new QTimer(this);
        m_poll->setInterval(2000);
        connect(m_poll, &QTimer::timeout, this, [this] {
            if (xembedTrayPresent())
                createTray(QStringLiteral("XEmbed tray appeared"));
        });
        m_poll->start();
    }
    AppLogger::shared().warn(
        QStringLiteral("No tray host (neither a StatusNotifierWatcher nor an XEmbed tray manager)"));
    Q_EMIT unavailable();
}

void TrayStatusItem::createTray(const QString& why)
{
    if (m_tray)
        return;
    if (m_grace)
        m_grace->stop();
    if (m_poll)
        m_poll->stop();
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
