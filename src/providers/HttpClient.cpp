#include "providers/HttpClient.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QThread>
#include <QTimer>

#include <condition_variable>

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

bool isTransportError(QNetworkReply::NetworkError error)
{
    // Qt numbers connection, proxy-connection and TLS failures below 100; HTTP-level answers above.
    return error > QNetworkReply::NoError && error < 100;
}

} // namespace

std::optional<QByteArray> HttpResponse::header(QByteArrayView name) const
{
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return std::nullopt;
}

struct HttpClient::Worker
{
    QThread thread;
    // Lives on `thread`; the manager is its child, made there on first use.
    QObject* context = nullptr;
    QNetworkAccessManager* manager = nullptr;

    // On `thread`.
    void start(const HttpRequest& request, const std::shared_ptr<Exchange>& exchange)
    {
        if (!manager) {
            manager = new QNetworkAccessManager(context);
            // A redirect is an answer like any other: following it would carry the bearer token elsewhere.
            manager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
        }
        QNetworkRequest outgoing(request.url);
        for (const auto& [name, value] : request.headers)
            outgoing.setRawHeader(name, value);
        QNetworkReply* reply = manager->sendCustomRequest(outgoing, request.method, request.body);

        auto body = std::make_shared<QByteArray>();
        auto cutShort = std::make_shared<QString>();
        auto* deadline = new QTimer(reply);
        deadline->setSingleShot(true);
        QObject::connect(deadline, &QTimer::timeout, reply, [reply, cutShort] {
            *cutShort = QStringLiteral("timed out");
            reply->abort();
        });
        QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, body, cutShort] {
            body->append(reply->readAll());
            if (body->size() > maxBodyBytes && cutShort->isEmpty()) {
                *cutShort = QStringLiteral("answer too large");
                reply->abort();
            }
        });
        QObject::connect(reply, &QNetworkReply::finished, reply, [reply, body, cutShort, exchange, deadline] {
            deadline->stop();
            HttpResponse response;
            const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
            if (cutShort->isEmpty() && status.isValid() && !isTransportError(reply->error())) {
                if (body->size() <= maxBodyBytes)
                    body->append(reply->readAll());
                response.status = status.toInt();
                response.headers = reply->rawHeaderPairs();
                response.body = std::move(*body);
            } else {
                response.error = cutShort->isEmpty() ? reply->errorString() : *cutShort;
            }
            exchange->finish(std::move(response));
            reply->deleteLater();
        });
        deadline->start(request.timeout);
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
        worker->context,
        [raw = worker.get()] {
            if (raw->manager) {
                for (QNetworkReply* reply : raw->manager->findChildren<QNetworkReply*>())
                    reply->abort();
            }
        },
        Qt::BlockingQueuedConnection);
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
