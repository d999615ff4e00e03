#pragma once

// Helpers for tests that run on a private session bus and display (tests/support/run-session.sh).

#include "support/TestSupport.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QProcess>
#include <QSize>
#include <QStringList>

#include <memory>
#include <optional>

namespace SessionSupport {

// A StatusNotifierItem's ToolTip property, (sa(iiay)ss).
struct ToolTip
{
    QString iconName;
    QList<QSize> iconSizes;
    QString title;
    QString text;
};

// An ARGB image as a StatusNotifierItem hands it out.
struct Pixmap
{
    QSize size;
    QByteArray argbNetworkOrder;
};

// Ends a helper process with the test that started it.
struct ProcessStopper
{
    void operator()(QProcess* process) const
    {
        process->terminate();
        if (!process->waitForFinished(2000))
            process->kill();
        process->waitForFinished(2000);
        delete process;
    }
};
using ProcessHandle = std::unique_ptr<QProcess, ProcessStopper>;

// Starts the fake desktop services with the given switches and waits for them to say "ready".
inline ProcessHandle startFakeServices(const QStringList& switches)
{
    ProcessHandle process(new QProcess);
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(QStringLiteral(TALLYVANE_FAKE_SERVICES), switches);
    const bool ready = TestSupport::waitFor(
        [&] {
            return process->state() == QProcess::NotRunning ||
                   (process->canReadLine() && process->readLine().startsWith("ready"));
        },
        10000);
    if (!ready || process->state() == QProcess::NotRunning)
        return nullptr;
    return process;
}

// A call that keeps this thread's event loop running, so the callee may live in this very process.
inline QDBusMessage call(const QDBusMessage& message, int timeoutMs = 5000)
{
    QDBusPendingCall pending = QDBusConnection::sessionBus().asyncCall(message, timeoutMs);
    TestSupport::waitFor([&] { return pending.isFinished(); }, timeoutMs + 1000);
    return pending.reply();
}

inline QVariant property(const QString& service, const QString& path, const QString& interface,
                         const QString& name)
{
    QDBusMessage get = QDBusMessage::createMethodCall(
        service, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << interface << name;
    const QDBusMessage reply = call(get);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return reply.arguments().first().value<QDBusVariant>().variant();
}

inline QList<Pixmap> readPixmaps(const QDBusArgument& argument)
{
    QList<Pixmap> pixmaps;
    argument.beginArray();
    while (!argument.atEnd()) {
        int width = 0;
        int height = 0;
        QByteArray data;
        argument.beginStructure();
        argument >> width >> height >> data;
        argument.endStructure();
        pixmaps.append({QSize(width, height), data});
    }
    argument.endArray();
    return pixmaps;
}

inline std::optional<ToolTip> readToolTip(const QVariant& value)
{
    if (!value.canConvert<QDBusArgument>())
        return std::nullopt;
    const QDBusArgument argument = value.value<QDBusArgument>();
    ToolTip tip;
    argument.beginStructure();
    argument >> tip.iconName;
    for (const Pixmap& pixmap : readPixmaps(argument))
        tip.iconSizes.append(pixmap.size);
    argument >> tip.title >> tip.text;
    argument.endStructure();
    return tip;
}

// The items registered with the fake watcher, as "service/path".
inline QStringList registeredItems()
{
    return property(QStringLiteral("org.kde.StatusNotifierWatcher"), QStringLiteral("/StatusNotifierWatcher"),
                    QStringLiteral("org.kde.StatusNotifierWatcher"),
                    QStringLiteral("RegisteredStatusNotifierItems"))
        .toStringList();
}

} // namespace SessionSupport
