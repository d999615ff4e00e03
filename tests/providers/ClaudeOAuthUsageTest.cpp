// The OAuth road against a loopback server: usage answers, token refresh and its write-back into a real
// credential file in a temporary folder.
#include "ClaudeTestSupport.h"
#include "LoopbackHttpServer.h"
#include "core/text/Zone.h"

#include "providers/HttpClient.h"
#include "providers/claude/ClaudeCredentialFile.h"
#include "providers/claude/ClaudeOAuthUsage.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QTcpServer>
#include <QTemporaryDir>

#include <future>

using namespace ClaudeTestSupport;
using namespace std::chrono_literals;
using Status = ClaudeOAuthStatus;
using Server = LoopbackHttpServer;

namespace {

const QDateTime now(QDate(2026, 6, 1), QTime(10, 0), Zone::utc());
const QByteArray usagePath = "/api/oauth/usage";
const QByteArray consolePath = "/console/v1/oauth/token";
const QByteArray platformPath = "/platform/v1/oauth/token";
const QByteArray twoWindows =
    R"({"five_hour":{"utilization":37.5,"resets_at":"2026-06-01T12:00:00.123456+00:00"},)"
    R"("seven_day":{"utilization":80},"extra_usage":{"is_enabled":true}})";

QByteArray tokenAnswer(const QString& access, const QString& refresh = {}, int expiresIn = 28800)
{
    QJsonObject answer{{"access_token", access}, {"expires_in", expiresIn}};
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
        endpoints.usageTimeout = endpoints.tokenTimeout = 1500ms;
    }

    QString credentialPath() const { return folder.path() + "/claude/.credentials.json"; }
    QString backupPath() const { return folder.path() + "/data/claude-credentials-backup.json"; }
    void storeCredential(const QString& access, const QString& refresh, const QDateTime& expiresAt)
    {
        writeFile(credentialPath(), credentialDocument(access, refresh, expiresAt), ownerOnly);
    }
    QJsonObject storedOAuth() const { return readObject(credentialPath())["claudeAiOauth"].toObject(); }
    std::unique_ptr<ClaudeOAuthUsage> makeUsage(const QString& path = {})
    {
        return std::make_unique<ClaudeOAuthUsage>(
            std::make_shared<ClaudeCredentialFile>(path.isEmpty() ? credentialPath() : path), endpoints, http,
            backupPath());
    }
    Status fetch(ClaudeOAuthUsage& usage, qint64 secondsLater = 0)
    {
        const auto result = usage.fetchNow(now.addSecs(secondsLater));
        EXPECT_TRUE(result);
        return result ? result->status : Status{};
    }
    QByteArray bearer(int request) const { return server.received().at(request).header("authorization"); }
    int tokenRequests() const { return server.count(consolePath) + server.count(platformPath); }

    QTemporaryDir folder;
    Server server;
    HttpClient http;
    ClaudeEndpoints endpoints;
};

} // namespace

TEST(ClaudeUsageAnswerTest, ReadsWindowsWhereverTheAnswerPutsThem)
{
    using W = WindowKind;
    const QDateTime noon(QDate(2026, 6, 1), QTime(12, 0), Zone::utc());
    const struct
    {
        QByteArray answer;
        QList<std::tuple<W, double, QString, std::optional<QDateTime>>> expected; // kind, used, name, reset
    } rows[] = {
        {twoWindows,
         {{W::fiveHour, 37.5, "fiveHour", noon.addMSecs(123)}, {W::sevenDay, 80, "sevenDay", {}}}},
        {R"({"limits":{"current_session":{"used_percentage":37.5,"resets_at":"2026-06-01T14:00:00+02:00"},)"
         R"("weekly":{"percent_used":80,"resets_at":1780315200}}})",
         {{W::fiveHour, 37.5, "fiveHour", noon}, {W::sevenDay, 80, "sevenDay", noon}}},
        {R"({"five_hour":{"utilization":104,"resets_at":1780315200000},"seven_day":{"utilization":-3,"resets_at":"x"}})",
         {{W::fiveHour, 100, "fiveHour", noon}, {W::sevenDay, 0, "sevenDay", {}}}},
        {R"({"five_hour":{"utilization":"50"}})", {}},
        {R"({"seven_day_sonnet":{"used_pct":12}})", {{W::weekly, 12, "Sonnet 7d", {}}}},
        {R"({"hourly":{"utilization":5},"x":{"y":{"utilization":1}}})", {}},
        {R"({"five_hour":{"utilization":1},"session":{"utilization":2}})",
         {{W::fiveHour, 1, "fiveHour", {}}}},
    };
    for (const auto& row : rows) {
        const QList<UsageSnapshot> got =
            ClaudeUsageAnswer::snapshots(QJsonDocument::fromJson(row.answer).object(), now);
        ASSERT_EQ(got.size(), row.expected.size()) << row.answer.constData();
        for (qsizetype i = 0; i < got.size(); ++i) {
            const auto& [kind, used, limitName, reset] = row.expected[i];
            EXPECT_EQ(
                std::tuple(got[i].windowKind, got[i].usedPercent, got[i].remainingPercent, got[i].limitName,
                           got[i].resetAt, got[i].source, got[i].timestamp),
                std::tuple(kind, used, 100 - used, std::optional(limitName), reset, "claude.oauth", now))
                << row.answer.constData();
        }
    }
}

