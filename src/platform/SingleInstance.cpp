#include "platform/SingleInstance.h"

#include "core/io/AppLogger.h"
#include "core/io/FileLock.h"
#include "core/io/LocalFileStore.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
// Longer than any accepted word plus its newline; a peer that sends more is dropped.
constexpr qint64 maxLineLength = 16;
// A peer gets this long to say its word; a flood of silent connections then costs a bounded number of
// sockets for a bounded time.
constexpr int silenceMs = 1000;
constexpr int maxOpenConnections = 8;

// The user id of the process at the other end of a connected local socket.
std::optional<uid_t> peerUid(qintptr descriptor)
{
    struct ucred credentials = {};
    socklen_t length = sizeof credentials;
    if (descriptor < 0 ||
        ::getsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0)
        return std::nullopt;
    return credentials.uid;
}

// A socket's path holds at most this many bytes (sun_path, less its terminating zero).
constexpr qsizetype maxSocketPath = sizeof(sockaddr_un::sun_path) - 1;

// A short folder of this user's own under /tmp, for when the usual one makes the socket path too long; empty
// when the name is taken by something that is not a private folder of ours.
QString shortPrivateFolder()
{
    const QByteArray folder = "/tmp/tallyvane-" + QByteArray::number(::getuid());
    ::mkdir(folder.constData(), 0700);
    struct stat info = {};
    if (::lstat(folder.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid() ||
        (info.st_mode & 077) != 0)
        return {};
    return QString::fromLatin1(folder);
}
} // namespace

SingleInstance::SingleInstance(QObject* parent, QString name) : QObject(parent), m_name(std::move(name)) {}

SingleInstance::~SingleInstance()
{
    // The open connections go first, while the count they keep still exists; closing removes the socket file,
    // and only then is the lock let go.
    delete m_server;
    m_lock.reset();
}

QString SingleInstance::defaultName()
{
    // One instance per data folder: that is what two instances must not share. For a user that is one
    // folder; a test or a second profile with its own XDG_DATA_HOME gets its own instance.
    const QByteArray folder = QDir::cleanPath(LocalFileStore::baseDirectory()).toUtf8();
    const QByteArray digest = QCryptographicHash::hash(folder, QCryptographicHash::Sha256).toHex().left(16);
    const QString file = QStringLiteral("/tallyvane-%1.socket").arg(QLatin1StringView(digest));
    const QString usual = LocalFileStore::runtimeDirectory() + file;
    if (QFile::encodeName(usual).size() <= maxSocketPath)
        return usual;
    // Too long to listen on, which would let a second instance start: a short folder instead.
    const QString shortFolder = shortPrivateFolder();
    return shortFolder.isEmpty() ? usual : shortFolder + file;
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
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        const Delivery delivery = deliver(request, timeoutMs);
        if (delivery == Delivery::delivered)
            return Role::secondary;
        if (delivery == Delivery::foreign)
            AppLogger::shared().warn(QStringLiteral("Ignored a single-instance socket of another user at ") +
                                     m_name);
        auto lock =
            std::make_unique<FileLock>(m_name + QStringLiteral(".lock"), std::chrono::milliseconds(0));
        if (lock->isLocked()) {
            // Whatever is at the path now is a crashed instance's leftover or not ours.
            ::unlink(QFile::encodeName(m_name).constData());
            auto* server = new QLocalServer(this);
            server->setSocketOptions(QLocalServer::UserAccessOption);
            server->setMaxPendingConnections(maxOpenConnections);
            if (server->listen(m_name)) {
                m_server = server;
                m_lock = std::move(lock);
                connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
                return Role::primary;
            }
            AppLogger::shared().error(QStringLiteral("Single-instance socket unavailable: ") +
                                      server->errorString());
            delete server;
            return Role::failed;
        }
        if (lock->state() == FileLock::State::unavailable || deadline.hasExpired()) {
            AppLogger::shared().error(QStringLiteral("Single-instance socket unavailable: ") + m_name);
            return Role::failed;
        }
        // Another start holds the lock and is about to listen: ask it again shortly.
        QThread::msleep(50);
    }
}

SingleInstance::Delivery SingleInstance::deliver(Request request, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(timeoutMs))
        return Delivery::nobody;
    if (peerUid(socket.socketDescriptor()) != ::getuid())
        return Delivery::foreign;
    socket.write(word(request).toLatin1() + '\n');
    if (!socket.waitForBytesWritten(timeoutMs))
        return Delivery::nobody;
    // Wait for the primary to read and close, so our exit cannot race its read.
    socket.waitForDisconnected(timeoutMs);
    return Delivery::delivered;
}

void SingleInstance::acceptConnections()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        if (peerUid(socket->socketDescriptor()) != ::getuid() || m_open >= maxOpenConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++m_open;
        connect(socket, &QObject::destroyed, this, [this] { --m_open; });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // A peer that connects and says nothing must not hold a socket for ever.
        QTimer::singleShot(silenceMs, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > maxLineLength)
                    socket->abort();
                return;
            }
            const QByteArray line = socket->readLine(maxLineLength + 1);
            socket->disconnectFromServer();
            if (const auto request = parse(line))
                Q_EMIT requestReceived(*request);
        });
    }
}
