// Stand-ins for the desktop's session services, for tests on a private bus: a StatusNotifierWatcher (with a
// host, so Qt's tray speaks StatusNotifierItem) and the portal's GlobalShortcuts interface. Prints "ready"
// once its names are taken.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
#include <QElapsedTimer>
#include <QStringList>
#include <QTextStream>
#include <QTimer>

#include <cstdio>

class FakeWatcher : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
public:
    explicit FakeWatcher(QObject* parent) : QObject(parent)
    {
        m_owners = new QDBusServiceWatcher(this);
        m_owners->setConnection(QDBusConnection::sessionBus());
        m_owners->setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
        connect(m_owners, &QDBusServiceWatcher::serviceUnregistered, this, [this](const QString& service) {
            for (const QString& item : m_items.filter(service + QLatin1Char('/'))) {
                m_items.removeAll(item);
                Q_EMIT StatusNotifierItemUnregistered(item);
            }
        });
    }
    QStringList items() const { return m_items; }
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }

public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString& serviceOrPath)
    {
        // Items register either their bus name or an object path on the calling connection.
        const QString sender = message().service();
        const QString item = serviceOrPath.startsWith(QLatin1Char('/'))
                                 ? sender + serviceOrPath
                                 : serviceOrPath + "/StatusNotifierItem";
        if (!m_items.contains(item)) {
            m_items.append(item);
            m_owners->addWatchedService(item.section(QLatin1Char('/'), 0, 0));
            Q_EMIT StatusNotifierItemRegistered(item);
            // With the monotonic clock reading, so a test can time a start-up from its own clock.
            QElapsedTimer clock;
            clock.start();
            QTextStream(stdout) << "registered " << item << " at " << clock.msecsSinceReference() << Qt::endl;
        }
    }
    void RegisterStatusNotifierHost(const QString&) {}

Q_SIGNALS:
    // moc writes the signals' definitions, with names of its own.
    // NOLINTBEGIN(readability-inconsistent-declaration-parameter-name)
    void StatusNotifierItemRegistered(const QString& item);
    void StatusNotifierItemUnregistered(const QString& item);
    // NOLINTEND(readability-inconsistent-declaration-parameter-name)
    void StatusNotifierHostRegistered();

private:
    QStringList m_items;
    QDBusServiceWatcher* m_owners = nullptr;
};

struct Shortcut
{
    QString id;
    QVariantMap properties;
};
Q_DECLARE_METATYPE(Shortcut)

QDBusArgument& operator<<(QDBusArgument& argument, const Shortcut& shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, Shortcut& shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

// The portal's GlobalShortcuts. "PressShortcut" (a test-only method) fires Activated for every bound
// shortcut.
class FakePortal : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.GlobalShortcuts")
public:
    using QObject::QObject;

public Q_SLOTS:
    QDBusObjectPath CreateSession(const QVariantMap& options)
    {
        const QString request = requestPath(options.value("handle_token").toString());
        m_session = "/org/freedesktop/portal/desktop/session/fake/" +
                    options.value("session_handle_token").toString();
        respond(request, 0, {{"session_handle", m_session}});
        return QDBusObjectPath(request);
    }
    QDBusObjectPath BindShortcuts(const QDBusObjectPath& session, const QList<Shortcut>& shortcuts,
                                  const QString&, const QVariantMap& options)
    {
        const QString request = requestPath(options.value("handle_token").toString());
        const bool known = session.path() == m_session;
        if (known) {
            for (const Shortcut& shortcut : shortcuts)
                m_bound.append(shortcut.id);
            QTextStream(stdout) << "bound " << m_bound.join(',') << " trigger "
                                << shortcuts.value(0).properties.value("preferred_trigger").toString()
                                << Qt::endl;
        }
        respond(request, known ? 0 : 2, {});
        return QDBusObjectPath(request);
    }
    void PressShortcut()
    {
        for (const QString& id : std::as_const(m_bound)) {
            QDBusMessage signal = QDBusMessage::createSignal(
                "/org/freedesktop/portal/desktop", "org.freedesktop.portal.GlobalShortcuts", "Activated");
            signal << QVariant::fromValue(QDBusObjectPath(m_session)) << id << qulonglong(1) << QVariantMap();
            QDBusConnection::sessionBus().send(signal);
        }
    }

private:
    QString requestPath(const QString& token) const
    {
        QString sender = message().service().mid(1);
        sender.replace('.', '_');
        return "/org/freedesktop/portal/desktop/request/" + sender + "/" + token;
    }
    // The real portal answers after the call returns, through a signal on the request object.
    void respond(const QString& path, uint code, const QVariantMap& results)
    {
        const QString destination = message().service();
        QTimer::singleShot(10, this, [path, code, results, destination] {
            QDBusMessage signal =
                QDBusMessage::createSignal(path, "org.freedesktop.portal.Request", "Response");
            signal << code << results;
            QDBusConnection::sessionBus().send(signal);
        });
    }

    QString m_session;
    QStringList m_bound;
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qDBusRegisterMetaType<Shortcut>();
    qDBusRegisterMetaType<QList<Shortcut>>();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        std::fputs("no session bus\n", stderr);
        return 2;
    }
    // NOLINTNEXTLINE(readability-static-accessed-through-instance): Qt's idiom
    const QStringList args = app.arguments();
    if (args.contains("--watcher")) {
        auto* watcher = new FakeWatcher(&app);
        bus.registerObject("/StatusNotifierWatcher", watcher,
                           QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties |
                               QDBusConnection::ExportAllSignals);
        if (!bus.registerService("org.kde.StatusNotifierWatcher"))
            return 3;
    }
    if (args.contains("--portal")) {
        auto* portal = new FakePortal(&app);
        bus.registerObject("/org/freedesktop/portal/desktop", portal,
                           QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals);
        if (!bus.registerService("org.freedesktop.portal.Desktop"))
            return 3;
    }
    QTextStream(stdout) << "ready" << Qt::endl;
    return app.exec(); // NOLINT(readability-static-accessed-through-instance): Qt's idiom
}

#include "FakeDesktopServices.moc"
