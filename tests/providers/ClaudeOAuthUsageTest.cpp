// The OAuth road against a loopback server: usage answers, token refresh and its write-back into a real
// credential file in a temporary folder.
#include "ClaudeTestSupport.h"
#include "LoopbackHttpServer.h"

#include "providers/HttpClient.h"
#include "providers/claude/ClaudeCredentialFile.h"
#include "providers/claude/ClaudeOAuthUsage.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QTemporaryDir>

#include <future>

using namespace ClaudeTestSupport;
using namespace std::chrono_literals;
using Status = ClaudeOAuthStatus;
using Server = LoopbackHttpServer;

namespace {

const QDateTime now(QDate(2026, 6, 1), QTime(10, 0), Qt::UTC);
const QByteArray usagePath = "/api/oauth/usage";
const QByteArray consolePath = "/console/v1/oauth/token";
const QByteArray platformPath = "/platform/v1/oauth/token";
const QByteArray twoWindows =
    R"({"five_hour":{"utilization":37.5,"resets_at":"2026-06-01T12:00:00.123456+00:00"},)"
    R"("seven_day":{"utilization":80,"resets_at":null},"extra_usage":{"is_enabled":true,"used_credits":1234,)"
    R"("monthly_limit":5000}})";

QByteArray tokenAnswer(const QString& access, const QString& refresh = {}, int expiresIn = 28800)
{
    QJsonObject answer{{"access_token", access}, {"expires_in", expiresIn}, {"token_type", "Bearer"}};
    if (!refresh.isEmpty())
        answer.insert("refresh_token", refresh);
    return QJsonDocument(answer).toJson(QJsonDocument::Compact);
}

class ClaudeOAuthUsageTest : public ::testing::Test
{
protected:
    ClaudeOAuthUsageTest()
    {
        server.answer(usagePath, 200, twoWindows);
        endpoints.usageUrl = QUrl(QString::fromLatin1(server.url(usagePath)));
        endpoints.tokenUrls = {QUrl(QString::fromLatin1(server.url(consolePath))),
                               QUrl(QString::fromLatin1(server.url(platformPath)))};
        endpoints.usageTimeout = 1500ms;
        endpoints.tokenTimeout = 1500ms;
    }

    QString credentialPath() const { return folder.path() + "/claude/.credentials.json"; }
    QString backupPath() const { return folder.path() + "/data/claude-credentials-backup.json"; }
    void storeCredential(const QString& access, const QString& refresh, const QDateTime& expiresAt)
    {
        writeFile(credentialPath(), credentialDocument(access, refresh, expiresAt), ownerOnly);
    }
    std::unique_ptr<ClaudeOAuthUsage> makeUsage(QString path = {})
    {
        return std::make_unique<ClaudeOAuthUsage>(
            std::make_shared<ClaudeCredentialFile>(path.isEmpty() ? credentialPath() : path), endpoints, http,
            backupPath());
    }
    ClaudeOAuthUsage::Result fetch(ClaudeOAuthUsage& usage, const QDateTime& at = now)
    {
        auto result = usage.fetchNow(at);
        EXPECT_TRUE(result);
        return result.value_or(ClaudeOAuthUsage::Result{});
    }
    QByteArray bearer(int request) const { return server.received().at(request).header("authorization"); }
    int tokenRequests() const { return server.count(consolePath) + server.count(platformPath); }

    QTemporaryDir folder;
    LoopbackHttpServer server;
    HttpClient http;
    ClaudeEndpoints endpoints;
};

} // namespace

