#include "platform/DBusNotificationSender.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace {

const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kDefaultAction = QStringLiteral("default");
// Notifications remembered for their click; services that never report closing must not make this grow.
constexpr qsizetype maxShown = 64;

QString errorText(const QDBusError& error)
{
    return error.message().isEmpty() ? error.name() : error.message();
}

} // namespace

DBusNotificationSender::DBusNotificationSender() : DBusNotificationSender(Options{}) {}

DBusNotificationSender::DBusNotificationSender(Options options, QObject* parent)
    : QObject(parent), m_options(options)
{}

DBusNotificationSender::DBusNotificationSender(const QDBusConnection& bus, Options options, QObject* parent)
    : QObject(parent), m_bus(bus), m_options(options)
{}

QDBusConnection& DBusNotificationSender::bus()
{
    if (!m_bus)
        m_bus = QDBusConnection::sessionBus();
    if (!m_listening && m_bus->isConnected() && m_options.openOnClick) {
        m_listening = true;
        m_bus->connect(service(), kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                       SLOT(onActionInvoked(uint, QString)));
        m_bus->connect(service(), kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                       SLOT(onNotificationClosed(uint, uint)));
    }
    return *m_bus;
}

QString DBusNotificationSender::busError()
{
    const QString message = errorText(bus().lastError());
    return message.isEmpty() ? QStringLiteral("no D-Bus session bus") : message;
}

void DBusNotificationSender::checkService(std::function<void(const CheckResult&)> done)
{
    if (!bus().isConnected()) {
        const auto fail = [done, error = busError()] { done({std::nullopt, error}); };
        QMetaObject::invokeMethod(this, fail, Qt::QueuedConnection);
        return;
    }
    const QDBusMessage info =
        QDBusMessage::createMethodCall(service(), kPath, kInterface, QStringLiteral("GetServerInformation"));
    auto* watcher = new QDBusPendingCallWatcher(m_bus->asyncCall(info, m_options.timeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, done](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        const QDBusPendingReply<QString, QString, QString, QString> reply = *call;
        if (reply.isError()) {
            done({std::nullopt, errorText(reply.error())});
            return;
        }
        const NotificationServerInfo server{reply.argumentAt<0>(), reply.argumentAt<1>(),
                                            reply.argumentAt<2>(), reply.argumentAt<3>()};
        // Whether bodies are markup decides how text is escaped; a service without the answer gets escapes.
        const QDBusMessage capabilities =
            QDBusMessage::createMethodCall(service(), kPath, kInterface, QStringLiteral("GetCapabilities"));
        auto* next = new QDBusPendingCallWatcher(m_bus->asyncCall(capabilities, m_options.timeoutMs), this);
        connect(next, &QDBusPendingCallWatcher::finished, this,
                [this, done, server](QDBusPendingCallWatcher* c) {
                    c->deleteLater();
                    const QDBusPendingReply<QStringList> names = *c;
                    m_bodyMarkup = names.isError() || names.value().contains(QStringLiteral("body-markup"));
                    done({server, {}});
                });
    });
}

void DBusNotificationSender::post(const NotificationRequest& request,
                                  std::function<void(const PostResult&)> done)
{
    if (!bus().isConnected()) {
        const auto fail = [done, error = busError()] { done({std::nullopt, error}); };
        QMetaObject::invokeMethod(this, fail, Qt::QueuedConnection);
        return;
    }
    QStringList actions;
    if (m_options.openOnClick)
        actions << kDefaultAction << QStringLiteral("Open Tallyvane");
    const QVariantMap hints{
        {QStringLiteral("urgency"), QVariant::fromValue(uchar(request.critical ? 2 : 1))},
        {QStringLiteral("desktop-entry"), QStringLiteral("io.github.tallyvane.Tallyvane")},
    };
    QDBusMessage notify =
        QDBusMessage::createMethodCall(service(), kPath, kInterface, QStringLiteral("Notify"));
    notify << QStringLiteral("Tallyvane") << uint(0) << QStringLiteral("tallyvane") << request.title
           << (m_bodyMarkup ? request.body.toHtmlEscaped() : request.body) << actions << hints << int(-1);
    auto* watcher = new QDBusPendingCallWatcher(m_bus->asyncCall(notify, m_options.timeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, done, identifier = request.identifier](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                const QDBusPendingReply<uint> reply = *call;
                if (reply.isError()) {
                    done({std::nullopt, errorText(reply.error())});
                    return;
                }
                if (m_options.openOnClick) {
                    if (m_shown.size() >= maxShown)
                        m_shown.erase(m_shown.begin());
                    m_shown.insert(reply.value(), identifier);
                }
                done({reply.value(), {}});
            });
}

void DBusNotificationSender::onActionInvoked(uint id, const QString& actionKey)
{
    const auto it = m_shown.constFind(id);
    if (it == m_shown.cend() || actionKey != kDefaultAction)
        return;
    if (m_onActivated)
        m_onActivated(it.value());
}

void DBusNotificationSender::onNotificationClosed(uint id, uint)
{
    m_shown.remove(id);
}
