#include "providers/HttpClient.h"

#include <QCoreApplication>
#include <QSslSocket>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <condition_variable>
#include <vector>

std::optional<QByteArray> HttpResponse::header(QByteArrayView name) const
{
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return std::nullopt;
}

namespace {

// How long a caller waits beyond the request's own time-out before giving up on the network thread.
constexpr std::chrono::milliseconds handOffGrace{5'000};

struct Exchange
{
    std::mutex mutex;
    std::condition_variable doneSignal;
    bool done = false;
    HttpResponse response;

    void finish(HttpResponse answer)
    {
        std::lock_guard lock(mutex);
        if (done)
            return;
        response = std::move(answer);
        done = true;
        doneSignal.notify_all();
    }
};

// One request and its answer on a connection of its own, all on the network thread. The answer is parsed
// here rather than by QNetworkAccessManager, which buffers header lines and chunked bodies without bound and
// can keep its thread too busy for a time-out to fire: every read is bounded and the deadline always holds.
class Transfer : public std::enable_shared_from_this<Transfer>
{
public:
    Transfer(const HttpRequest& request, std::shared_ptr<Exchange> exchange)
        : m_request(request), m_exchange(std::move(exchange))
    {}

    void start(QObject* context)
    {
        const QUrl& url = m_request.url;
        const QString scheme = url.scheme().toLower();
        if ((scheme != QLatin1String("http") && scheme != QLatin1String("https")) || url.host().isEmpty()) {
            fail(QStringLiteral("unsupported URL"));
            return;
        }
        m_socket = new QSslSocket(context);
        m_socket->setReadBufferSize(readChunk);
        auto self = shared_from_this();
        auto* deadline = new QTimer(m_socket);
        deadline->setSingleShot(true);
        QObject::connect(deadline, &QTimer::timeout, m_socket,
                         [self] { self->fail(QStringLiteral("timed out")); });
        deadline->start(m_request.timeout);
        const bool tls = scheme == QLatin1String("https");
        const auto send = [self] { self->m_socket->write(self->requestBytes()); };
        if (tls)
            QObject::connect(m_socket, &QSslSocket::encrypted, m_socket, send);
        else
            QObject::connect(m_socket, &QSslSocket::connected, m_socket, send);
        QObject::connect(m_socket, &QSslSocket::readyRead, m_socket, [self] { self->readAvailable(); });
        QObject::connect(m_socket, &QSslSocket::disconnected, m_socket, [self] { self->closed(); });
        QObject::connect(m_socket, &QSslSocket::errorOccurred, m_socket,
                         [self](QAbstractSocket::SocketError error) {
                             if (error == QAbstractSocket::RemoteHostClosedError)
                                 self->closed();
                             else
                                 self->fail(self->m_socket->errorString(),
                                            error == QAbstractSocket::ConnectionRefusedError);
                         });
        const quint16 port = static_cast<quint16>(url.port(tls ? 443 : 80));
        if (tls)
            m_socket->connectToHostEncrypted(url.host(), port);
        else
            m_socket->connectToHost(url.host(), port);
    }

    void fail(const QString& reason, bool refused = false)
    {
        HttpResponse response;
        response.error = reason;
        response.refused = refused;
        end(std::move(response));
    }

private:
    enum class Framing
    {
        length,
        chunked,
        untilClose,
        none
    };

    QByteArray requestBytes() const
    {
        const QUrl& url = m_request.url;
        QByteArray target = url.path(QUrl::FullyEncoded).toLatin1();
        if (target.isEmpty())
            target = "/";
        if (url.hasQuery())
            target += '?' + url.query(QUrl::FullyEncoded).toLatin1();
        QByteArray host = url.host(QUrl::FullyEncoded).toLatin1();
        if (host.contains(':'))
            host = '[' + host + ']';
        if (url.port() != -1)
            host += ':' + QByteArray::number(url.port());
        QByteArray out = m_request.method + ' ' + target + " HTTP/1.1\r\nHost: " + host + "\r\n";
        for (const auto& [name, value] : m_request.headers) {
            if (name.compare("Host", Qt::CaseInsensitive) != 0 &&
                name.compare("Content-Length", Qt::CaseInsensitive) != 0 &&
                name.compare("Connection", Qt::CaseInsensitive) != 0)
                out += name + ": " + value + "\r\n";
        }
        if (!m_request.body.isEmpty() || m_request.method != "GET")
            out += "Content-Length: " + QByteArray::number(m_request.body.size()) + "\r\n";
        return out + "Connection: close\r\n\r\n" + m_request.body;
    }

    void readAvailable()
    {
        // The socket's buffer holds at most one chunk, so this loop ends and the deadline keeps its turn.
        while (!m_ended && m_socket->bytesAvailable() > 0) {
            m_in += m_socket->read(readChunk);
            if (!m_headDone && !takeHead())
                return;
            if (m_headDone && !takeBody())
                return;
        }
    }

    // Parses the status line and headers once they are all there; false while more is needed or on failure.
    bool takeHead()
    {
        const qsizetype end = m_in.indexOf("\r\n\r\n");
        if (end < 0) {
            if (m_headBytes + m_in.size() > maxHeadBytes)
                fail(QStringLiteral("answer headers too large"));
            return false;
        }
        if (m_headBytes + end > maxHeadBytes) {
            fail(QStringLiteral("answer headers too large"));
            return false;
        }
        const QList<QByteArray> lines = m_in.left(end).split('\n');
        m_in.remove(0, end + 4);
        // Interim answers count against the same bounds: an endless run of them is one endless head.
        m_headBytes += end + 4;
        m_headLines += lines.size();
        if (m_headBytes > maxHeadBytes || m_headLines > maxHeaderFields) {
            fail(QStringLiteral("answer headers too large"));
            return false;
        }
        const QList<QByteArray> status = lines.front().trimmed().split(' ');
        bool ok = false;
        const int code = status.value(1).toInt(&ok);
        if (!status.front().startsWith("HTTP/1.") || !ok || code < 100 || code > 999 ||
            lines.size() > maxHeaderFields) {
            fail(lines.size() > maxHeaderFields ? QStringLiteral("answer headers too large")
                                                : QStringLiteral("malformed answer"));
            return false;
        }
        if (code < 200)
            return takeHead(); // an interim answer (100 Continue): the real one follows
        m_response.status = code;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon > 0)
                m_response.headers.append(
                    {lines[i].left(colon).trimmed(), lines[i].mid(colon + 1).trimmed()});
        }
        const std::optional<QByteArray> encoding = m_response.header("transfer-encoding");
        const std::optional<QByteArray> length = m_response.header("content-length");
        if (m_request.method == "HEAD" || code == 204 || code == 304) {
            m_framing = Framing::none;
        } else if (encoding && encoding->trimmed().toLower().endsWith("chunked")) {
            m_framing = Framing::chunked;
        } else if (length) {
            m_left = length->trimmed().toLongLong(&ok);
            if (!ok || m_left < 0) {
                fail(QStringLiteral("malformed answer"));
                return false;
            }
            // Refused before a byte of it is read.
            if (m_left > HttpClient::maxBodyBytes) {
                fail(QStringLiteral("answer too large"));
                return false;
            }
            m_framing = Framing::length;
        } else {
            m_framing = Framing::untilClose;
        }
        m_headDone = true;
        return true;
    }