TEST(ClaudeUsageAnswerTest, ReadsWindowsWhereverTheAnswerPutsThem)
{
    struct Row
    {
        const char* name;
        QByteArray answer;
        QList<std::tuple<WindowKind, double, QString>> expected; // kind, used, limit name
    };
    const QList<Row> rows{
        {"top level",
         twoWindows,
         {{WindowKind::fiveHour, 37.5, "fiveHour"}, {WindowKind::sevenDay, 80, "sevenDay"}}},
        {"nested once",
         R"({"limits":{"current_session":{"used_percentage":37.5},"weekly":{"percent_used":80}}})",
         {{WindowKind::fiveHour, 37.5, "fiveHour"}, {WindowKind::sevenDay, 80, "sevenDay"}}},
        {"clamped",
         R"({"five_hour":{"utilization":104},"seven_day":{"utilization":-3}})",
         {{WindowKind::fiveHour, 100, "fiveHour"}, {WindowKind::sevenDay, 0, "sevenDay"}}},
        {"a string is no percentage", R"({"five_hour":{"utilization":"50"}})", {}},
        {"Sonnet alone", R"({"seven_day_sonnet":{"used_pct":12}})", {{WindowKind::weekly, 12, "Sonnet 7d"}}},
        {"unknown names only", R"({"hourly":{"utilization":5},"x":{"y":{"utilization":1}}})", {}},
        {"first of a kind wins",
         R"({"five_hour":{"utilization":1},"session":{"utilization":2}})",
         {{WindowKind::fiveHour, 1, "fiveHour"}}},
    };
    for (const Row& row : rows) {
        const QList<UsageSnapshot> got =
            ClaudeUsageAnswer::snapshots(QJsonDocument::fromJson(row.answer).object(), now);
        ASSERT_EQ(got.size(), row.expected.size()) << row.name;
        for (qsizetype i = 0; i < got.size(); ++i) {
            const auto& [kind, used, limitName] = row.expected[i];
            EXPECT_EQ(got[i].windowKind, kind) << row.name;
            EXPECT_EQ(got[i].usedPercent, used) << row.name;
            EXPECT_EQ(got[i].remainingPercent, 100 - used) << row.name;
            EXPECT_EQ(got[i].limitName, limitName) << row.name;
            EXPECT_EQ(got[i].source, "claude.oauth");
            EXPECT_EQ(got[i].sourceConfidence, SourceConfidence::high);
            EXPECT_EQ(got[i].timestamp, now);
        }
    }
}

TEST(ClaudeUsageAnswerTest, ResetTimesAndExtraUsage)
{
    const auto resetOf = [](const QByteArray& value) {
        const QList<UsageSnapshot> got = ClaudeUsageAnswer::snapshots(
            QJsonDocument::fromJson(R"({"five_hour":{"utilization":1,"resets_at":)" + value + "}}").object(),
            now);
        return got.value(0).resetAt;
    };
    const QDateTime noon(QDate(2026, 6, 1), QTime(12, 0), Qt::UTC);
    EXPECT_EQ(resetOf(R"("2026-06-01T12:00:00.123456+00:00")"), noon.addMSecs(123));
    EXPECT_EQ(resetOf(R"("2026-06-01T14:00:00+02:00")"), noon);
    EXPECT_EQ(resetOf(QByteArray::number(noon.toSecsSinceEpoch())), noon);
    EXPECT_EQ(resetOf(QByteArray::number(noon.toMSecsSinceEpoch())), noon);
    EXPECT_EQ(resetOf(R"("soon")"), std::nullopt);
    EXPECT_EQ(resetOf("true"), std::nullopt);

    const auto extra = ClaudeUsageAnswer::extraUsage(
        QJsonDocument::fromJson(R"({"extra_usage":{"used_credits":1234,"monthly_limit":5000}})").object());
    ASSERT_TRUE(extra);
    EXPECT_DOUBLE_EQ(extra->usedGBP, 12.34);
    EXPECT_EQ(extra->limitGBP, 50.0);
    EXPECT_EQ(extra->currency, "GBP");
    EXPECT_FALSE(extra->enabled);
    EXPECT_FALSE(ClaudeUsageAnswer::extraUsage(QJsonDocument::fromJson(R"({"extra_usage":7})").object()));
}