TEST(ClaudeEndpointsTest, EnvironmentOverridesOnlyWithWebUrlsAndPrintableAgents)
{
    QProcessEnvironment environment;
    environment.insert("TALLYVANE_CLAUDE_API_URL", "http://127.0.0.1:8123/ignored/path");
    // Plain http would carry the tokens in clear: only to this machine's loopback addresses.
    environment.insert("TALLYVANE_CLAUDE_TOKEN_URLS",
                       " http://127.0.0.1:1/a  ftp://x/b http://[::1]:2/b "
                       "http://example.com/c http://10.0.0.1/d https://example.com/e "
                       "http://127.0.0.1.evil.example/f http://localhost:3/g");
    environment.insert("TALLYVANE_CLAUDE_USER_AGENT", "claude-code/9.9");
    environment.insert("TALLYVANE_CLAUDE_CLIENT_ID", " 00000000-1111-2222-3333-444444444444 ");
    ClaudeEndpoints endpoints = ClaudeEndpoints::fromEnvironment(environment);
    EXPECT_EQ(endpoints.usageUrl.toString(), "http://127.0.0.1:8123/api/oauth/usage");
    EXPECT_EQ(endpoints.tokenUrls,
              (QList<QUrl>{QUrl("http://127.0.0.1:1/a"), QUrl("http://[::1]:2/b"),
                           QUrl("https://example.com/e"), QUrl("http://localhost:3/g")}));
    EXPECT_EQ(endpoints.userAgent, "claude-code/9.9");
    EXPECT_EQ(endpoints.clientId, "00000000-1111-2222-3333-444444444444");

    for (const char* url : {"not a url", "http://api.example.com"}) {
        environment.insert("TALLYVANE_CLAUDE_API_URL", url);
        EXPECT_EQ(ClaudeEndpoints::fromEnvironment(environment).usageUrl.toString(),
                  "https://api.anthropic.com/api/oauth/usage")
            << url;
    }
    environment.insert("TALLYVANE_CLAUDE_USER_AGENT", "evil\r\nX-Injected: 1");
    environment.insert("TALLYVANE_CLAUDE_CLIENT_ID", "a\",\"scope\":\"x");
    endpoints = ClaudeEndpoints::fromEnvironment(environment);
    EXPECT_EQ(endpoints.usageUrl.toString(), "https://api.anthropic.com/api/oauth/usage");
    EXPECT_EQ(endpoints.userAgent, "claude-code/2.1");
    EXPECT_EQ(endpoints.clientId, "9d1c250a-e61b-44d9-88ed-5944d1962f5e");
}

TEST_F(ClaudeOAuthUsageTest, FetchSendsClaudeCodesHeadersAndReadsTheWindows)
{
    storeCredential("access-1", "refresh-1", now.addSecs(3600));
    const auto usage = makeUsage();
    const auto result = usage->fetchNow(now);

    ASSERT_TRUE(result);
    EXPECT_EQ(result->status.label(), "ok (2 windows)");
    EXPECT_EQ(result->snapshots.size(), 2);
    EXPECT_EQ(usage->lastStatus(), Status::ok(2));
    EXPECT_TRUE(usage->lastExtra() && usage->lastExtra()->enabled);
    const auto sent = server.received().front();
    EXPECT_EQ(sent.method, "GET");
    EXPECT_EQ(sent.header("authorization"), "Bearer access-1");
    EXPECT_EQ(sent.header("anthropic-beta"), "oauth-2025-04-20");
    EXPECT_EQ(sent.header("user-agent"), "claude-code/2.1");
}

