#include "LoopbackHttpServer.h"

#include "providers/HttpClient.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

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

} // namespace

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