TEST(ClaudeEndpointsTest, EnvironmentOverrides)
{
    QProcessEnvironment environment;
    EXPECT_EQ(ClaudeEndpoints::fromEnvironment(environment).usageUrl.toString(),
              "https://api.anthropic.com/api/oauth/usage");
    environment.insert("TALLYVANE_CLAUDE_API_URL", "http://127.0.0.1:8123/ignored/path");
    environment.insert("TALLYVANE_CLAUDE_TOKEN_URLS",
                       " http://127.0.0.1:1/a  ftp://x/b http://127.0.0.1:2/b ");
    environment.insert("TALLYVANE_CLAUDE_USER_AGENT", "claude-code/9.9");
    ClaudeEndpoints endpoints = ClaudeEndpoints::fromEnvironment(environment);
    EXPECT_EQ(endpoints.usageUrl.toString(), "http://127.0.0.1:8123/api/oauth/usage");
    EXPECT_EQ(endpoints.tokenUrls, (QList<QUrl>{QUrl("http://127.0.0.1:1/a"), QUrl("http://127.0.0.1:2/b")}));
    EXPECT_EQ(endpoints.userAgent, "claude-code/9.9");

    environment.insert("TALLYVANE_CLAUDE_API_URL", "not a url");
    environment.insert("TALLYVANE_CLAUDE_USER_AGENT", "evil\r\nX-Injected: 1");
    endpoints = ClaudeEndpoints::fromEnvironment(environment);
    EXPECT_EQ(endpoints.usageUrl.host(), "api.anthropic.com");
    EXPECT_EQ(endpoints.userAgent, "claude-code/2.1");
}

TEST_F(ClaudeOAuthUsageTest, FetchSendsClaudeCodesHeadersAndReadsTheWindows)
{
    storeCredential("access-1", "refresh-1", now.addSecs(3600));
    const auto usage = makeUsage();
    const ClaudeOAuthUsage::Result result = fetch(*usage);

    EXPECT_EQ(result.status, Status::ok(2));
    EXPECT_EQ(result.status.label(), "ok (2 windows)");
    ASSERT_EQ(result.snapshots.size(), 2);
    EXPECT_EQ(result.snapshots[0].resetAt, QDateTime(QDate(2026, 6, 1), QTime(12, 0), Qt::UTC).addMSecs(123));
    EXPECT_EQ(usage->lastStatus(), Status::ok(2));
    ASSERT_TRUE(usage->lastExtra());
    EXPECT_TRUE(usage->lastExtra()->enabled);
    ASSERT_EQ(server.received().size(), 1);
    const auto sent = server.received().front();
    EXPECT_EQ(sent.method, "GET");
    EXPECT_EQ(sent.header("authorization"), "Bearer access-1");
    EXPECT_EQ(sent.header("anthropic-beta"), "oauth-2025-04-20");
    EXPECT_EQ(sent.header("user-agent"), "claude-code/2.1");
}

TEST_F(ClaudeOAuthUsageTest, FailuresBecomeStatusesWithoutSnapshots)
{
    struct Row
    {
        const char* name;
        QList<LoopbackHttpServer::Answer> answers;
        Status expected;
        QString label;
    };
    const QList<Row> rows{
        {"401", {Server::reply(401, R"({"error":"unauthorized"})")}, Status::httpError(401), "HTTP 401"},
        {"not JSON", {Server::reply(200, "<html>")}, Status::parseError(), "unrecognised response shape"},
        {"no known window",
         {Server::reply(200, R"({"hourly":{"utilization":3}})")},
         Status::parseError(),
         ""},
        {"too slow",
         {Server::reply(200, twoWindows, {}, 4000)},
         Status::networkError("timed out"),
         "network: timed out"},
    };
    storeCredential("access-1", "refresh-1", now.addSecs(3600));
    const auto usage = makeUsage();
    for (const Row& row : rows) {
        server.answer(usagePath, row.answers);
        const ClaudeOAuthUsage::Result result = fetch(*usage);
        EXPECT_EQ(result.status, row.expected) << row.name;
        if (!row.label.isEmpty()) {
            EXPECT_EQ(result.status.label(), row.label) << row.name;
        }
        EXPECT_TRUE(result.snapshots.isEmpty()) << row.name;
    }
    EXPECT_EQ(tokenRequests(), 0); // a 401 is reported, never answered with a refresh

    const auto none = makeUsage(folder.path() + "/absent/.credentials.json");
    EXPECT_EQ(fetch(*none).status, Status::noCredential());
}