TEST_F(ClaudeOAuthUsageTest, FailuresBecomeStatuses)
{
    const struct
    {
        Server::Answer answer;
        QString label;
    } rows[] = {
        {Server::reply(401, R"({"error":"unauthorized"})"), "HTTP 401"},
        {Server::reply(200, "<html>"), "unrecognised response shape"},
        {Server::reply(200, R"({"hourly":{"utilization":3}})"), "unrecognised response shape"},
        {Server::reply(200, twoWindows, {}, 4000), "network: timed out"},
    };
    storeCredential("access-1", "refresh-1", now.addSecs(3600));
    const auto usage = makeUsage();
    for (const auto& row : rows) {
        server.answer(usagePath, {row.answer});
        const auto result = usage->fetchNow(now);
        EXPECT_EQ(result->status.label(), row.label);
        EXPECT_TRUE(result->snapshots.isEmpty()) << row.label.toStdString();
    }
    EXPECT_EQ(tokenRequests(), 0); // a 401 is reported, never answered with a refresh
    EXPECT_EQ(fetch(*makeUsage(folder.path() + "/absent.json")), Status::noCredential());
}

TEST_F(ClaudeOAuthUsageTest, RefreshesOnlyWithinTheExpiryMargin)
{
    server.answer(consolePath, 200, tokenAnswer("access-2", "refresh-2"));
    storeCredential("access-1", "refresh-1", now.addSecs(61));
    EXPECT_EQ(fetch(*makeUsage()), Status::ok(2));
    EXPECT_EQ(tokenRequests(), 0);

    storeCredential("access-1", "refresh-1", now.addSecs(59));
    EXPECT_EQ(fetch(*makeUsage()), Status::ok(2));
    EXPECT_EQ(tokenRequests(), 1);
    EXPECT_EQ(bearer(2), "Bearer access-2");
}

TEST_F(ClaudeOAuthUsageTest, RefreshWritesBackOnlyTheTokensAndKeepsABackup)
{
    server.answer(consolePath, 404, "gone");
    server.answer(platformPath, 200, tokenAnswer("access-2", "refresh-2", 3600));
    storeCredential("access-1", "refresh-1", now.addSecs(-10));
    const QByteArray before = readFile(credentialPath());

    EXPECT_EQ(fetch(*makeUsage()), Status::ok(2));

    const auto tokenRequest = server.received().at(1);
    EXPECT_EQ(tokenRequest.path, platformPath);
    EXPECT_EQ(tokenRequest.header("user-agent"), "claude-code/2.1");
    EXPECT_EQ(QJsonDocument::fromJson(tokenRequest.body).object(),
              (QJsonObject{{"grant_type", "refresh_token"},
                           {"refresh_token", "refresh-1"},
                           {"client_id", "9d1c250a-e61b-44d9-88ed-5944d1962f5e"}}));
    EXPECT_EQ(bearer(2), "Bearer access-2");
    const QJsonObject oauth = storedOAuth();
    EXPECT_EQ(oauth["accessToken"], "access-2");
    EXPECT_EQ(oauth["refreshToken"], "refresh-2");
    EXPECT_EQ(oauth["expiresAt"].toInteger(), now.addSecs(3600).toMSecsSinceEpoch());
    EXPECT_EQ(oauth["subscriptionType"], "max");
    EXPECT_EQ(readObject(credentialPath())["mcpOAuth"].toObject()["server"], "kept");
    EXPECT_EQ(modeOf(credentialPath()), 0600);
    EXPECT_EQ(readFile(backupPath()), before);
    EXPECT_EQ(modeOf(backupPath()), 0600);
}

TEST_F(ClaudeOAuthUsageTest, UnrotatedRefreshKeepsTheOldRefreshTokenThroughASymlink)
{
    server.answer(consolePath, 200, tokenAnswer("access-2"));
    const QString target = folder.path() + "/elsewhere/creds.json";
    writeFile(target, credentialDocument("access-1", "refresh-1", now), ownerOnly);
    QDir().mkpath(folder.path() + "/claude");
    ASSERT_TRUE(QFile::link(target, credentialPath()));

    EXPECT_EQ(fetch(*makeUsage()), Status::ok(2));
    EXPECT_TRUE(QFileInfo(credentialPath()).isSymLink());
    EXPECT_EQ(storedOAuth()["accessToken"], "access-2");
    EXPECT_EQ(storedOAuth()["refreshToken"], "refresh-1");
    EXPECT_EQ(modeOf(target), 0600);
}

