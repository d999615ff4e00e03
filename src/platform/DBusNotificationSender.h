#pragma once

#include "core/runtime/NotificationSender.h"

#include <QDBusConnection>
#include <QHash>
#include <QObject>

#include <optional>

// NotificationSender on the freedesktop notification service (org.freedesktop.Notifications on the
// session bus). Every call is asynchronous; a service that does not answer within the time-out counts as
// absent.
class DBusNotificationSender : public QObject, public NotificationSender
{
    Q_OBJECT

public:
    static QString service() { return QStringLiteral("org.freedesktop.Notifications"); }

    struct Options
    {
        // Offer a default action; clicking the notification then reports its identifier.
        bool openOnClick = true;
        int timeoutMs = 5000;
    };

    // On the session bus, connected on first use: a process that never notifies never touches the bus.
    DBusNotificationSender();
    explicit DBusNotificationSender(Options options, QObject* parent = nullptr);
    DBusNotificationSender(const QDBusConnection& bus, Options options, QObject* parent = nullptr);

    void checkService(std::function<void(const CheckResult&)> done) override;
    void post(const NotificationRequest& request, std::function<void(const PostResult&)> done) override;
    void setActivationHandler(std::function<void(const QString& identifier)> handler) override
    {
        m_onActivated = std::move(handler);
    }

private Q_SLOTS:
    void onActionInvoked(uint id, const QString& actionKey);
    void onNotificationClosed(uint id, uint reason);

private:
    QDBusConnection& bus();
    QString busError();

    std::optional<QDBusConnection> m_bus;
    bool m_listening = false;
    Options m_options;
    std::function<void(const QString&)> m_onActivated;
    // Our identifiers of the notifications still shown, by the service's id for them.
    QHash<uint, QString> m_shown;
    // The service renders markup in bodies unless it says otherwise, so text is escaped by default.
    bool m_bodyMarkup = true;
};
