#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

class QThread;

using HttpHeaders = QList<std::pair<QByteArray, QByteArray>>;

struct HttpRequest
{
    QByteArray method = "GET";
    QUrl url;
    HttpHeaders headers;
    QByteArray body;
    // For the whole exchange, from sending to the last byte of the answer.
    std::chrono::milliseconds timeout{10'000};
};

struct HttpResponse
{
    // The HTTP status; 0 when no HTTP answer arrived, and then `error` says why.
    int status = 0;
    HttpHeaders headers;
    QByteArray body;
    QString error;
    // The connection was refused: the request provably never reached the server.
    bool refused = false;

    // The first header of that name, compared without regard to case.
    std::optional<QByteArray> header(QByteArrayView name) const;
};

// Blocking HTTP requests for background workers. The network work runs on a thread of the client's own
// with its own event loop, so a caller needs no event loop: send() waits for the answer, a failure or the
// time-out, whichever comes first.
class HttpClient
{
public:
    // Answers beyond this are cut off and reported as an error: nothing we ask for comes near it. A declared
    // length beyond it is refused before the body is read; headers have a bound of their own (64 KiB, 100
    // lines, interim answers counted in), and the request's time-out holds whatever the server sends.
    static constexpr qint64 maxBodyBytes = 4 * 1024 * 1024;

    HttpClient();
    // Aborts what is still in flight; its callers get an error.
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // From any thread but the client's own.
    HttpResponse send(const HttpRequest& request);

    // The process's client. Its thread stops when the application object goes and starts again on the
    // next request.
    static HttpClient& shared();

    // Ends the network thread now; the next send() starts it again.
    void shutdown();

private:
    struct Worker;
    std::shared_ptr<Worker> ensureWorker();

    std::mutex m_mutex;
    std::shared_ptr<Worker> m_worker;
    bool m_endsWithApplication = false;
};
