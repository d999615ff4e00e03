#include "platform/SingleInstance.h"

#include "core/AppLogger.h"
#include "core/LocalFileStore.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <unistd.h>

namespace {
// Longer than any accepted word plus its newline; a peer that sends more is dropped.
constexpr qint64 maxLineLength = 16;
} // namespace

SingleInstance::SingleInstance(QObject* parent, QString name) : QObject(parent), m_name(std::move(name)) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultName()
{
    // One instance per data folder: that is what two instances must not share. For a user that is one
    // folder; a test or a second profile with its own XDG_DATA_HOME gets its own instance.
    const QByteArray folder = QDir::cleanPath(LocalFileStore::baseDirectory()).toUtf8();
    const QByteArray digest = QCryptographicHash::hash(folder, QCryptographicHash::Sha256).toHex().left(16);
    return QStringLiteral("tallyvane-%1-%2").arg(::getuid()).arg(QLatin1StringView(digest));
}

QString SingleInstance::word(Request request)
{
    return request == Request::toggle ? QStringLiteral("toggle") : QStringLiteral("show");
}

std::optional<SingleInstance::Request> SingleInstance::parse(const QByteArray& line)
{
    QByteArray text = line;
    if (text.endsWith('\n'))
        text.chop(1);
    if (text == "show")
        return Request::show;
    if (text == "toggle")
        return Request::toggle;
    return std::nullopt;
}

SingleInstance::Role SingleInstance::claim(Request request, int timeoutMs)
{
    // Two attempts: a listener that vanishes between our connect and our bind leaves the name free.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (deliver(request, timeoutMs))
            return Role::secondary;
        auto* server = new QLocalServer(this);
        server->setSocketOptions(QLocalServer::AbstractNamespaceOption);
        if (server->listen(m_name)) {
            m_server = server;
            connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
            return Role::primary;
        }
        const QString reason = server->errorString();
        delete server;
        if (attempt == 1) {
            AppLogger::shared().error(QStringLiteral("Single-instance socket unavailable: ") + reason);
        }
    }
    return Role::failed;
}

bool SingleInstance::deliver(Request request, int timeoutMs)
{
    QLocalSocket socket;
    socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(word(request).toLatin1() + '\n');
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    // Wait for the primary to read and close, so our exit cannot race its read.
    socket.waitForDisconnected(timeoutMs);
    return true;
}

void SingleInstance::acceptConnections()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // A peer that connects and says nothing must not hold a socket for ever.
        QTimer::singleShot(2000, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > maxLineLength)
                    socket->disconnectFromServer();
                return;
            }
            const QByteArray line = socket->readLine(maxLineLength + 1);
            socket->disconnectFromServer();
            if (const auto request = parse(line))
                Q_EMIT requestReceived(*request);
        });
    }
}
