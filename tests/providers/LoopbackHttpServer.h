#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <functional>
#include <memory>
#include <mutex>

// An HTTP/1.1 server on 127.0.0.1 with canned answers, on a thread of its own so that a test may block on
// a request from the main thread. Answers for a path (the query left aside) are served in order; the last
// one repeats.
class LoopbackHttpServer
{
public:
    struct Answer
    {
        int status = 200;
        QByteArray body;
        QList<std::pair<QByteArray, QByteArray>> headers;
        // Waits this long before answering (to outlast a client's time-out).
        int delayMs = 0;
        // Closes the connection without any answer.
        bool hangUp = false;
    };
    static Answer reply(int status, QByteArray body, QList<std::pair<QByteArray, QByteArray>> headers = {},
                        int delayMs = 0)
    {
        return {status, std::move(body), std::move(headers), delayMs, false};
    }
    static Answer hangUp() { return {0, {}, {}, 0, true}; }
    struct Received
    {
        QByteArray method;
        QByteArray path;
        QByteArray head; // the request line and headers, as sent
        QByteArray body;

        QByteArray header(const QByteArray& name) const
        {
            for (const QByteArray& line : head.split('\n')) {
                const qsizetype colon = line.indexOf(':');
                if (colon > 0 && line.left(colon).trimmed().toLower() == name.toLower())
                    return line.mid(colon + 1).trimmed();
            }
            return {};
        }
    };

    LoopbackHttpServer()
    {
        m_thread.setObjectName(QStringLiteral("loopback-http"));
        m_context = new QObject;
        m_context->moveToThread(&m_thread);
        m_thread.start();
        QMetaObject::invokeMethod(
            m_context,
            [this] {
                m_server = new QTcpServer(m_context);
                m_server->listen(QHostAddress::LocalHost, 0);
                m_port = m_server->serverPort();
                QObject::connect(m_server, &QTcpServer::newConnection, m_server, [this] {
                    while (QTcpSocket* socket = m_server->nextPendingConnection())
                        serve(socket);
                });
            },
            Qt::BlockingQueuedConnection);
    }
    ~LoopbackHttpServer()
    {
        m_context->deleteLater();
        m_thread.quit();
        m_thread.wait();
    }
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    QByteArray base() const { return "http://127.0.0.1:" + QByteArray::number(m_port); }
    QByteArray url(const QByteArray& path) const { return base() + path; }

    void answer(const QByteArray& path, QList<Answer> answers)
    {
        std::lock_guard lock(m_mutex);
        m_answers[path] = std::move(answers);
    }
    void answer(const QByteArray& path, int status, const QByteArray& body = {})
    {
        answer(path, {reply(status, body)});
    }

    // For a request to `path` with this Authorization header: the answer, before the ones in order.
    void answerFor(const QByteArray& path, const QByteArray& authorization, Answer answer)
    {
        std::lock_guard lock(m_mutex);
        m_byAuthorization[path + ' ' + authorization] = std::move(answer);
    }

    // Runs on the server's thread when a request for `path` arrives, before it is answered.
    void onRequest(const QByteArray& path, std::function<void()> hook)
    {
        std::lock_guard lock(m_mutex);
        m_hooks[path] = std::move(hook);
    }

    QList<Received> received() const
    {
        std::lock_guard lock(m_mutex);
        return m_received;
    }
    int count(const QByteArray& path) const
    {
        int n = 0;
        for (const Received& r : received())
            n += withoutQuery(r.path) == path ? 1 : 0;
        return n;
    }

private:
    static QByteArray withoutQuery(const QByteArray& path)
    {
        const qsizetype query = path.indexOf('?');
        return query < 0 ? path : path.left(query);
    }

    void serve(QTcpSocket* socket)
    {
        auto buffer = std::make_shared<QByteArray>();
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
            buffer->append(socket->readAll());
            const qsizetype headEnd = buffer->indexOf("\r\n\r\n");
            if (headEnd < 0)
                return;
            Received request;
            request.head = buffer->left(headEnd);
            const QByteArray length = request.header("content-length");
            if (buffer->size() - headEnd - 4 < length.toLongLong())
                return;
            request.body = buffer->mid(headEnd + 4);
            const QList<QByteArray> first = request.head.left(request.head.indexOf('\r')).split(' ');
            request.method = first.value(0);
            request.path = first.value(1);
            buffer->clear();
            respond(socket, request);
        });
    }

    void respond(QTcpSocket* socket, const Received& request)
    {
        Answer reply = LoopbackHttpServer::reply(404, "not found");
        std::function<void()> hook;
        {
            std::lock_guard lock(m_mutex);
            m_received.append(request);
            const QByteArray path = withoutQuery(request.path);
            QList<Answer>& queue = m_answers[path];
            const auto mine = m_byAuthorization.constFind(path + ' ' + request.header("authorization"));
            if (mine != m_byAuthorization.constEnd())
                reply = *mine;
            else if (!queue.isEmpty())
                reply = queue.size() > 1 ? queue.takeFirst() : queue.first();
            hook = m_hooks.value(path);
        }
        if (hook)
            hook();
        const auto send = [socket, reply] {
            if (reply.hangUp) {
                socket->abort();
                return;
            }
            QByteArray out = "HTTP/1.1 " + QByteArray::number(reply.status) + " Canned\r\n";
            for (const auto& [name, value] : reply.headers)
                out += name + ": " + value + "\r\n";
            out +=
                "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\nConnection: close\r\n\r\n";
            socket->write(out + reply.body);
            socket->disconnectFromHost();
        };
        if (reply.delayMs > 0)
            QTimer::singleShot(reply.delayMs, socket, send);
        else
            send();
    }

    QThread m_thread;
    QObject* m_context = nullptr;
    QTcpServer* m_server = nullptr;
    quint16 m_port = 0;
    mutable std::mutex m_mutex;
    QMap<QByteArray, QList<Answer>> m_answers;
    QMap<QByteArray, Answer> m_byAuthorization;
    QMap<QByteArray, std::function<void()>> m_hooks;
    QList<Received> m_received;
};
