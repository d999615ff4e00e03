#include "CodexTestSupport.h"

#include "providers/codex/CodexAppServerClient.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>

#include <atomic>
#include <thread>

using CodexTestSupport::Collected;
using CodexTestSupport::FakeCodex;
using TestSupport::waitFor;

namespace {

// A client on the scripted fake that records what it delivers.
struct Session
{
    FakeCodex fake;
    std::shared_ptr<CodexProcessManager> manager;
    std::shared_ptr<CodexAppServerClient> client;
    std::shared_ptr<Collected<QString>> lines = CodexTestSupport::recordLines(client);
    Collected<CodexRateLimitsPayload> payloads;
    std::atomic<int> logins{0};

    explicit Session(const QString& scenario)
        : manager(std::make_shared<CodexProcessManager>(fake.options(scenario))),
          client(CodexAppServerClient::create(manager))
    {
        client->onRateLimits = [this](const CodexRateLimitsPayload& payload) { payloads.add(payload); };
        client->onLoginCompleted = [this] { logins.fetch_add(1); };
    }

    // Waits until the child has answered everything sent so far and the client has handled it.
    bool settle() { return CodexTestSupport::settle(*client, *lines); }

    // The five-hour percentages of every delivered payload, in order.
    QList<double> fiveHourUsed() const
    {
        QList<double> used;
        for (const auto& payload : payloads.values())
            used.append(payload.allBuckets()
                            .value(0)
                            .primary.value_or(CodexRateLimitWindow{})
                            .usedPercent.value_or(-1));
        return used;
    }
};

QString line(const QJsonObject& object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QJsonObject samplePayload(double used)
{
    return {{"rateLimits",
             QJsonObject{{"primary", QJsonObject{{"usedPercent", used}, {"windowDurationMins", 300}}}}}};
}

} // namespace

TEST(CodexAppServerClient, HandshakeWireFormatAndFirstRead)
{
    Session session(QStringLiteral("normal"));
    // Before the handshake a read does nothing and uses up no identifier.
    session.client->requestRateLimits();
    ASSERT_TRUE(session.client->start());
    ASSERT_TRUE(
        waitFor([&] { return session.payloads.size() == 1 && session.fake.wireLines().size() == 4; }));
    ASSERT_TRUE(session.settle());

    const QStringList lines = session.fake.wireLines().mid(0, 4);
    const QList<QJsonObject> messages = session.fake.wireMessages().mid(0, 4);
    const QJsonObject clientInfo{{"name", "Tallyvane"}, {"version", "0.1.0"}};
    const QList<QJsonObject> expected{
        {{"id", 1}, {"method", "initialize"}, {"params", QJsonObject{{"clientInfo", clientInfo}}}},
        {{"method", "initialized"}, {"params", QJsonObject{}}},
        {{"id", 2}, {"method", "account/rateLimits/read"}, {"params", QJsonObject{}}},
        {{"id", 3}, {"method", "account/read"}, {"params", QJsonObject{}}},
    };
    EXPECT_EQ(messages, expected); // exact member sets: no "jsonrpc", nothing extra
    for (const QString& wire : lines) {
        EXPECT_FALSE(wire.contains(QLatin1Char(' '))) << "compact JSON: " << wire.toStdString();
        EXPECT_FALSE(wire.contains(QLatin1Char('\r')));
    }
    EXPECT_TRUE(session.client->isInitialized());
    EXPECT_EQ(session.client->rateLimitsId(), 2);

    // The answer to id 2 was delivered; the answer to "account/read" (id 3) was not.
    ASSERT_EQ(session.payloads.size(), 1);
    const auto bucket = session.payloads.values().first().allBuckets().value(0);
    EXPECT_EQ(bucket.limitId, QStringLiteral("codex"));
    EXPECT_EQ(bucket.primary->usedPercent, 42.0);
    EXPECT_EQ(bucket.secondary->usedPercent, 17.0);
}

TEST(CodexAppServerClient, ErrorAnswerToInitializeLeavesItUninitialisedForGood)
{
    Session session(QStringLiteral("initError"));
    ASSERT_TRUE(session.client->start());
    ASSERT_TRUE(session.settle()); // the error answer has been handled by now
    session.client->requestRateLimits();
    session.client->requestRateLimits();
    ASSERT_TRUE(session.settle());
    EXPECT_FALSE(session.client->isInitialized());
    EXPECT_EQ(session.fake.wireMethods(), (QStringList{"initialize", "test/sentinel", "test/sentinel"}));
    EXPECT_EQ(session.payloads.size(), 0);
}

TEST(CodexAppServerClient, OnlyTheNewestReadIsAnswered)
{
    Session session(QStringLiteral("twoReads"));
    ASSERT_TRUE(session.client->start());
    ASSERT_TRUE(waitFor([&] { return session.fake.wireMethods().contains("account/rateLimits/read"); }));
    session.client->requestRateLimits(); // the second read while the first is unanswered
    ASSERT_TRUE(session.settle());       // the stale answer follows the fresh one
    EXPECT_EQ(session.fiveHourUsed(), QList<double>{22});
    EXPECT_EQ(session.client->rateLimitsId(), 4);
}

TEST(CodexAppServerClient, AChildThatCrashesOrEndsLeavesTheClientUsable)
{
    // Line splitting, an unterminated last line included, is the process manager's business.
    for (const char* scenario : {"crash", "exit"}) {
        SCOPED_TRACE(scenario);
        Session session(QString::fromLatin1(scenario));
        std::atomic<bool> ended{false};
        session.manager->setOnTerminate([&](const CodexExit&) { ended.store(true); });
        ASSERT_TRUE(session.client->start());
        ASSERT_TRUE(waitFor([&] { return ended.load(); }));
        // Polling on after the end must neither block nor disturb anything.
        for (int i = 0; i < 20; ++i)
            session.client->requestRateLimits();
        session.manager->flush();
        EXPECT_FALSE(session.manager->isRunning());
        // A crash comes after the handshake; the cut-off last line is not a payload.
        EXPECT_EQ(session.client->isInitialized(), QByteArray(scenario) == "crash");
        EXPECT_EQ(session.payloads.size(), 0);
    }
}

TEST(CodexAppServerClient, MessageTable)
{
    struct Row
    {
        const char* name;
        QString line;
        int payloads;
        int logins;
    };
    const QJsonObject payload = samplePayload(9);
    const Row rows[] = {
        {"answer to the newest read", line({{"id", 2}, {"result", payload}}), 1, 0},
        {"identifier written as 2.0", QStringLiteral("{\"id\":2.0,\"result\":%1}").arg(line(payload)), 1, 0},
        {"answer to another request", line({{"id", 3}, {"result", payload}}), 0, 0},
        {"identifier as a string", line({{"id", "2"}, {"result", payload}}), 0, 0},
        {"fractional identifier", line({{"id", 2.5}, {"result", payload}}), 0, 0},
        {"identifier zero", line({{"id", 0}, {"result", payload}}), 0, 0},
        {"error answer", line({{"id", 2}, {"error", QJsonObject{{"code", -32600}}}}), 0, 0},
        {"null result", line({{"id", 2}, {"result", QJsonValue::Null}}), 0, 0},
        {"wrongly typed payload",
         line({{"id", 2}, {"result", QJsonObject{{"rateLimits", QJsonObject{{"limitId", 5}}}}}}), 0, 0},
        {"server request with our identifier is only a response",
         line({{"id", 2}, {"method", "account/rateLimits/updated"}, {"params", payload}}), 0, 0},
        {"pushed update", line({{"method", "account/rateLimits/updated"}, {"params", payload}}), 1, 0},
        {"pushed update with extra members",
         line({{"method", "account/rateLimits/updated"}, {"params", payload}, {"emittedAtMs", 1.0}}), 1, 0},
        {"pushed update without params", line({{"method", "account/rateLimits/updated"}}), 0, 0},
        {"method not a string", line({{"method", 7}, {"params", payload}}), 0, 0},
        {"other notification", line({{"method", "configWarning"}, {"params", payload}}), 0, 0},
        {"login completed", line({{"method", "account/login/completed"}, {"params", QJsonObject{}}}), 0, 1},
        {"array", QStringLiteral("[%1]").arg(line(payload)), 0, 0},
        {"not JSON", QStringLiteral("{\"id\":2,\"result\":"), 0, 0},
        {"empty", QString(), 0, 0},
    };

    Session session(QStringLiteral("quiet"));
    ASSERT_TRUE(session.client->start());
    ASSERT_TRUE(waitFor([&] { return session.fake.wireMethods().contains("account/rateLimits/read"); }));
    ASSERT_EQ(session.client->rateLimitsId(), 2);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const qsizetype payloadsBefore = session.payloads.size();
        const int loginsBefore = session.logins.load();
        session.client->handleLine(row.line);
        EXPECT_EQ(session.payloads.size() - payloadsBefore, row.payloads);
        EXPECT_EQ(session.logins.load() - loginsBefore, row.logins);
    }
}

TEST(CodexAppServerClient, IdentifiersStayUniqueAcrossThreads)
{
    Session session(QStringLiteral("quiet"));
    ASSERT_TRUE(session.client->start());
    ASSERT_TRUE(waitFor([&] { return session.client->isInitialized(); }));
    // The pipe thread handles lines while two other threads ask: every identifier is handed out once.
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i)
                session.client->requestRateLimits();
        });
    for (int i = 0; i < 200; ++i)
        session.client->handleLine(
            line({{"method", "account/rateLimits/updated"}, {"params", samplePayload(i)}}));
    for (auto& thread : threads)
        thread.join();
    ASSERT_TRUE(session.settle());
    QList<qint64> ids;
    for (const QJsonObject& message : session.fake.wireMessages())
        if (message.contains(QLatin1StringView("id")))
            ids.append(message.value(QLatin1StringView("id")).toInteger());
    std::sort(ids.begin(), ids.end());
    ASSERT_EQ(ids.size(), 404); // the last is the sentinel
    for (qsizetype i = 0; i < ids.size(); ++i)
        EXPECT_EQ(ids[i], i + 1);
    EXPECT_EQ(session.client->rateLimitsId(), 403) << "the newest read is the one recorded";
}
