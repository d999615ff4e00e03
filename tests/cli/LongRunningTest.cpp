#include "CliProcess.h"
#include "core/text/SnapshotLineDecoder.h"
#include "core/text/Zone.h"
#include "providers/AccountFolders.h"

#include "providers/ClaudeTestSupport.h"
#include "providers/LoopbackHttpServer.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <cmath>
#include <csignal>

using namespace CliTest;

namespace {

UsageSnapshot fiveHour(Provider provider, const QDateTime& at, double used)
{
    return TestSupport::reading(provider, WindowKind::fiveHour, at, used, at.addSecs(7'200));
}

void startHeadless(QProcess& process, const QProcessEnvironment& env)
{
    process.setProcessEnvironment(env);
    process.start(binary(), {QStringLiteral("--headless")});
}

// The home's environment with Claude's endpoints on the loopback server and a credential that expires at
// `expiresAt`.
QProcessEnvironment withClaude(const Home& home, const LoopbackHttpServer& server, const QDateTime& expiresAt,
                               const QString& access = QStringLiteral("sk-ant-oat01-test"),
                               const QString& refresh = QStringLiteral("sk-ant-ort01-test"))
{
    ClaudeTestSupport::writeFile(home.path() + "/.claude/.credentials.json",
                                 ClaudeTestSupport::credentialDocument(access, refresh, expiresAt),
                                 ClaudeTestSupport::ownerOnly);
    QProcessEnvironment env = home.environment();
    env.insert(QStringLiteral("TALLYVANE_CLAUDE_API_URL"), QString::fromLatin1(server.base()));
    env.insert(QStringLiteral("TALLYVANE_CLAUDE_TOKEN_URLS"),
               QString::fromLatin1(server.url("/v1/oauth/token")));
    return env;
}

TEST(StatusWatch, PrintsANewLineWhenTheLogChanges)
{
    Home home;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    home.writeLog({fiveHour(Provider::codex, now.addSecs(-600), 20)});
    const QStringList before = home.listing();

    QProcess process;
    process.setProcessEnvironment(home.environment());
    process.start(binary(),
                  {QStringLiteral("status"), QStringLiteral("--watch"), QStringLiteral("--waybar")});
    const auto first = nextLine(process, 10'000);
    ASSERT_TRUE(first.has_value());
    // What is left, as the title shows it by default.
    EXPECT_EQ(QJsonDocument::fromJson(first->toUtf8()).object().value("percentage").toInt(), 80)
        << first->toStdString();

    home.writeLog({fiveHour(Provider::codex, QDateTime::currentDateTimeUtc(), 40)});
    const auto second = nextLine(process, 10'000);
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(QJsonDocument::fromJson(second->toUtf8()).object().value("percentage").toInt(), 60)
        << second->toStdString();

    process.terminate();
    ASSERT_TRUE(process.waitForFinished(5'000));
    // Watching wrote nothing either: only the log changed, by the test's own append.
    const auto withoutLog = [](QStringList entries) {
        entries.removeIf([](const QString& e) { return e.contains(QStringLiteral("snapshots.ndjson ")); });
        return entries;
    };
    EXPECT_EQ(withoutLog(home.listing()), withoutLog(before));
}

// `head` leaves after the first line: the watcher ends at once with status 0, not at its next write (the
// heartbeat, 30 seconds on) and not by SIGPIPE. Its status comes out on standard error.
TEST(StatusWatch, EndsWithStatusZeroOnceItsReaderIsGone)
{
    Home home;
    home.writeLog({fiveHour(Provider::codex, QDateTime::currentDateTimeUtc().addSecs(-600), 20)});
    for (const char* format : {"--waybar", "--json"}) {
        QProcess pipeline;
        pipeline.setProcessEnvironment(home.environment());
        pipeline.start(
            QStringLiteral("/bin/sh"),
            {QStringLiteral("-c"),
             QStringLiteral("(\"$0\" status --watch \"$1\"; echo \"watch ended: $?\" >&2) | head -n 1"),
             binary(), QString::fromLatin1(format)});
        ASSERT_TRUE(nextLine(pipeline, 10'000).has_value()) << format;
        QElapsedTimer sinceFirstLine;
        sinceFirstLine.start();
        ASSERT_TRUE(pipeline.waitForFinished(10'000)) << format;
        EXPECT_LT(sinceFirstLine.elapsed(), 1'500) << format;
        EXPECT_EQ(pipeline.readAllStandardError(), QByteArray("watch ended: 0\n")) << format;
    }
}

struct SignalCase
{
    const char* name;
    int signal;
};

class HeadlessTest : public ::testing::TestWithParam<SignalCase>
{};

TEST_P(HeadlessTest, RunsUntilSignalledAndSavesThePendingSettings)
{
    Home home;
    // An exhausted Codex window draws the automatic focus away from the default (Claude), so the first cycle
    // schedules a settings save that is still pending when the signal arrives.
    home.writeLog({fiveHour(Provider::codex, QDateTime::currentDateTimeUtc(), 100)});

    QProcess process;
    startHeadless(process, home.environment());
    const auto line = nextLine(process, 10'000);
    ASSERT_TRUE(line.has_value()) << process.readAllStandardError().toStdString();
    // A local time stamp (TZ is UTC here) and the providers' names.
    const QDateTime read = QDateTime::fromString(line->left(19), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    const QDateTime stamp(read.date(), read.time(), Zone::utc());
    EXPECT_LE(std::abs(stamp.secsTo(QDateTime::currentDateTimeUtc())), 10) << line->toStdString();
    EXPECT_EQ(line->mid(19), QStringLiteral("  Limited | Codex 0% left")) << line->toStdString();

    ::kill(pid_t(process.processId()), GetParam().signal);
    ASSERT_TRUE(process.waitForFinished(5'000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);

    const std::optional<AppSettings> saved =
        SettingsStore::decode(TestSupport::readFile(home.file(QStringLiteral("settings.json"))));
    ASSERT_TRUE(saved.has_value());
    EXPECT_EQ(saved->focusedProvider, Provider::codex);
    EXPECT_EQ(saved->focusedWindow, WindowKind::fiveHour);
}

INSTANTIATE_TEST_SUITE_P(Signals, HeadlessTest,
                         ::testing::Values(SignalCase{"Interrupt", SIGINT}, SignalCase{"Terminate", SIGTERM},
                                           SignalCase{"HangUp", SIGHUP}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(HeadlessInstance, ASecondHeadlessStartLeavesTheFirstAlone)
{
    Home home;
    home.writeLog({fiveHour(Provider::codex, QDateTime::currentDateTimeUtc(), 30)});
    QProcess first;
    startHeadless(first, home.environment());
    ASSERT_TRUE(nextLine(first, 10'000).has_value()) << first.readAllStandardError().toStdString();

    QProcess second;
    startHeadless(second, home.environment());
    ASSERT_TRUE(second.waitForFinished(5'000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(second.readAllStandardError().contains("already running"));
    EXPECT_TRUE(second.readAllStandardOutput().isEmpty());
    EXPECT_EQ(first.state(), QProcess::Running);

    first.terminate();
    ASSERT_TRUE(first.waitForFinished(5'000));
    EXPECT_EQ(first.exitCode(), 0);
}

// Two Tallyvanes of one user that do not find each other's socket (another runtime folder, as a login without
// a session manager has) still run one set of providers: one OAuth poller, and the other takes over when the
// first has gone.
TEST(HeadlessInstance, OnlyTheCollectorLockHolderRunsProviders)
{
    Home home;
    LoopbackHttpServer server;
    const QByteArray resets = QDateTime::currentDateTimeUtc().addSecs(7'200).toString(Qt::ISODate).toLatin1();
    server.answer("/api/oauth/usage", {LoopbackHttpServer::reply(200, R"({"five_hour":{"utilization":20,)"
                                                                      R"("resets_at":")" +
                                                                          resets + R"("}})")});
    const QProcessEnvironment claude = withClaude(home, server, QDateTime::currentDateTimeUtc().addDays(1));
    const auto start = [&](QProcess& process, const QTemporaryDir& runtime) {
        QProcessEnvironment env = claude;
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        startHeadless(process, env);
    };
    const auto fetches = [&] { return server.received().size(); };
    const QTemporaryDir firstRuntime;
    const QTemporaryDir secondRuntime;

    QProcess first;
    start(first, firstRuntime);
    ASSERT_TRUE(TestSupport::waitFor([&] { return fetches() == 1; }, 20'000))
        << first.readAllStandardError().toStdString();
    QProcess second;
    start(second, secondRuntime);
    ASSERT_TRUE(nextLine(second, 10'000).has_value()) << second.readAllStandardError().toStdString();
    // A start fetches at once: a second poller would have asked by now.
    QThread::msleep(2'000);
    EXPECT_EQ(fetches(), 1);
    EXPECT_EQ(second.state(), QProcess::Running);

    first.terminate();
    ASSERT_TRUE(first.waitForFinished(5'000));
    EXPECT_TRUE(TestSupport::waitFor([&] { return fetches() == 2; }, 15'000));
    second.terminate();
    ASSERT_TRUE(second.waitForFinished(5'000));
}

// Each Claude folder signed in to its own account is read with its own credential and keeps its readings
// apart under a key; a folder signed in to an account already read is not polled a second time.
TEST(HeadlessAccounts, EachClaudeAccountIsReadWithItsOwnCredentialOnce)
{
    Home home;
    LoopbackHttpServer server;
    const QDateTime resets = QDateTime::currentDateTimeUtc().addSecs(7'200);
    const auto usage = [&](int used) {
        return LoopbackHttpServer::reply(200, R"({"five_hour":{"utilization":)" + QByteArray::number(used) +
                                                  R"(,"resets_at":")" +
                                                  resets.toString(Qt::ISODate).toLatin1() + R"("}})");
    };
    const QString h = home.path();
    const struct
    {
        QString folder, config, uuid, token;
        int used;
    } folders[] = {
        {h + "/.claude", h + "/.claude.json", "uuid-personal", "sk-ant-oat01-personal", 20},
        {h + "/.claude-work", h + "/.claude-work/.claude.json", "uuid-work", "sk-ant-oat01-work", 70},
        {h + "/.claude-again", h + "/.claude-again/.claude.json", "uuid-personal", "sk-ant-oat01-again", 99}};
    for (const auto& f : folders) {
        ClaudeTestSupport::writeFile(
            f.folder + "/.credentials.json",
            ClaudeTestSupport::credentialDocument(f.token, "sk-ant-ort01-" + f.token, resets.addDays(1)),
            ClaudeTestSupport::ownerOnly);
        ClaudeTestSupport::writeFile(
            f.config, QJsonDocument(QJsonObject{{"oauthAccount",
                                                 QJsonObject{{"accountUuid", f.uuid},
                                                             {"emailAddress", f.uuid + "@example.com"}}}})
                          .toJson());
        server.answerFor("/api/oauth/usage", "Bearer " + f.token.toLatin1(), usage(f.used));
    }
    QProcessEnvironment env = home.environment();
    env.insert(QStringLiteral("TALLYVANE_CLAUDE_API_URL"), QString::fromLatin1(server.base()));
    QProcess collector;
    startHeadless(collector, env);
    const auto stored = [&] {
        QList<UsageSnapshot> log = SnapshotLineDecoder::decodeLines(
            TestSupport::readFile(home.file(QStringLiteral("snapshots.ndjson"))));
        return log;
    };
    ASSERT_TRUE(TestSupport::waitFor([&] { return stored().size() >= 2; }, 20'000))
        << collector.readAllStandardError().toStdString();
    QThread::msleep(1'000);
    collector.terminate();
    ASSERT_TRUE(collector.waitForFinished(5'000));

    const QList<UsageSnapshot> log = stored();
    ASSERT_EQ(log.size(), 2);
    const auto personal = std::find_if(log.begin(), log.end(), [](const auto& s) { return !s.account; });
    const auto work = std::find_if(log.begin(), log.end(), [](const auto& s) { return bool(s.account); });
    ASSERT_NE(personal, log.end());
    ASSERT_NE(work, log.end());
    EXPECT_EQ(personal->usedPercent, 20);
    EXPECT_EQ(work->usedPercent, 70);
    EXPECT_TRUE(QRegularExpression("^[0-9a-f]{8}$").match(*work->account).hasMatch());
    const QByteArray bytes = TestSupport::readFile(home.file(QStringLiteral("snapshots.ndjson")));
    EXPECT_FALSE(bytes.contains("uuid-") || bytes.contains("@example.com")) << bytes.toStdString();
    EXPECT_EQ(bytes.count("\"account\""), 1);
    for (const auto& request : server.received())
        EXPECT_NE(request.header("authorization"), "Bearer sk-ant-oat01-again");

    // The default account's forecast reads its own readings only.
    const ProcessResult status = run(home, {QStringLiteral("status"), QStringLiteral("--json")});
    ASSERT_EQ(status.exitCode, 0) << status.err.toStdString();
    const QJsonArray forecasts =
        QJsonDocument::fromJson(status.out.toUtf8()).object().value("forecasts").toArray();
    const auto claude = std::find_if(forecasts.begin(), forecasts.end(), [](const QJsonValue& f) {
        return f.toObject().value("id").toString() == QStringLiteral("claude-fiveHour");
    });
    ASSERT_NE(claude, forecasts.end()) << status.out.toStdString();
    EXPECT_EQ(claude->toObject().value("currentUsedPercent").toDouble(), 20);
    EXPECT_FALSE(claude->toObject().contains("account"));
    // The other account's window follows, named; and with two accounts, the list of them.
    const QJsonObject last = forecasts.last().toObject();
    EXPECT_EQ(std::tuple(last.value("id").toString(), last.value("account").toString(),
                         last.value("accountLabel").toString(), last.value("currentUsedPercent").toDouble()),
              std::tuple(QStringLiteral("claude-fiveHour"), *work->account, QStringLiteral("work"), 70.0));
    const QJsonArray accounts =
        QJsonDocument::fromJson(status.out.toUtf8()).object().value("accounts").toArray();
    ASSERT_EQ(accounts.size(), 2) << status.out.toStdString();
    EXPECT_EQ(accounts[0].toObject(),
              (QJsonObject{{"provider", "claude"},
                           {"key", AccountFolders::key(Provider::claude, "uuid-personal")},
                           {"label", "uuid-personal"},
                           {"default", true},
                           {"folder", h + "/.claude"},
                           {"health", "ok, read <1m ago"}}));
    EXPECT_EQ(accounts[1].toObject().value("folder").toString(), h + "/.claude-work");
    EXPECT_EQ(accounts[1].toObject().value("health").toString(), "ok, read <1m ago");
    // The text names it as the panel's card does, after the default account's rows.
    QProcessEnvironment utf8 = home.environment();
    utf8.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    const QStringList text =
        runProgram(binary(), {QStringLiteral("status")}, utf8).out.split(QLatin1Char('\n'));
    const auto workLine = std::find_if(text.begin(), text.end(), [](const QString& line) {
        return line.startsWith(QStringLiteral("Claude Code \u00b7 work 5h: 30% left"));
    });
    ASSERT_NE(workLine, text.end()) << text.join('\n').toStdString();
    EXPECT_TRUE(std::any_of(text.begin(), workLine, [](const QString& line) {
        return line.startsWith(QStringLiteral("Claude Code 5h: 80% left"));
    })) << text.join('\n').toStdString();
}

// Two fetches of the same usage answer, as the service sends it (reset times with a fraction of a second that
// the log's whole seconds drop), store each window once.
TEST(HeadlessOAuth, TheSameUsageAnswerFetchedAgainIsNotStoredAgain)
{
    Home home;
    LoopbackHttpServer server;
    const QDateTime resets = QDateTime::currentDateTimeUtc().addSecs(7'200);
    const auto answer = [&](const char* fraction) {
        const QByteArray at = resets.toString(QStringLiteral("yyyy-MM-ddTHH:mm:")).toLatin1() + fraction;
        return LoopbackHttpServer::reply(200, R"({"five_hour":{"utilization":20,"resets_at":")" + at +
                                                  R"(+00:00"},"seven_day":{)"
                                                  R"("utilization":50,"resets_at":")" +
                                                  at +
                                                  R"(+00:00"},"seven_day_sonnet":{"utilization":5,)"
                                                  R"("resets_at":")" +
                                                  at + R"(+00:00"}})");
    };
    const QProcessEnvironment env = withClaude(home, server, resets.addDays(1));
    const auto claudeLines = [&] {
        return TestSupport::readFile(home.file(QStringLiteral("snapshots.ndjson"))).count("\"claude.oauth\"");
    };
    const auto fetches = [&] { return server.received().size(); };
    // A start fetches at once: two starts, two fetches, a second of the same reading apart.
    for (const char* fraction : {"00.528743", "01.002"}) {
        server.answer("/api/oauth/usage", {answer(fraction)});
        const qsizetype before = fetches();
        QProcess process;
        startHeadless(process, env);
        ASSERT_TRUE(TestSupport::waitFor([&] { return fetches() > before && claudeLines() >= 3; }, 20'000))
            << process.readAllStandardError().toStdString();
        // The cycle after the fetch has stored what it will.
        QThread::msleep(1'000);
        process.terminate();
        ASSERT_TRUE(process.waitForFinished(5'000));
    }
    EXPECT_EQ(claudeLines(), 3);
}

// A refresh spends the old token the moment the endpoint takes it: a SIGTERM while its answer is on the way
// waits for the answer and its write-back instead of dropping the new token.
TEST(HeadlessOAuth, ATerminationDuringARefreshKeepsTheNewToken)
{
    Home home;
    LoopbackHttpServer server;
    const QProcessEnvironment env =
        withClaude(home, server, QDateTime::currentDateTimeUtc().addSecs(30), "old", "refresh-1");
    server.answer(
        "/v1/oauth/token",
        {LoopbackHttpServer::reply(
            200, R"({"access_token":"new","refresh_token":"refresh-2","expires_in":3600})", {}, 1'500)});
    QProcess process;
    startHeadless(process, env);
    ASSERT_TRUE(TestSupport::waitFor([&] { return server.count("/v1/oauth/token") > 0; }, 20'000))
        << process.readAllStandardError().toStdString();
    process.terminate();
    ASSERT_TRUE(process.waitForFinished(10'000));
    EXPECT_EQ(ClaudeTestSupport::readObject(home.path() + "/.claude/.credentials.json")["claudeAiOauth"]
                  .toObject()["refreshToken"],
              "refresh-2");
}

} // namespace