// A 400 is the answer (the second endpoint is not asked); a failure holds off refreshes for 15 minutes.
TEST_F(ClaudeOAuthUsageTest, FailedRefreshBacksOffForFifteenMinutes)
{
    server.answer(consolePath, 400, R"({"error":"invalid_grant"})");
    storeCredential("access-1", "refresh-1", now);
    const QByteArray before = readFile(credentialPath());
    const auto usage = makeUsage();

    EXPECT_EQ(fetch(*usage).label(), "token refresh failed: HTTP 400");
    EXPECT_EQ(fetch(*usage, 899), Status::tokenExpired());
    EXPECT_EQ(tokenRequests(), 1);
    EXPECT_EQ(server.count(usagePath), 0);
    EXPECT_EQ(readFile(credentialPath()), before);

    server.answer(consolePath, 405, "no");
    server.answer(platformPath, 200, R"({"access_token":"access-3"})"); // no lifetime: unusable
    EXPECT_EQ(fetch(*usage, 900), Status::refreshFailed("unexpected token response"));
    EXPECT_EQ(tokenRequests(), 3);
    // Expired on arrival, or within the refresh margin: refreshed again on every fetch if it were taken.
    server.answer(platformPath, 200, tokenAnswer("access-4", {}, 60));
    EXPECT_EQ(fetch(*usage, 1800), Status::refreshFailed("unexpected token response"));
    EXPECT_EQ(fetch(*usage, 2699), Status::tokenExpired());
    EXPECT_EQ(tokenRequests(), 5);
    EXPECT_EQ(readFile(credentialPath()), before);
}

// The old refresh token is spent once the endpoint rotates it: the new one is kept from any answer, also one
// whose optional "expires_in" is missing or unusable, and the access token is then taken as already due.
TEST_F(ClaudeOAuthUsageTest, ARotatedRefreshTokenIsKeptWhateverTheRestOfTheAnswer)
{
    const struct
    {
        QByteArray answer;
        QString access;
        qint64 expiresAtSeconds; // after now
    } rows[] = {
        {R"({"access_token":"access-2","refresh_token":"refresh-2"})", "access-2", 0},
        {R"({"access_token":"access-2","refresh_token":"refresh-2","expires_in":"3600"})", "access-2", 0},
        {R"({"access_token":"access-2","refresh_token":"refresh-2","expires_in":-5})", "access-2", 0},
        {R"({"access_token":"access-2","refresh_token":"refresh-2","expires_in":60})", "access-2", 60},
        {R"({"refresh_token":"refresh-2"})", "access-1", -10},
    };
    for (const auto& row : rows) {
        storeCredential("access-1", "refresh-1", now.addSecs(-10));
        server.answer(consolePath, 200, row.answer);
        EXPECT_EQ(fetch(*makeUsage()), Status::refreshFailed("unexpected token response"))
            << row.answer.constData();
        const QJsonObject oauth = storedOAuth();
        EXPECT_EQ(std::tuple(oauth["refreshToken"].toString(), oauth["accessToken"].toString(),
                             oauth["expiresAt"].toInteger()),
                  std::tuple(QString("refresh-2"), row.access,
                             now.addSecs(row.expiresAtSeconds).toMSecsSinceEpoch()))
            << row.answer.constData();
    }
    EXPECT_EQ(server.count(usagePath), 0);
}

