#pragma once

#include "platform/gui/GlobalHotKey.h"

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QVariantMap>

class QDBusMessage;

// Ctrl+Alt+G through the desktop portal's GlobalShortcuts interface (Wayland desktops that offer it). The
// portal answers asynchronously: the key becomes active once the shortcut is bound, and the user may be asked
// to confirm or change the combination.
class PortalHotKey : public GlobalHotKey
{
    Q_OBJECT
public:
    explicit PortalHotKey(QObject* parent = nullptr, QDBusConnection bus = QDBusConnection::sessionBus(),
                          QString service = QStringLiteral("org.freedesktop.portal.Desktop"));

    [[nodiscard]] bool isActive() const override { return m_active; }
    [[nodiscard]] QString mechanism() const override { return QStringLiteral("desktop portal"); }

    // Starts the session; unavailable() follows when the portal does not answer or refuses.
    void start();

    static QString shortcutId() { return QStringLiteral("toggle-panel"); }

Q_SIGNALS:
    void bound();
    void unavailable(const QString& reason);

private Q_SLOTS:
    void onCreateSessionResponse(uint response, const QVariantMap& results);
    void onBindResponse(uint response, const QVariantMap& results);
    void onActivated(const QDBusObjectPath& session, const QString& shortcut, qulonglong timestamp,
                     const QVariantMap& options);

private:
    QString requestPath(const QString& token) const;
    bool callPortal(const QString& method, const QList<QVariant>& arguments, const QString& token,
                    const char* responseSlot);
    void fail(const QString& reason);

    QDBusConnection m_bus;
    QString m_service;
    QString m_sessionHandle;
    bool m_active = false;
    bool m_failed = false;
};