    // Moves what has arrived into the body; false once the exchange has ended.
    bool takeBody()
    {
        switch (m_framing) {
        case Framing::none:
            succeed();
            return false;
        case Framing::length: {
            const qsizetype take = std::min<qint64>(m_left, m_in.size());
            m_response.body += m_in.left(take);
            m_in.clear();
            m_left -= take;
            if (m_left == 0) {
                succeed();
                return false;
            }
            return true;
        }
        case Framing::untilClose:
            m_response.body += m_in;
            m_in.clear();
            if (m_response.body.size() > HttpClient::maxBodyBytes) {
                fail(QStringLiteral("answer too large"));
                return false;
            }
            return true;
        case Framing::chunked:
            return takeChunks();
        }
        return false;
    }

    bool takeChunks()
    {
        for (;;) {
            if (m_left > 0) {
                const qsizetype take = std::min<qint64>(m_left, m_in.size());
                m_response.body += m_in.left(take);
                m_in.remove(0, take);
                m_left -= take;
                if (m_left > 0)
                    return true;
                m_chunkEnd = true;
            }
            const qsizetype lineEnd = m_in.indexOf("\r\n");
            if (lineEnd < 0) {
                if (m_in.size() > maxChunkLine) {
                    fail(QStringLiteral("malformed answer"));
                    return false;
                }
                return true;
            }
            const QByteArray line = m_in.left(lineEnd);
            m_in.remove(0, lineEnd + 2);
            if (m_chunkEnd) {
                // The empty line that closes a chunk's data.
                m_chunkEnd = false;
                if (!line.isEmpty()) {
                    fail(QStringLiteral("malformed answer"));
                    return false;
                }
                continue;
            }
            if (m_trailers) {
                if (line.isEmpty()) {
                    succeed();
                    return false;
                }
                if (++m_trailerCount > maxHeaderFields) {
                    fail(QStringLiteral("answer headers too large"));
                    return false;
                }
                continue;
            }
            bool ok = false;
            const qsizetype extension = line.indexOf(';');
            const qint64 size = (extension < 0 ? line : line.left(extension)).trimmed().toLongLong(&ok, 16);
            if (!ok || size < 0) {
                fail(QStringLiteral("malformed answer"));
                return false;
            }
            if (size > HttpClient::maxBodyBytes - m_response.body.size()) {
                fail(QStringLiteral("answer too large"));
                return false;
            }
            if (size == 0)
                m_trailers = true;
            m_left = size;
        }
    }