// Only an answer that no endpoint took the token (a refused connection, 404, 405, a redirect) sends it to the
// second one: after a time-out, a hang-up or any other answer the first may have spent it.
TEST_F(ClaudeOAuthUsageTest, OnlyATokenTheFirstEndpointProvablyDidNotTakeGoesToTheSecond)
{
    QTcpServer closed; // a port that was open a moment ago and now refuses
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const QUrl refusing(QStringLiteral("http://127.0.0.1:%1/token").arg(closed.serverPort()));
    closed.close();
    const struct
    {
        std::optional<Server::Answer> first; // none: refused
        Status status;
    } rows[] = {
        {Server::reply(200, tokenAnswer("access-2", "refresh-2"), {}, 4000),
         Status::refreshFailed("timed out")},
        {Server::hangUp(), Status::refreshFailed("connection closed without an answer")},
        {Server::reply(502, {}), Status::refreshFailed("HTTP 502")},
        {Server::reply(200, {}), Status::refreshFailed("unexpected token response")},
        {std::nullopt, Status::ok(2)},
        {Server::reply(404, "gone"), Status::ok(2)},
        {Server::reply(308, "moved", {{"Location", "https://example.com/token"}}), Status::ok(2)},
    };
    server.answer(platformPath, 200, tokenAnswer("access-3", "refresh-3"));
    for (const auto& row : rows) {
        storeCredential("access-1", "refresh-1", now);
        endpoints.tokenUrls.front() = refusing;
        if (row.first) {
            server.answer(consolePath, {*row.first});
            endpoints.tokenUrls.front() = QUrl(QString::fromLatin1(server.url(consolePath)));
        }
        const int second = server.count(platformPath);
        EXPECT_EQ(fetch(*makeUsage()), row.status) << row.status.label().toStdString();
        const bool reached = row.status == Status::ok(2);
        EXPECT_EQ(server.count(platformPath) - second, reached ? 1 : 0) << row.status.label().toStdString();
        EXPECT_EQ(storedOAuth()["refreshToken"], reached ? "refresh-3" : "refresh-1");
    }
}

// A refresh spends the old token once sent: none goes out when its answer could not be stored, nor once the
// process is ending (it would end before the answer is written back).
TEST_F(ClaudeOAuthUsageTest, NoRefreshWhenItsAnswerCouldNotBeKept)
{
    server.answer(consolePath, 200, tokenAnswer("access-2", "refresh-2"));
    storeCredential("access-1", "refresh-1", now);
    const auto ending = makeUsage();
    ending->endRefreshes(0ms);
    EXPECT_EQ(fetch(*ending), Status::tokenExpired());
    EXPECT_EQ(tokenRequests(), 0);

    UnwritableFolder locked(QFileInfo(credentialPath()).absolutePath());
    SKIP_UNLESS_ENGAGED(locked);
    EXPECT_EQ(fetch(*makeUsage()), Status::tokenExpired());
    EXPECT_EQ(tokenRequests(), 0);
}

// The store refuses the result only after the refresh: the new token is used from memory and written on a
// later fetch, without a second refresh.
TEST_F(ClaudeOAuthUsageTest, UnwrittenCredentialIsUsedFromMemoryAndWrittenLater)
{
    storeCredential("access-1", "refresh-1", now);
    auto locked = std::make_shared<std::unique_ptr<UnwritableFolder>>();
    server.onRequest(consolePath, [locked, path = QFileInfo(credentialPath()).absolutePath()] {
        *locked = std::make_unique<UnwritableFolder>(path);
    });
    server.answer(consolePath, 200, tokenAnswer("access-2", "refresh-2"));
    const auto usage = makeUsage();

    EXPECT_EQ(fetch(*usage), Status::ok(2));
    ASSERT_TRUE(*locked);
    SKIP_UNLESS_ENGAGED(**locked);
    EXPECT_EQ(bearer(1), "Bearer access-2");
    EXPECT_EQ(storedOAuth()["accessToken"], "access-1");
    EXPECT_EQ(fetch(*usage, 60), Status::ok(2));
    EXPECT_EQ(bearer(2), "Bearer access-2");
    EXPECT_TRUE(usage->holdsUnsavedCredential());

    (*locked)->release();
    EXPECT_EQ(fetch(*usage, 120), Status::ok(2));
    EXPECT_FALSE(usage->holdsUnsavedCredential());
    EXPECT_EQ(tokenRequests(), 1);
    EXPECT_EQ(storedOAuth()["refreshToken"], "refresh-2");
    EXPECT_EQ(readObject(credentialPath())["mcpOAuth"].toObject()["server"], "kept");
}

// A full disk: the file looks writable, but every write fails.
class FullDiskStore : public ClaudeCredentialFile
{
public:
    using ClaudeCredentialFile::ClaudeCredentialFile;
    bool write(const QByteArray& document, QString* error) override
    {
        return !full && ClaudeCredentialFile::write(document, error);
    }
    bool full = true;
};

