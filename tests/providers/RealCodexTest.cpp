// Drives our client and provider against the pinned real `codex app-server`, each run in a throwaway HOME.
#include "CodexTestSupport.h"
#include "LoopbackHttpServer.h"
#include "core/text/Zone.h"

#include "core/io/SnapshotStore.h"
#include "providers/codex/CodexProvider.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>

using CodexTestSupport::answerTo;
using CodexTestSupport::Collected;
using CodexTestSupport::recordLines;
using TestSupport::waitFor;
using TestSupport::writeFile;

namespace {

QString realCodex()
{
    const QByteArray overridden = qgetenv("TALLYVANE_REAL_CODEX");
    return overridden.isEmpty() ? QStringLiteral(TALLYVANE_REAL_CODEX) : QString::fromLocal8Bit(overridden);
}

// In CI the pinned binary must be there; elsewhere its absence only skips.
#define REQUIRE_REAL_CODEX()                                                                                 \
    do {                                                                                                     \
        const QFileInfo binary(realCodex());                                                                 \
        if (!binary.isFile() || !binary.isExecutable()) {                                                    \
            if (qgetenv("CI") == "true")                                                                     \
                FAIL() << "the pinned Codex CLI is missing at " << realCodex().toStdString()                 \
                       << " (run make deps)";                                                                \
            GTEST_SKIP() << "the pinned Codex CLI is missing at " << realCodex().toStdString()               \
                         << "; run make deps";                                                               \
        }                                                                                                    \
    } while (false)

// The real server, started through env so that it alone sees the temporary HOME.
CodexLaunchOptions realServer(const QString& home)
{
    CodexLaunchOptions options;
    options.executable = QStringLiteral("/usr/bin/env");
    options.arguments = {QStringLiteral("HOME=") + home, QStringLiteral("TALLYVANE_MOCK_KEY=not-a-secret"),
                         realCodex(), QStringLiteral("app-server")};
    return options;
}

// A minimal Responses API: every POST to /v1/responses gets one short streamed answer whose headers carry
// the account's rate-limit windows, the way the real service reports them.
LoopbackHttpServer::Answer streamedAnswer(const QByteArray& fiveHourUsed, const QByteArray& weekUsed)
{
    const QList<QJsonObject> events{
        {{"type", "response.created"}, {"response", QJsonObject{{"id", "resp_1"}}}},
        {{"type", "response.output_item.done"},
         {"item",
          QJsonObject{{"type", "message"},
                      {"role", "assistant"},
                      {"id", "msg_1"},
                      {"content", QJsonArray{QJsonObject{{"type", "output_text"}, {"text", "ok"}}}}}}},
        {{"type", "response.completed"},
         {"response",
          QJsonObject{
              {"id", "resp_1"},
              {"usage", QJsonObject{{"input_tokens", 1}, {"output_tokens", 1}, {"total_tokens", 2}}}}}},
    };
    QByteArray body;
    for (const QJsonObject& event : events)
        body += "event: " + event.value("type").toString().toUtf8() +
                "\ndata: " + QJsonDocument(event).toJson(QJsonDocument::Compact) + "\n\n";
    return LoopbackHttpServer::reply(200, body,
                                     {{"content-type", "text/event-stream"},
                                      {"x-codex-primary-used-percent", fiveHourUsed},
                                      {"x-codex-primary-window-minutes", "300"},
                                      {"x-codex-primary-reset-at", "1796590000"},
                                      {"x-codex-secondary-used-percent", weekUsed},
                                      {"x-codex-secondary-window-minutes", "10080"},
                                      {"x-codex-secondary-reset-at", "1797000000"}});
}

} // namespace

TEST(RealCodex, WireFactsOfThePinnedServer)
{
    REQUIRE_REAL_CODEX();
    QTemporaryDir home;
    CodexProcessManager manager(realServer(home.path()));
    Collected<QString> lines;
    manager.setOnLine([&](const QString& line) { lines.add(line); });
    ASSERT_TRUE(manager.start());
    manager.send(QStringLiteral("{\"id\":7,\"method\":\"account/read\",\"params\":{}}"));
    ASSERT_TRUE(waitFor([&] { return answerTo(lines, 7).has_value(); }, 30000));
    const QJsonObject early = *answerTo(lines, 7);
    EXPECT_EQ(early.value("error").toObject().value("code").toInt(), -32600);
    EXPECT_EQ(early.value("error").toObject().value("message").toString(), QStringLiteral("Not initialized"));

    manager.send(QStringLiteral("{\"id\":1,\"method\":\"initialize\",\"params\":{\"clientInfo\":{\"name\":"
                                "\"Tallyvane\",\"version\":\"0.1.0\"}}}"));
    ASSERT_TRUE(waitFor([&] { return answerTo(lines, 1).has_value(); }, 30000));
    const QJsonObject initialized = *answerTo(lines, 1);
    EXPECT_TRUE(initialized.value("result").isObject());
    EXPECT_FALSE(initialized.contains("jsonrpc"));
    manager.send(QStringLiteral("{\"method\":\"initialized\",\"params\":{}}"));
    manager.send(QStringLiteral("{\"id\":2,\"method\":\"account/rateLimits/read\",\"params\":{}}"));
    ASSERT_TRUE(waitFor([&] { return answerTo(lines, 2).has_value(); }, 30000));
    const QJsonObject refused = *answerTo(lines, 2);
    EXPECT_EQ(refused.value("error").toObject().value("code").toInt(), -32600);
    EXPECT_EQ(refused.value("error").toObject().value("message").toString(),
              QStringLiteral("codex account authentication required to read rate limits"));
    manager.stop();
}