    void closed()
    {
        if (m_ended)
            return;
        readAvailable();
        if (m_ended)
            return;
        if (m_headDone && m_framing == Framing::untilClose)
            succeed();
        else
            fail(m_headDone ? QStringLiteral("answer cut short")
                            : QStringLiteral("connection closed without an answer"));
    }

    void succeed()
    {
        HttpResponse response = std::move(m_response);
        end(std::move(response));
    }

    void end(HttpResponse response)
    {
        if (m_ended)
            return;
        m_ended = true;
        m_exchange->finish(std::move(response));
        if (m_socket) {
            // The connections hold this object; dropping the socket lets it go.
            m_socket->disconnect();
            m_socket->abort();
            m_socket->deleteLater();
        }
    }

    static constexpr qint64 readChunk = 64 * 1024;
    static constexpr qsizetype maxHeadBytes = 64 * 1024;
    static constexpr qsizetype maxHeaderFields = 100;
    static constexpr qsizetype maxChunkLine = 1024;

    HttpRequest m_request;
    std::shared_ptr<Exchange> m_exchange;
    QSslSocket* m_socket = nullptr;
    QByteArray m_in;
    HttpResponse m_response;
    bool m_headDone = false;
    qsizetype m_headBytes = 0;
    qsizetype m_headLines = 0;
    bool m_ended = false;
    Framing m_framing = Framing::untilClose;
    qint64 m_left = 0;
    bool m_chunkEnd = false;
    bool m_trailers = false;
    int m_trailerCount = 0;
};

} // namespace

struct HttpClient::Worker
{
    QThread thread;
    // Lives on `thread`; every connection's socket is its child.
    QObject* context = nullptr;
    std::vector<std::weak_ptr<Transfer>> transfers;

    // On `thread`.
    void start(const HttpRequest& request, const std::shared_ptr<Exchange>& exchange)
    {
        std::erase_if(transfers, [](const std::weak_ptr<Transfer>& t) { return t.expired(); });
        auto transfer = std::make_shared<Transfer>(request, exchange);
        transfers.push_back(transfer);
        transfer->start(context);
    }

    // On `thread`.
    void abortAll()
    {
        for (const std::weak_ptr<Transfer>& weak : transfers) {
            if (const auto transfer = weak.lock())
                transfer->fail(QStringLiteral("aborted"));
        }
        transfers.clear();
    }
};

HttpClient::HttpClient() = default;

HttpClient::~HttpClient()
{
    shutdown();
}

HttpClient& HttpClient::shared()
{
    // Never destroyed: background workers may still hold it while the process ends.
    static HttpClient* client = [] {
        auto* made = new HttpClient;
        made->m_endsWithApplication = true;
        return made;
    }();
    return *client;
}

std::shared_ptr<HttpClient::Worker> HttpClient::ensureWorker()
{
    std::lock_guard lock(m_mutex);
    if (m_worker)
        return m_worker;
    auto worker = std::make_shared<Worker>();
    worker->thread.setObjectName(QStringLiteral("tallyvane.http"));
    worker->context = new QObject;
    worker->context->moveToThread(&worker->thread);
    worker->thread.start();
    m_worker = worker;
    if (m_endsWithApplication && QCoreApplication::instance()) {
        // The network objects must go before the application object's own teardown.
        qAddPostRoutine([] { HttpClient::shared().shutdown(); });
    }
    return worker;
}

void HttpClient::shutdown()
{
    std::shared_ptr<Worker> worker;
    {
        std::lock_guard lock(m_mutex);
        worker = std::move(m_worker);
        m_worker.reset();
    }
    if (!worker)
        return;
    Q_ASSERT(QThread::currentThread() != &worker->thread);
    // Aborting finishes every reply at once, so each waiting caller gets its error now.
    QMetaObject::invokeMethod(
        worker->context, [raw = worker.get()] { raw->abortAll(); }, Qt::BlockingQueuedConnection);
    // Destroyed on its own thread as that thread ends.
    worker->context->deleteLater();
    worker->thread.quit();
    worker->thread.wait();
}

HttpResponse HttpClient::send(const HttpRequest& request)
{
    const std::shared_ptr<Worker> worker = ensureWorker();
    auto exchange = std::make_shared<Exchange>();
    const bool posted = QMetaObject::invokeMethod(
        worker->context, [worker, request, exchange] { worker->start(request, exchange); },
        Qt::QueuedConnection);
    if (!posted) {
        HttpResponse failed;
        failed.error = QStringLiteral("network thread unavailable");
        return failed;
    }
    std::unique_lock lock(exchange->mutex);
    if (!exchange->doneSignal.wait_for(lock, request.timeout + handOffGrace,
                                       [&] { return exchange->done; })) {
        HttpResponse failed;
        failed.error = QStringLiteral("timed out");
        return failed;
    }
    return exchange->response;
}
