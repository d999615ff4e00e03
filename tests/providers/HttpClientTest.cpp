#include "LoopbackHttpServer.h"

#include "providers/HttpClient.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTcpServer>

#include <future>
#include <thread>

using namespace std::chrono_literals;

namespace {

HttpRequest get(const QByteArray& url, std::chrono::milliseconds timeout = 5s)
{
    HttpRequest request;
    request.url = QUrl(QString::fromLatin1(url));
    request.timeout = timeout;
    return request;
}

} // namespace

TEST(HttpClientTest, SendsMethodHeadersAndBodyAndReturnsTheAnswer)
{
    LoopbackHttpServer server;
    server.answer("/token", {LoopbackHttpServer::reply(201, R"({"ok":true})", {{"Retry-After", "7"}})});
    HttpClient client;
    HttpRequest request = get(server.url("/token"));
    request.method = "POST";
    request.headers = {{"Content-Type", "application/json"}, {"User-Agent", "claude-code/2.1"}};
    request.body = R"({"grant_type":"refresh_token"})";

    const HttpResponse response = client.send(request);

    EXPECT_EQ(response.status, 201);
    EXPECT_EQ(response.body, R"({"ok":true})");
    EXPECT_TRUE(response.error.isEmpty());
    EXPECT_EQ(response.header("retry-after"), QByteArray("7"));
    EXPECT_FALSE(response.header("x-absent"));
    ASSERT_EQ(server.received().size(), 1);
    const LoopbackHttpServer::Received sent = server.received().front();
    EXPECT_EQ(sent.method, "POST");
    EXPECT_EQ(sent.body, request.body);
    EXPECT_EQ(sent.header("user-agent"), "claude-code/2.1");
    EXPECT_EQ(sent.header("content-type"), "application/json");
}

// Error statuses are answers, with their bodies; only a missing answer is an error.
TEST(HttpClientTest, ErrorStatusesAreAnswersWithTheirBodies)
{
    LoopbackHttpServer server;
    HttpClient client;
    for (const int status : {400, 401, 404, 429, 500}) {
        server.answer("/x", status, "body " + QByteArray::number(status));
        const HttpResponse response = client.send(get(server.url("/x")));
        EXPECT_EQ(response.status, status);
        EXPECT_EQ(response.body, "body " + QByteArray::number(status));
        EXPECT_TRUE(response.error.isEmpty()) << response.error.toStdString();
    }
}

TEST(HttpClientTest, NoAnswerIsStatusZeroWithAReason)
{
    LoopbackHttpServer server;
    server.answer("/slow", {LoopbackHttpServer::reply(200, "late", {}, 3000)});
    server.answer("/hangup", {LoopbackHttpServer::hangUp()});
    server.answer("/huge", 200, QByteArray(HttpClient::maxBodyBytes + 1, 'x'));
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost, 0);
    const QByteArray refused = "http://127.0.0.1:" + QByteArray::number(closed.serverPort()) + "/";
    closed.close();
    HttpClient client;

    QElapsedTimer timer;
    timer.start();
    const HttpResponse slow = client.send(get(server.url("/slow"), 300ms));
    EXPECT_LT(timer.elapsed(), 2500);
    EXPECT_EQ(slow.status, 0);
    EXPECT_EQ(slow.error, QStringLiteral("timed out"));

    const HttpResponse huge = client.send(get(server.url("/huge")));
    EXPECT_EQ(huge.status, 0);
    EXPECT_EQ(huge.error, QStringLiteral("answer too large"));

    for (const QByteArray& url : {server.url("/hangup"), refused}) {
        const HttpResponse response = client.send(get(url));
        EXPECT_EQ(response.status, 0) << url.constData();
        EXPECT_FALSE(response.error.isEmpty()) << url.constData();
        EXPECT_TRUE(response.body.isEmpty());
    }
}

TEST(HttpClientTest, ServesSeveralWaitingThreadsAtOnce)
{
    LoopbackHttpServer server;
    server.answer("/a", {LoopbackHttpServer::reply(200, "a", {}, 200)});
    server.answer("/b", 200, "b");
    HttpClient client;
    std::vector<std::future<HttpResponse>> answers;
    for (int i = 0; i < 4; ++i) {
        const QByteArray path = i % 2 ? "/a" : "/b";
        answers.push_back(
            std::async(std::launch::async, [&, path] { return client.send(get(server.url(path))); }));
    }
    for (int i = 0; i < 4; ++i) {
        const HttpResponse response = answers[i].get();
        EXPECT_EQ(response.status, 200);
        EXPECT_EQ(response.body, i % 2 ? "a" : "b");
    }
}

// A worker blocked on a request must not outlive the client by the request's whole time-out.
TEST(HttpClientTest, ShutdownReleasesWaitingCallers)
{
    LoopbackHttpServer server;
    server.answer("/slow", {LoopbackHttpServer::reply(200, "late", {}, 20'000)});
    HttpClient client;
    auto pending = std::async(std::launch::async, [&] { return client.send(get(server.url("/slow"), 30s)); });
    ASSERT_TRUE(TestSupport::waitFor([&] { return server.count("/slow") == 1; }));
    QElapsedTimer timer;
    timer.start();
    client.shutdown();
    const HttpResponse response = pending.get();
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_EQ(response.status, 0);
    EXPECT_FALSE(response.error.isEmpty());

    // The next request starts the network thread again.
    server.answer("/again", 200, "yes");
    EXPECT_EQ(client.send(get(server.url("/again"))).body, "yes");
}
