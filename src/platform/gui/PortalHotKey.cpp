#include "platform/gui/PortalHotKey.h"

#include "core/io/AppLogger.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QRandomGenerator>

namespace {

const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString shortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");

struct PortalShortcut
{
    QString id;
    QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

QString newToken()
{
    return QStringLiteral("tallyvane%1").arg(QRandomGenerator::global()->generate());
}

} // namespace

Q_DECLARE_METATYPE(PortalShortcut)

PortalHotKey::PortalHotKey(QObject* parent, QDBusConnection bus, QString service)
    : GlobalHotKey(parent), m_bus(std::move(bus)), m_service(std::move(service))
{
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<QList<PortalShortcut>>();
}

QString PortalHotKey::requestPath(const QString& token) const
{
    QString sender = m_bus.baseService();
    sender.remove(0, 1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
}

void PortalHotKey::start()
{
    if (!m_bus.isConnected()) {
        fail(QStringLiteral("no session bus"));
        return;
    }
    const QString token = newToken();
    const QVariantMap options{{QStringLiteral("handle_token"), token},
                              {QStringLiteral("session_handle_token"), newToken()}};
    callPortal(QStringLiteral("CreateSession"), {options}, token,
               SLOT(onCreateSessionResponse(uint, QVariantMap)));
}

bool PortalHotKey::callPortal(const QString& method, const QList<QVariant>& arguments, const QString& token,
                              const char* responseSlot)
{
    // Subscribe before calling: the portal may answer before the call returns.
    m_bus.connect(m_service, requestPath(token), requestInterface, QStringLiteral("Response"), this,
                  responseSlot);
    QDBusMessage message = QDBusMessage::createMethodCall(m_service, portalPath, shortcutsInterface, method);
    message.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(message, 5000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, method] {
        watcher->deleteLater();
        if (watcher->isError())
            fail(method + QStringLiteral(": ") + watcher->error().message());
    });
    return true;
}

void PortalHotKey::onCreateSessionResponse(uint response, const QVariantMap& results)
{
    if (response != 0) {
        fail(QStringLiteral("the portal refused a shortcut session"));
        return;
    }
    m_sessionHandle = results.value(QStringLiteral("session_handle")).toString();
    if (m_sessionHandle.isEmpty()) {
        fail(QStringLiteral("the portal gave no session"));
        return;
    }
    m_bus.connect(m_service, portalPath, shortcutsInterface, QStringLiteral("Activated"), this,
                  SLOT(onActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
    const QList<PortalShortcut> shortcuts{
        {shortcutId(),
         {{QStringLiteral("description"), QStringLiteral("Show or hide the Tallyvane panel")},
          {QStringLiteral("preferred_trigger"), QStringLiteral("CTRL+ALT+g")}}}};
    const QString token = newToken();
    callPortal(QStringLiteral("BindShortcuts"),
               {QVariant::fromValue(QDBusObjectPath(m_sessionHandle)), QVariant::fromValue(shortcuts),
                QString(), QVariantMap{{QStringLiteral("handle_token"), token}}},
               token, SLOT(onBindResponse(uint, QVariantMap)));
}

void PortalHotKey::onBindResponse(uint response, const QVariantMap& results)
{
    Q_UNUSED(results);
    if (response != 0) {
        fail(QStringLiteral("the shortcut was not bound"));
        return;
    }
    m_active = true;
    AppLogger::shared().info(QStringLiteral("Global hot key bound through the desktop portal"));
    Q_EMIT bound();
    Q_EMIT activeChanged();
}

void PortalHotKey::onActivated(const QDBusObjectPath& session, const QString& shortcut, qulonglong timestamp,
                               const QVariantMap& options)
{
    Q_UNUSED(timestamp);
    Q_UNUSED(options);
    if (session.path() == m_sessionHandle && shortcut == shortcutId())
        Q_EMIT activated();
}

void PortalHotKey::fail(const QString& reason)
{
    if (m_failed || m_active)
        return;
    m_failed = true;
    AppLogger::shared().info(QStringLiteral("Global hot key through the desktop portal unavailable: ") +
                             reason);
    Q_EMIT unavailable(reason);
}
