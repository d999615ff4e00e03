// Drives our client and provider against the pinned real `codex app-server`, each run in a throwaway HOME.
#include "CodexTestSupport.h"
#include "LoopbackHttpServer.h"
#include "core/text/Zone.h"

#include "core/io/SnapshotStore.h"
#include "providers/codex/CodexProvider.h"

#include <gtest/gtest.h>

#include <QFile>
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
LoopbackHttpServer::Answer streamedAnswer()
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
                                      {"x-codex-primary-used-percent", "42"},
                                      {"x-codex-primary-window-minutes", "300"},
                                      {"x-codex-primary-reset-at", "1796590000"},
                                      {"x-codex-secondary-used-percent", "17"},
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

TEST(RealCodex, PushedRateLimitsAfterATurnBecomeTwoSnapshots)
{
    REQUIRE_REAL_CODEX();
    LoopbackHttpServer mock;
    mock.answer("/v1/responses", {streamedAnswer()});
    QTemporaryDir home;
    const QByteArray config = "model = \"mock-model\"\n"
                              "model_reasoning_effort = \"low\"\n"
                              "model_provider = \"mock\"\n"
                              "\n"
                              "[model_providers.mock]\n"
                              "name = \"mock\"\n"
                              "base_url = \"" +
                              mock.url("/v1") +
                              "\"\n"
                              "wire_api = \"responses\"\n"
                              "env_key = \"TALLYVANE_MOCK_KEY\"\n"
                              "request_max_retries = 0\n"
                              "stream_max_retries = 0\n";
    ASSERT_TRUE(writeFile(home.filePath(QStringLiteral(".codex/config.toml")), config));
    // Our own enrichment reads the configuration of the HOME this process runs in.
    const QString ownConfig = TestSupport::homePath() + QStringLiteral("/.codex/config.toml");
    ASSERT_TRUE(writeFile(ownConfig, config));

    QTemporaryDir data;
    SnapshotStore store(data.filePath(QStringLiteral("snapshots.ndjson")));
    CodexProvider provider(store, realServer(home.path()));
    const auto lines = recordLines(provider.client());
    Collected<QList<UsageSnapshot>> updates;
    provider.start([&](const QList<UsageSnapshot>& snapshots) { updates.add(snapshots); });
    ASSERT_TRUE(waitFor([&] { return provider.client()->isInitialized(); }, 30000));

    const qint64 threadRequest =
        provider.client()->sendRequest(QStringLiteral("thread/start"), QJsonObject{{"cwd", home.path()}});
    ASSERT_TRUE(waitFor([&] { return answerTo(*lines, threadRequest).has_value(); }, 30000));
    const QString threadId = answerTo(*lines, threadRequest)
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
    // The update notification comes from the server itself. Each line is handled before it is recorded, so
    // the health can show both windows a moment before the notification is among the recorded lines.
    const auto sawPush = [&] {
        const QList<QString> seen = lines->values();
        return std::ranges::any_of(seen, [](const QString& line) {
            return QJsonDocument::fromJson(line.toUtf8()).object().value("method").toString() ==
                   QStringLiteral("account/rateLimits/updated");
        });
    };
    const bool pushed =
        waitFor([&] { return sawPush() && provider.health().detail == QStringLiteral("2 windows"); }, 60000);
    QFile::remove(ownConfig);
    ASSERT_TRUE(pushed) << "no rate-limit push; mock answered " << mock.count("/v1/responses") << " requests";
    EXPECT_GE(mock.count("/v1/responses"), 1);

    // What the server made of the mock's headers; the mapping to snapshots is CodexParsing's table.
    const QList<UsageSnapshot> five = store.snapshots(Provider::codex, WindowKind::fiveHour);
    const QList<UsageSnapshot> week = store.snapshots(Provider::codex, WindowKind::sevenDay);
    ASSERT_EQ(five.size(), 1);
    ASSERT_EQ(week.size(), 1);
    EXPECT_EQ(std::tuple(five[0].usedPercent, five[0].resetAt, five[0].modelId, five[0].effortLevel),
              std::tuple(42.0, std::optional(QDateTime::fromSecsSinceEpoch(1796590000, Zone::utc())),
                         std::optional<QString>("mock-model"), std::optional<QString>("low")));
    EXPECT_EQ(std::tuple(week[0].usedPercent, week[0].resetAt),
              std::tuple(17.0, std::optional(QDateTime::fromSecsSinceEpoch(1797000000, Zone::utc()))));
    ASSERT_EQ(updates.size(), 1);
    EXPECT_EQ(updates.values().first().size(), 2);
    EXPECT_EQ(provider.health().state, ProviderHealth::State::connected);
    provider.stop();
}
