#pragma once

#include <QString>

#include <functional>
#include <optional>

// One desktop notification, as the notification manager hands it over.
struct NotificationRequest
{
    // The alert's key, e.g. "codex-5h-usage".
    QString key;
    // key + "-" + a fresh UUID; ours, whatever id the desktop gives the notification.
    QString identifier;
    QString title;
    QString body;
    // Shown as critical (time to limit, running out early) rather than normal.
    bool critical = false;

    friend bool operator==(const NotificationRequest&, const NotificationRequest&) = default;
};

// The desktop's notification service, as it describes itself.
struct NotificationServerInfo
{
    QString name;
    QString vendor;
    QString version;
    QString specVersion;
};

// Delivers notifications to the desktop. Every answer arrives later, on the thread that asked, and never
// after the sender is gone.
class NotificationSender
{
public:
    // Either the service's description or the reason no service answered.
    struct CheckResult
    {
        std::optional<NotificationServerInfo> server;
        QString error;
    };
    // Either the id the service gave the notification or the reason it was not taken.
    struct PostResult
    {
        std::optional<quint32> serviceId;
        QString error;
    };

    virtual ~NotificationSender() = default;

    // Asks whether a notification service answers.
    virtual void checkService(std::function<void(const CheckResult&)> done) = 0;
    virtual void post(const NotificationRequest& request, std::function<void(const PostResult&)> done) = 0;
    // Called with the identifier of a notification the user clicked.
    virtual void setActivationHandler(std::function<void(const QString& identifier)> handler) = 0;
};