// Two accounts, each with its own home, app-server child and service: the default one in the HOME, another
// one in a Codex home given as CODEX_HOME, whose readings carry its key.
TEST(RealCodex, PushedRateLimitsAfterATurnBecomeTwoSnapshotsPerAccount)
{
    REQUIRE_REAL_CODEX();
    struct Account
    {
        QString model;
        QString key;
        QByteArray fiveHour, week;
        LoopbackHttpServer mock;
        QTemporaryDir home;
        QString configPath;
        std::unique_ptr<CodexProvider> provider;
        std::shared_ptr<Collected<QString>> lines;
    };
    Account accounts[2];
    accounts[0].model = QStringLiteral("mock-model");
    accounts[0].fiveHour = "42";
    accounts[0].week = "17";
    // Our own enrichment reads the configuration of the HOME this process runs in for the default account.
    accounts[0].configPath = TestSupport::homePath() + QStringLiteral("/.codex/config.toml");
    accounts[1].model = QStringLiteral("mock-work");
    accounts[1].key = QStringLiteral("1a2b3c4d");
    accounts[1].fiveHour = "66";
    accounts[1].week = "30";
    accounts[1].configPath = accounts[1].home.filePath(QStringLiteral(".codex-work/config.toml"));

    QTemporaryDir data;
    SnapshotStore store(data.filePath(QStringLiteral("snapshots.ndjson")));
    for (Account& a : accounts) {
        a.mock.answer("/v1/responses", {streamedAnswer(a.fiveHour, a.week)});
        const QByteArray config = "model = \"" + a.model.toUtf8() +
                                  "\"\n"
                                  "model_reasoning_effort = \"low\"\n"
                                  "model_provider = \"mock\"\n"
                                  "\n"
                                  "[model_providers.mock]\n"
                                  "name = \"mock\"\n"
                                  "base_url = \"" +
                                  a.mock.url("/v1") +
                                  "\"\n"
                                  "wire_api = \"responses\"\n"
                                  "env_key = \"TALLYVANE_MOCK_KEY\"\n"
                                  "request_max_retries = 0\n"
                                  "stream_max_retries = 0\n";
        ASSERT_TRUE(writeFile(a.configPath, config));
        CodexLaunchOptions launch = realServer(a.home.path());
        if (!a.key.isEmpty()) {
            launch.codexHome = QFileInfo(a.configPath).path();
            launch.account = a.key;
        } else {
            ASSERT_TRUE(writeFile(a.home.filePath(QStringLiteral(".codex/config.toml")), config));
        }
        a.provider = std::make_unique<CodexProvider>(store, launch);
        a.lines = recordLines(a.provider->client());
        a.provider->start([](const QList<UsageSnapshot>&) {});
    }
    for (Account& a : accounts) {
        CodexProvider& provider = *a.provider;
        ASSERT_TRUE(waitFor([&] { return provider.client()->isInitialized(); }, 30000));
        const qint64 threadRequest = provider.client()->sendRequest(QStringLiteral("thread/start"),
                                                                    QJsonObject{{"cwd", a.home.path()}});
        ASSERT_TRUE(waitFor([&] { return answerTo(*a.lines, threadRequest).has_value(); }, 30000));
        const QString threadId = answerTo(*a.lines, threadRequest)
                                     ->value("result")
                                     .toObject()
                                     .value("thread")
                                     .toObject()
                                     .value("id")
                                     .toString();
        ASSERT_FALSE(threadId.isEmpty()) << "thread/start answered without a thread";
        const QJsonArray input{QJsonObject{{"type", "text"}, {"text", "say ok"}}};
        provider.client()->sendRequest(QStringLiteral("turn/start"),
                                       QJsonObject{{"threadId", threadId}, {"input", input}});
    }
    for (Account& a : accounts) {
        // The update notification comes from the server itself. Each line is handled before it is recorded,
        // so the health can show both windows a moment before the notification is among the recorded lines.
        const auto sawPush = [&] {
            const QList<QString> seen = a.lines->values();
            return std::ranges::any_of(seen, [](const QString& line) {
                return QJsonDocument::fromJson(line.toUtf8()).object().value("method").toString() ==
                       QStringLiteral("account/rateLimits/updated");
            });
        };
        const bool pushed = waitFor(
            [&] { return sawPush() && a.provider->health().detail == QStringLiteral("2 windows"); }, 60000);
        ASSERT_TRUE(pushed) << a.model.toStdString() << ": no rate-limit push; mock answered "
                            << a.mock.count("/v1/responses") << " requests";
        EXPECT_EQ(a.provider->health().state, ProviderHealth::State::connected);
    }
    QFile::remove(accounts[0].configPath);

    // What each server made of its mock's headers; the mapping to snapshots is CodexParsing's table.
    for (const Account& a : accounts) {
        SCOPED_TRACE(a.model.toStdString());
        const QList<UsageSnapshot> five = store.snapshots(Provider::codex, WindowKind::fiveHour, a.key);
        const QList<UsageSnapshot> week = store.snapshots(Provider::codex, WindowKind::sevenDay, a.key);
        ASSERT_EQ(five.size(), 1);
        ASSERT_EQ(week.size(), 1);
        EXPECT_EQ(std::tuple(five[0].usedPercent, five[0].resetAt, five[0].modelId, five[0].effortLevel),
                  std::tuple(a.fiveHour.toDouble(),
                             std::optional(QDateTime::fromSecsSinceEpoch(1796590000, Zone::utc())),
                             std::optional<QString>(a.model), std::optional<QString>("low")));
        EXPECT_EQ(week[0].usedPercent, a.week.toDouble());
        EXPECT_EQ(five[0].account.value_or(QString()), a.key);
    }
    for (Account& a : accounts)
        a.provider->stop();
}
