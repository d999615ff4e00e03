#pragma once

#include "platform/gui/StatusItem.h"

#include <QDBusConnection>
#include <QPointer>

class QDBusServiceWatcher;
class QMenu;
class QSystemTrayIcon;
class QTimer;

// StatusItem on QSystemTrayIcon. Qt picks StatusNotifierItem or XEmbed once per process, when the first tray
// icon is made, by whether a StatusNotifierWatcher is on the session bus; a desktop that starts its watcher a
// little after us would leave us with an invisible XEmbed icon. So the icon is made only once the watcher is
// seen, or after a grace period when an XEmbed tray manager is there. With neither, no icon is made (so that
// Qt's choice stays open) and `unavailable` tells the application, which must show itself some other way;
// the icon follows as soon as either kind of tray appears.
class TrayStatusItem : public StatusItem
{
    Q_OBJECT
public:
    static QString watcherService() { return QStringLiteral("org.kde.StatusNotifierWatcher"); }

    explicit TrayStatusItem(QObject* parent = nullptr, int graceMs = 5000,
                            QDBusConnection bus = QDBusConnection::sessionBus());
    ~TrayStatusItem() override;

    void setIcon(const QIcon& icon) override;
    void setToolTip(const QString& text) override;
    void setContextMenu(QMenu* menu) override;
    [[nodiscard]] std::optional<QRect> geometry() const override;
    [[nodiscard]] bool isShown() const override { return m_tray != nullptr; }
    [[nodiscard]] bool isSettled() const override { return m_tray || m_poll; }
    // Whether an XEmbed tray manager owns its selection on the X server (false off X11).
    [[nodiscard]] static bool xembedTrayPresent();

private:
    void createTray(const QString& why);
    void graceOver();

    QDBusServiceWatcher* m_watcher = nullptr;
    QTimer* m_grace = nullptr;
    // Looks for an XEmbed tray manager while there is no tray.
    QTimer* m_poll = nullptr;
    QSystemTrayIcon* m_tray = nullptr;
    QIcon m_icon;
    QString m_toolTip;
    QPointer<QMenu> m_menu;
};