// A second refresh while the first result is unsaved, a moment without the file, and a restart: the newest
// credential survives them all and reaches the file once it can be written.
TEST_F(ClaudeOAuthUsageTest, UnsavedCredentialSurvivesASecondRefreshAMissingFileAndARestart)
{
    storeCredential("access-1", "refresh-1", now);
    server.answer(consolePath, {Server::reply(200, tokenAnswer("access-2", "refresh-2", 3600)),
                                Server::reply(200, tokenAnswer("access-3", "refresh-3", 3600))});
    const auto disk = std::make_shared<FullDiskStore>(credentialPath());
    auto usage = std::make_unique<ClaudeOAuthUsage>(disk, endpoints, http, backupPath());
    const QString kept = folder.path() + "/data/claude-credentials-unsaved.json";

    EXPECT_EQ(fetch(*usage), Status::ok(2));
    EXPECT_EQ(fetch(*usage, 3600), Status::ok(2)); // access-2 expired: refreshed with refresh-2
    EXPECT_EQ(fetch(*usage, 3660), Status::ok(2)); // no third refresh
    const QByteArray stored = readFile(credentialPath());
    QFile::remove(credentialPath());
    EXPECT_EQ(fetch(*usage, 3720), Status::ok(2));
    writeFile(credentialPath(), stored, ownerOnly);
    EXPECT_EQ(modeOf(kept), 0600);

    usage = makeUsage();
    EXPECT_EQ(fetch(*usage, 3780), Status::ok(2));
    QStringList spent;
    for (const auto& request : server.received())
        if (request.path != usagePath)
            spent.append(QJsonDocument::fromJson(request.body).object().value("refresh_token").toString());
    EXPECT_EQ(spent, (QStringList{"refresh-1", "refresh-2"}));
    for (int request : {3, 4, 5, 6})
        EXPECT_EQ(bearer(request), "Bearer access-3") << request;
    EXPECT_EQ(storedOAuth()["refreshToken"], "refresh-3");
    EXPECT_FALSE(QFile::exists(kept));
}

TEST_F(ClaudeOAuthUsageTest, RateLimitBacksOffAndDoubles)
{
    storeCredential("access-1", "refresh-1", now.addSecs(86400));
    server.answer(usagePath, {Server::reply(429, "slow down", {{"Retry-After", "0"}})});
    const auto usage = makeUsage();

    EXPECT_EQ(fetch(*usage), Status::httpError(429));
    EXPECT_EQ(fetch(*usage, 299), Status::httpError(429)); // skipped; the label stays
    EXPECT_EQ(fetch(*usage, 300), Status::httpError(429)); // sent, refused again: ten minutes now
    EXPECT_EQ(fetch(*usage, 300 + 599), Status::httpError(429));
    EXPECT_EQ(server.count(usagePath), 2);
    server.answer(usagePath, {Server::reply(429, "slow down", {{"Retry-After", "30"}})});
    EXPECT_EQ(fetch(*usage, 900), Status::httpError(429));
    EXPECT_EQ(usage->rateLimitedUntil(), now.addSecs(900 + 120)); // 30 s asked, third in a row
    server.answer(usagePath, 200, twoWindows);
    EXPECT_EQ(fetch(*usage, 1020), Status::ok(2));
    EXPECT_FALSE(usage->rateLimitedUntil());
    // A server asking for a hundred years, in seconds or as a date, is heard for an hour at most.
    for (const QByteArray& century :
         {QByteArray("3155760000"), QByteArray("Tue, 01 Jan 2126 00:00:00 GMT")}) {
        server.answer(usagePath, {Server::reply(429, "slow down", {{"Retry-After", century}})});
        const qint64 at = usage->rateLimitedUntil() ? now.secsTo(*usage->rateLimitedUntil()) : 1020;
        EXPECT_EQ(fetch(*usage, at), Status::httpError(429));
        EXPECT_EQ(usage->rateLimitedUntil(), now.addSecs(at + 3600)) << century.constData();
    }
}

TEST_F(ClaudeOAuthUsageTest, OneFetchAtATimeAndOneRefreshAcrossInstances)
{
    storeCredential("access-1", "refresh-1", now);
    server.answer(consolePath, {Server::reply(200, tokenAnswer("access-2", "refresh-2"), {}, 400)});
    const auto first = makeUsage();
    const auto second = makeUsage();
    auto a = std::async(std::launch::async, [&] { return first->fetchNow(now); });
    auto b = std::async(std::launch::async, [&] { return second->fetchNow(now); });
    EXPECT_EQ(a.get()->status, Status::ok(2));
    EXPECT_EQ(b.get()->status, Status::ok(2));
    EXPECT_EQ(tokenRequests(), 1);

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
