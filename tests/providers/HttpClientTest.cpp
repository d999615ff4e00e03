#include "LoopbackHttpServer.h"

#include "providers/HttpClient.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <future>

using namespace std::chrono_literals;
using Server = LoopbackHttpServer;

namespace {

HttpRequest get(const QByteArray& url, std::chrono::milliseconds timeout = 5s)
{
    HttpRequest request;
    request.url = QUrl(QString::fromLatin1(url));
    request.timeout = timeout;
    return request;
}

// A server that writes `head` once and then, when `unit` is given, `unit` again and again for as long as the
// client listens: the answers a hostile endpoint can give.
class StreamingServer
{
public:
    StreamingServer(QByteArray head, QByteArray unit)
    {
        m_thread.start();
        m_context = new QObject;
        m_context->moveToThread(&m_thread);
        QMetaObject::invokeMethod(
            m_context,
            [this, head = std::move(head), unit = std::move(unit)] {
                auto* server = new QTcpServer(m_context);
                server->listen(QHostAddress::LocalHost, 0);
                m_port = server->serverPort();
                QObject::connect(server, &QTcpServer::newConnection, server, [server, head, unit] {
                    QTcpSocket* socket = server->nextPendingConnection();
                    QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                    QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, head, unit] {
                        socket->readAll();
                        if (socket->property("answered").toBool())
                            return;
                        socket->setProperty("answered", true);
                        socket->write(head);
                        if (unit.isEmpty()) {
                            socket->disconnectFromHost();
                            return;
                        }
                        auto* pump = new QTimer(socket);
                        QObject::connect(pump, &QTimer::timeout, socket, [socket, unit] {
                            // Once the client has gone a write fails, and the loop must end there.
                            while (socket->bytesToWrite() < 1024 * 1024 && socket->write(unit) > 0) {
                            }
                        });
                        pump->start(1);
                    });
                });
            },
            Qt::BlockingQueuedConnection);
    }
    ~StreamingServer()
    {
        m_context->deleteLater();
        m_thread.quit();
        m_thread.wait();
    }
    QByteArray url() const { return "http://127.0.0.1:" + QByteArray::number(m_port) + "/"; }

private:
    QThread m_thread;
    QObject* m_context = nullptr;
    quint16 m_port = 0;
};

} // namespace

// Endless header lines and a chunked body without end once kept the network thread busy past the time-out
// while memory grew by hundreds of megabytes; every limit now holds whatever the server sends.
TEST(HttpClientTest, HostileAnswersEndAtTheirLimitsInTime)
{
    const QByteArray filler = "X-Filler: " + QByteArray(100, 'a') + "\r\n";
    const QByteArray chunk = "10000\r\n" + QByteArray(0x10000, 'x') + "\r\n";
    struct Row
    {
        const char* name;
        QByteArray head;
        QByteArray unit;
        const char* error;
        QByteArray body;
    };
    const Row rows[] = {
        {"endless header lines", "HTTP/1.1 200 OK\r\n", filler, "answer headers too large", {}},
        {"endless chunked body",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n",
         chunk,
         "answer too large",
         {}},
        {"declared length over the limit",
         "HTTP/1.1 200 OK\r\nContent-Length: 999999999999\r\n\r\n",
         QByteArray(0x10000, 'x'),
         "answer too large",
         {}},
        {"endless body without a length",
         "HTTP/1.1 200 OK\r\n\r\n",
         QByteArray(0x10000, 'x'),
         "answer too large",
         {}},
        {"proper chunked body with a trailer",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nWiki\r\n5;x=y\r\npedia\r\n0\r\nT: "
         "1\r\n\r\n",
         {},
         "",
         "Wikipedia"},
        {"body up to the close", "HTTP/1.1 200 OK\r\n\r\nall of it", {}, "", "all of it"},
        {"endless interim answers", {}, "HTTP/1.1 100 Continue\r\n\r\n", "answer headers too large", {}},
        {"an interim answer, then the real one",
         "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\n\r\nafter",
         {},
         "",
         "after"},
    };
    HttpClient client;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        StreamingServer server(row.head, row.unit);
        QElapsedTimer timer;
        timer.start();
        const HttpResponse response = client.send(get(server.url(), 3s));
        EXPECT_EQ(response.error, QLatin1String(row.error));
        EXPECT_EQ(response.body, row.body);
        EXPECT_LT(timer.elapsed(), 2500);
    }
}

// Every status is an answer with its body and headers, redirects included (never followed: they would carry
// the bearer token elsewhere); only a missing answer is an error.
TEST(HttpClientTest, AnswersWhateverTheStatus)
{
    Server server;
    HttpClient client;
    HttpRequest request = get(server.url("/x"));
    request.method = "POST";
    request.headers = {{"Content-Type", "application/json"}, {"User-Agent", "claude-code/2.1"}};
    request.body = R"({"grant_type":"refresh_token"})";
    for (const int status : {200, 302, 401, 404, 429}) {
        server.answer("/x", {Server::reply(status, "body", {{"Location", "/moved"}, {"Retry-After", "7"}})});
        const HttpResponse response = client.send(request);
        EXPECT_EQ(response.status, status);
        EXPECT_EQ(response.body, "body");
        EXPECT_TRUE(response.error.isEmpty()) << response.error.toStdString();
        EXPECT_EQ(response.header("retry-after"), QByteArray("7"));
    }
    EXPECT_EQ(server.count("/moved"), 0);
    const Server::Received sent = server.received().front();
    EXPECT_EQ(sent.method, "POST");
    EXPECT_EQ(sent.body, request.body);
    EXPECT_EQ(sent.header("user-agent"), "claude-code/2.1");
}

TEST(HttpClientTest, NoAnswerIsStatusZeroWithAReason)
{
    Server server;
    server.answer("/slow", {Server::reply(200, "late", {}, 3000)});
    server.answer("/hangup", {Server::hangUp()});
    server.answer("/huge", 200, QByteArray(HttpClient::maxBodyBytes + 1, 'x'));
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost, 0);
    const QByteArray refused = "http://127.0.0.1:" + QByteArray::number(closed.serverPort()) + "/";
    closed.close();
    HttpClient client;

    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(client.send(get(server.url("/slow"), 300ms)).error, "timed out");
    EXPECT_LT(timer.elapsed(), 2500);
    EXPECT_EQ(client.send(get(server.url("/huge"))).error, "answer too large");
    for (const QByteArray& url : {server.url("/slow"), server.url("/hangup"), server.url("/huge"), refused}) {
        const HttpResponse response = client.send(get(url, 300ms));
        EXPECT_EQ(response.status, 0) << url.constData();
        EXPECT_FALSE(response.error.isEmpty()) << url.constData();
        EXPECT_TRUE(response.body.isEmpty()) << url.constData();
    }
}

// A worker blocked on a request must not outlive the client by the request's whole time-out.
TEST(HttpClientTest, ShutdownReleasesWaitingCallers)
{
    Server server;
    server.answer("/slow", {Server::reply(200, "late", {}, 20'000)});
    HttpClient client;
    auto pending = std::async(std::launch::async, [&] { return client.send(get(server.url("/slow"), 30s)); });
    ASSERT_TRUE(TestSupport::waitFor([&] { return server.count("/slow") == 1; }));
    QElapsedTimer timer;
    timer.start();
    client.shutdown();
    EXPECT_EQ(pending.get().status, 0);
    EXPECT_LT(timer.elapsed(), 5000);

    server.answer("/again", 200, "yes"); // the next request starts the network thread again
    EXPECT_EQ(client.send(get(server.url("/again"))).body, "yes");
}