// A credential expiring within a minute is refreshed first; one with more time left is used as it is.
TEST_F(ClaudeOAuthUsageTest, RefreshesOnlyWithinTheExpiryMargin)
{
    server.answer(consolePath, 200, tokenAnswer("access-2", "refresh-2"));
    storeCredential("access-1", "refresh-1", now.addSecs(61));
    EXPECT_EQ(fetch(*makeUsage()).status, Status::ok(2));
    EXPECT_EQ(tokenRequests(), 0);

    storeCredential("access-1", "refresh-1", now.addSecs(59));
    EXPECT_EQ(fetch(*makeUsage()).status, Status::ok(2));
    EXPECT_EQ(tokenRequests(), 1);
    EXPECT_EQ(bearer(server.received().size() - 1), "Bearer access-2");
}

TEST_F(ClaudeOAuthUsageTest, RefreshWritesBackOnlyTheTokensAndKeepsABackup)
{
    server.answer(consolePath, 404, "gone");
    server.answer(platformPath, 200, tokenAnswer("access-2", "refresh-2", 3600));
    storeCredential("access-1", "refresh-1", now.addSecs(-10));
    const QByteArray before = readAll(credentialPath());
    const auto usage = makeUsage();

    EXPECT_EQ(fetch(*usage).status, Status::ok(2));

    ASSERT_EQ(server.count(consolePath), 1);
    ASSERT_EQ(server.count(platformPath), 1);
    const auto tokenRequest = server.received().at(1);
    EXPECT_EQ(tokenRequest.header("content-type"), "application/json");
    EXPECT_EQ(tokenRequest.header("user-agent"), "claude-code/2.1");
    EXPECT_EQ(QJsonDocument::fromJson(tokenRequest.body).object(),
              (QJsonObject{{"grant_type", "refresh_token"},
                           {"refresh_token", "refresh-1"},
                           {"client_id", "9d1c250a-e61b-44d9-88ed-5944d1962f5e"}}));
    EXPECT_EQ(bearer(2), "Bearer access-2");

    const QJsonObject stored = readObject(credentialPath());
    const QJsonObject oauth = stored["claudeAiOauth"].toObject();
    EXPECT_EQ(oauth["accessToken"], "access-2");
    EXPECT_EQ(oauth["refreshToken"], "refresh-2");
    EXPECT_EQ(oauth["expiresAt"].toInteger(), now.addSecs(3600).toMSecsSinceEpoch());
    EXPECT_EQ(oauth["subscriptionType"], "max");
    EXPECT_EQ(oauth["scopes"].toArray().size(), 2);
    EXPECT_EQ(stored["mcpOAuth"].toObject()["server"], "kept");
    EXPECT_EQ(modeOf(credentialPath()), 0600);
    EXPECT_EQ(readAll(backupPath()), before);
    EXPECT_EQ(modeOf(backupPath()), 0600);
    EXPECT_FALSE(usage->lastRefreshFailure());
}

TEST_F(ClaudeOAuthUsageTest, UnrotatedRefreshKeepsTheOldRefreshTokenThroughASymlink)
{
    server.answer(consolePath, 200, tokenAnswer("access-2"));
    const QString target = folder.path() + "/elsewhere/creds.json";
    writeFile(target, credentialDocument("access-1", "refresh-1", now), ownerOnly);
    QDir().mkpath(folder.path() + "/claude");
    ASSERT_TRUE(QFile::link(target, credentialPath()));

    EXPECT_EQ(fetch(*makeUsage()).status, Status::ok(2));

    EXPECT_TRUE(QFileInfo(credentialPath()).isSymLink());
    const QJsonObject oauth = readObject(target)["claudeAiOauth"].toObject();
    EXPECT_EQ(oauth["accessToken"], "access-2");
    EXPECT_EQ(oauth["refreshToken"], "refresh-1");
    EXPECT_EQ(modeOf(target), 0600);
}

// A 400 is the answer: the second endpoint is not asked; the failure holds off refreshes for 15 minutes.
TEST_F(ClaudeOAuthUsageTest, FailedRefreshBacksOffForFifteenMinutes)
{
    server.answer(consolePath, 400, R"({"error":"invalid_grant"})");
    server.answer(platformPath, 200, tokenAnswer("access-2", "refresh-2"));
    storeCredential("access-1", "refresh-1", now);
    const QByteArray before = readAll(credentialPath());
    const auto usage = makeUsage();

    const auto first = fetch(*usage);
    EXPECT_EQ(first.status, Status::refreshFailed("HTTP 400"));
    EXPECT_EQ(first.status.label(), "token refresh failed: HTTP 400");
    EXPECT_EQ(server.count(platformPath), 0);
    EXPECT_EQ(fetch(*usage, now.addSecs(899)).status, Status::tokenExpired());
    EXPECT_EQ(tokenRequests(), 1);
    EXPECT_EQ(server.count(usagePath), 0);
    EXPECT_EQ(readAll(credentialPath()), before);

    server.answer(consolePath, 200, tokenAnswer("access-2", "refresh-2"));
    EXPECT_EQ(fetch(*usage, now.addSecs(900)).status, Status::ok(2));
    EXPECT_EQ(tokenRequests(), 2);

    // Both endpoints passing the request over: the last reason is the one reported.
    storeCredential("access-1", "refresh-1", now.addSecs(2000));
    server.answer(consolePath, 405, "no");
    server.answer(platformPath, {Server::hangUp()});
    const auto passed = fetch(*usage, now.addSecs(2000));
    EXPECT_EQ(passed.status.kind, Status::Kind::refreshFailed);
    EXPECT_NE(passed.status.text, "HTTP 405");
    EXPECT_FALSE(passed.status.text.isEmpty());

    // A fresh instance has no back-off; a token answer without "expires_in" is unusable.
    server.answer(platformPath, 200, R"({"access_token":"access-3"})");
    EXPECT_EQ(fetch(*makeUsage(), now.addSecs(2000)).status,
              Status::refreshFailed("unexpected token response"));
    EXPECT_EQ(readObject(credentialPath())["claudeAiOauth"].toObject()["accessToken"], "access-1");
}

// Without a way to store the result a refresh would spend the refresh token for nothing: none happens.
TEST_F(ClaudeOAuthUsageTest, NoRefreshWhenTheCredentialCannotBeWritten)
{
    server.answer(consolePath, 200, tokenAnswer("access-2", "refresh-2"));
    storeCredential("access-1", "refresh-1", now);
    const QByteArray before = readAll(credentialPath());
    UnwritableFolder locked(QFileInfo(credentialPath()).absolutePath());
    if (!locked.engaged())
        GTEST_SKIP() << "this machine cannot make a folder unwritable (no chattr as root)";

    EXPECT_EQ(fetch(*makeUsage()).status, Status::tokenExpired());
    EXPECT_EQ(tokenRequests(), 0);
    EXPECT_EQ(readAll(credentialPath()), before);
}

// The refresh succeeds but the store refuses the result: the new token is used from memory and written on
// the next fetch, without a second refresh.
TEST_F(ClaudeOAuthUsageTest, UnwrittenCredentialIsUsedFromMemoryAndWrittenLater)
{
    const QString credentialFolder = QFileInfo(credentialPath()).absolutePath();
    storeCredential("access-1", "refresh-1", now);
    auto locked = std::make_shared<std::unique_ptr<UnwritableFolder>>();
    server.onRequest(consolePath, [locked, credentialFolder] {
        *locked = std::make_unique<UnwritableFolder>(credentialFolder);
    });
    server.answer(consolePath, 200, tokenAnswer("access-2", "refresh-2"));
    const auto usage = makeUsage();

    EXPECT_EQ(fetch(*usage).status, Status::ok(2));
    if (!*locked || !(*locked)->engaged())
        GTEST_SKIP() << "this machine cannot make a folder unwritable (no chattr as root)";
    EXPECT_TRUE(usage->holdsUnsavedCredential());
    EXPECT_EQ(bearer(1), "Bearer access-2");
    EXPECT_EQ(readObject(credentialPath())["claudeAiOauth"].toObject()["accessToken"], "access-1");

    EXPECT_EQ(fetch(*usage, now.addSecs(60)).status, Status::ok(2));
    EXPECT_EQ(bearer(2), "Bearer access-2");
    EXPECT_TRUE(usage->holdsUnsavedCredential());

    (*locked)->release();
    EXPECT_EQ(fetch(*usage, now.addSecs(120)).status, Status::ok(2));
    EXPECT_FALSE(usage->holdsUnsavedCredential());
    EXPECT_EQ(tokenRequests(), 1);
    const QJsonObject stored = readObject(credentialPath());
    EXPECT_EQ(stored["claudeAiOauth"].toObject()["refreshToken"], "refresh-2");
    EXPECT_EQ(stored["mcpOAuth"].toObject()["server"], "kept");
}

TEST_F(ClaudeOAuthUsageTest, RateLimitBacksOffAndDoubles)
{
    storeCredential("access-1", "refresh-1", now.addSecs(86400));
    server.answer(usagePath, {Server::reply(429, "slow down", {{"Retry-After", "0"}})});
    const auto usage = makeUsage();
    const auto at = [&](qint64 seconds) { return fetch(*usage, now.addSecs(seconds)).status; };

    EXPECT_EQ(at(0), Status::httpError(429));
    EXPECT_EQ(at(299), Status::httpError(429)); // skipped; the label stays
    EXPECT_EQ(server.count(usagePath), 1);
    EXPECT_EQ(at(300), Status::httpError(429)); // sent, refused again: ten minutes now
    EXPECT_EQ(at(300 + 599), Status::httpError(429));
    EXPECT_EQ(server.count(usagePath), 2);
    server.answer(usagePath, {Server::reply(429, "slow down", {{"Retry-After", "30"}})});
    EXPECT_EQ(at(900), Status::httpError(429));
    EXPECT_EQ(usage->rateLimitedUntil(), now.addSecs(900 + 120)); // 30 s asked, third in a row
    server.answer(usagePath, 200, twoWindows);
    EXPECT_EQ(at(1020), Status::ok(2));
    EXPECT_FALSE(usage->rateLimitedUntil());
    EXPECT_EQ(server.count(usagePath), 4);
}

TEST_F(ClaudeOAuthUsageTest, OneFetchAtATimeAndOneRefreshAcrossInstances)
{
    storeCredential("access-1", "refresh-1", now);
    server.answer(consolePath, {Server::reply(200, tokenAnswer("access-2", "refresh-2"), {}, 400)});
    const auto first = makeUsage();
    const auto second = makeUsage();

    auto a = std::async(std::launch::async, [&] { return first->fetchNow(now); });
    auto b = std::async(std::launch::async, [&] { return second->fetchNow(now); });
    ASSERT_TRUE(a.get());
    ASSERT_TRUE(b.get());
    EXPECT_EQ(tokenRequests(), 1);
    EXPECT_EQ(first->lastStatus(), Status::ok(2));
    EXPECT_EQ(second->lastStatus(), Status::ok(2));

    // While one fetch runs another is skipped, and its completion still comes, empty.
    server.answer(usagePath, {Server::reply(200, twoWindows, {}, 400)});
    std::optional<qsizetype> slow, skipped;
    first->fetch(now, [&](const QList<UsageSnapshot>& s) { slow = s.size(); });
    first->fetch(now, [&](const QList<UsageSnapshot>& s) { skipped = s.size(); });
    ASSERT_TRUE(TestSupport::waitFor([&] { return slow && skipped; }));
    EXPECT_EQ(*slow, 2);
    EXPECT_EQ(*skipped, 0);
    EXPECT_EQ(server.count(usagePath), 3);
}
