#include "CodexTestSupport.h"
#include "core/text/Zone.h"

#include "core/io/AppLogger.h"
#include "core/io/LocalFileStore.h"
#include "core/io/SnapshotStore.h"
#include "providers/codex/CodexProvider.h"

#include <gtest/gtest.h>

#include <QFile>

#include <atomic>

using CodexTestSupport::Collected;
using CodexTestSupport::FakeCodex;
using TestSupport::waitFor;

namespace {

struct Harness
{
    FakeCodex fake;
    QTemporaryDir dir;
    SnapshotStore store{dir.filePath(QStringLiteral("snapshots.ndjson"))};
    Collected<QList<UsageSnapshot>> updates;
    // How many snapshots the store held when each update arrived.
    Collected<qsizetype> storedAtUpdate;

    UsageProvider::UpdateCallback callback()
    {
        return [this](const QList<UsageSnapshot>& snapshots) {
            storedAtUpdate.add(store.all().size());
            updates.add(snapshots);
        };
    }
};

QString configPath()
{
    return TestSupport::homePath() + QStringLiteral("/.codex/config.toml");
}

ProviderHealth health(ProviderHealth::State state, const char* detail)
{
    return {state, QString::fromUtf8(detail), std::nullopt, std::nullopt};
}

CodexRateLimitsPayload payloadWith(std::optional<CodexRateLimitWindow> primary,
                                   std::optional<CodexRateLimitWindow> secondary)
{
    CodexRateLimitBucket bucket;
    bucket.primary = primary;
    bucket.secondary = secondary;
    return CodexRateLimitsPayload{bucket, std::nullopt};
}

} // namespace

TEST(CodexProvider, HealthBeforeStartAndWhenCodexIsMissingOrBroken)
{
    Harness h;
    {
        CodexLaunchOptions nowhere;
        nowhere.searchFolders = {h.dir.path()};
        nowhere.fallbackWhich.clear();
        CodexProvider provider(h.store, nowhere);
        EXPECT_EQ(provider.health(), health(ProviderHealth::State::idle, "Not started"));
        provider.start(h.callback());
        EXPECT_EQ(provider.health(), health(ProviderHealth::State::unavailable, "codex not found in PATH"));
        EXPECT_EQ(provider.executablePath(), QString());
        EXPECT_EQ(provider.client(), provider.client());
        // The process manager, asked directly, refuses and says why in the log.
        EXPECT_FALSE(provider.client()->manager()->start());
        EXPECT_FALSE(provider.client()->manager()->isRunning());
        AppLogger::shared().flush();
        EXPECT_TRUE(
            TestSupport::readFile(LocalFileStore::logPath()).contains("WARN Codex not found in PATH"));
    }
    {
        const QString notExecutable = h.dir.filePath(QStringLiteral("codex"));
        ASSERT_TRUE(TestSupport::writeFile(notExecutable, {}));
        CodexLaunchOptions broken;
        broken.executable = notExecutable;
        CodexProvider provider(h.store, broken);
        provider.start(h.callback());
        const ProviderHealth result = provider.health();
        EXPECT_EQ(result.state, ProviderHealth::State::error);
        EXPECT_EQ(result.detail, QStringLiteral("failed to start app-server"));
        // What the diagnostics report shows, without searching again.
        EXPECT_EQ(provider.executablePath(), notExecutable);
        EXPECT_FALSE(result.lastUpdate.has_value());
        ASSERT_TRUE(result.lastError.has_value());
        EXPECT_TRUE(result.lastError->startsWith(QStringLiteral("Failed to start codex app-server: ")));
        EXPECT_EQ(result.lastError, AppLogger::shared().lastError());
    }
    EXPECT_EQ(h.updates.size(), 0);
}

TEST(CodexProvider, FirstReadIsStoredEnrichedAndReported)
{
    ASSERT_TRUE(TestSupport::writeFile(
        configPath(),
        "model = \"gpt-5.5\"\nmodel_reasoning_effort = 'high'\nfast = false\nfast_mode = true\n"));
    Harness h;
    CodexProvider provider(h.store, h.fake.options(QStringLiteral("normal")));
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-1);
    provider.start(h.callback());
    ASSERT_TRUE(waitFor([&] { return h.updates.size() == 1; }));
    QFile::remove(configPath());

    const ProviderHealth state = provider.health();
    EXPECT_EQ(state.state, ProviderHealth::State::connected);
    EXPECT_EQ(state.detail, QStringLiteral("2 windows"));
    ASSERT_TRUE(state.lastUpdate.has_value());
    EXPECT_GE(*state.lastUpdate, before);
    EXPECT_FALSE(state.lastError.has_value());

    // Both appends were done before the one callback ran, and the callback got exactly what was stored.
    EXPECT_EQ(h.storedAtUpdate.values(), QList<qsizetype>{2});
    const QList<UsageSnapshot> reported = h.updates.values().first();
    const QList<UsageSnapshot> stored = h.store.all();
    ASSERT_EQ(reported.size(), 2);
    ASSERT_EQ(stored.size(), 2);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(stored[i].id, reported[i].id);
        EXPECT_EQ(stored[i].usedPercent, reported[i].usedPercent);
        EXPECT_EQ(stored[i].modelId, reported[i].modelId);
        // The log keeps whole seconds.
        EXPECT_EQ(stored[i].timestamp.toSecsSinceEpoch(), reported[i].timestamp.toSecsSinceEpoch());
    }
    // The mapping of windows to snapshots is CodexParsing's table; here the enrichment from the config.
    EXPECT_EQ(reported[0].usedPercent, 42.0);
    EXPECT_EQ(reported[0].timestamp, *state.lastUpdate);
    for (const UsageSnapshot& snapshot : reported) {
        EXPECT_EQ(snapshot.modelId, QStringLiteral("gpt-5.5"));
        EXPECT_EQ(snapshot.modelDisplayName, QStringLiteral("gpt-5.5"));
        EXPECT_EQ(snapshot.effortLevel, QStringLiteral("high"));
        EXPECT_EQ(snapshot.speedMode, QStringLiteral("false"));
    }
}

TEST(CodexProvider, SharedStoreOutlivesItsOtherOwners)
{
    FakeCodex fake;
    QTemporaryDir dir;
    auto store = std::make_shared<SnapshotStore>(dir.filePath(QStringLiteral("snapshots.ndjson")));
    const std::weak_ptr<SnapshotStore> watch = store;
    auto provider = std::make_shared<CodexProvider>(std::move(store), fake.options(QStringLiteral("normal")));
    std::atomic<int> updates{0};
    provider->start([&](const QList<UsageSnapshot>&) { updates.fetch_add(1); });
    ASSERT_TRUE(waitFor([&] { return updates.load() == 1; }));
    EXPECT_FALSE(watch.expired());
    provider.reset();
    EXPECT_TRUE(watch.expired());
}

TEST(CodexProvider, PollTimerAsksAgainAndOnlyNewsIsStored)
{
    Harness h;
    CodexProvider provider(h.store, h.fake.options(QStringLiteral("normal")), std::chrono::milliseconds(150));
    provider.start(h.callback());
    ASSERT_TRUE(
        waitFor([&] { return h.fake.wireMethods().count(QStringLiteral("account/rateLimits/read")) >= 4; }));
    provider.stop();
    // The same two windows in every answer: stored and reported once.
    EXPECT_EQ(h.store.all().size(), 2);
    EXPECT_EQ(h.updates.size(), 1);
    // Stopped with the child: nothing is left to answer a poll.
    EXPECT_FALSE(provider.client()->manager()->isRunning());
}

// A refused read (not logged in) leaves the health as it was, and a pushed update still counts.
TEST(CodexProvider, ARefusedReadChangesNothingAndAPushStillCounts)
{
    Harness h;
    CodexProvider provider(h.store, h.fake.options(QStringLiteral("push")));
    const auto lines = CodexTestSupport::recordLines(provider.client());
    provider.start(h.callback());
    ASSERT_TRUE(waitFor([&] { return h.updates.size() == 1; }));
    ASSERT_TRUE(CodexTestSupport::settle(*provider.client(), *lines)); // the refusal has been handled
    const ProviderHealth state = provider.health();
    EXPECT_EQ(state.state, ProviderHealth::State::connected);
    EXPECT_EQ(state.detail, QStringLiteral("2 windows"));
    EXPECT_EQ(h.store.all().size(), 2);
}

TEST(CodexProvider, AnAppServerThatEndsIsReportedAndStartedAgainAfterABackOff)
{
    struct Row
    {
        const char* scenario;
        const char* reason;
        // The wait after the second end: doubled unless a read succeeded in between.
        qint64 secondDelay;
    };
    const Row rows[] = {
        {"crash", "killed by SIGABRT", 120},
        {"readThenExit", "exit status 5", 60},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.scenario);
        Harness h;
        const QDateTime start = QDateTime::fromSecsSinceEpoch(1796580000, Zone::utc());
        ManualClock clock(start);
        // Polls only when the test says so.
        CodexProvider provider(h.store, h.fake.options(QString::fromLatin1(row.scenario)),
                               std::chrono::hours(1), clock);
        const auto launches = [&] { return h.fake.wireMethods().count(QStringLiteral("initialize")); };
        provider.start(h.callback());
        ASSERT_TRUE(waitFor([&] { return provider.health().state == ProviderHealth::State::error; }));
        ProviderHealth state = provider.health();
        EXPECT_EQ(state.detail, QStringLiteral("app-server exited"));
        EXPECT_EQ(state.lastError, QString::fromLatin1(row.reason));
        AppLogger::shared().flush();
        EXPECT_TRUE(TestSupport::readFile(LocalFileStore::logPath())
                        .contains("WARN codex app-server exited (" + QByteArray(row.reason) + ")"));
        EXPECT_EQ(provider.nextRestart(), start.addSecs(60));

        clock.advance(59);
        provider.poll();
        EXPECT_EQ(provider.nextRestart(), start.addSecs(60)) << "not yet due";
        clock.advance(1);
        provider.poll();
        ASSERT_TRUE(waitFor([&] { return launches() == 2 && provider.nextRestart().has_value(); }));
        EXPECT_EQ(provider.nextRestart(), start.addSecs(60 + row.secondDelay));
        EXPECT_EQ(provider.health().state, ProviderHealth::State::error);
    }
    const std::pair<int, qint64> delays[] = {{1, 60}, {2, 120}, {5, 960}, {6, 1800}, {1000, 1800}};
    for (const auto& [failures, seconds] : delays)
        EXPECT_EQ(CodexProvider::restartDelay(failures).count(), seconds) << failures;
}

// A child pushing as fast as the pipe takes it must not fill the log with copies.
TEST(CodexProvider, APushIsStoredWhenItTellsSomethingNewAndNotTooSoonAfterTheLast)
{
    Harness h;
    ManualClock clock(QDateTime(QDate(2026, 3, 2), QTime(9, 0), Zone::utc()));
    CodexProvider provider(h.store, h.fake.options(QStringLiteral("quiet")),
                           CodexProvider::defaultPollInterval, clock);
    const std::pair<qint64, double> pushes[] = {
        {0, 10},      // first: stored
        {0, 10},      // identical, at once
        {0, 11},      // changed, but within a second of the last stored
        {2000, 11},   // changed: stored
        {60000, 11},  // unchanged a minute later
        {302000, 11}, // five minutes after the last stored one: stored
    };
    qint64 at = 0;
    for (const auto& [ms, used] : pushes) {
        clock.set(clock.now().addMSecs(ms - at));
        at = ms;
        provider.ingest(payloadWith(CodexRateLimitWindow{used, 300.0, {}}, std::nullopt));
    }
    QList<double> stored;
    for (const UsageSnapshot& s : h.store.all())
        stored.append(s.usedPercent);
    EXPECT_EQ(stored, (QList<double>{10, 11, 11}));
}

TEST(CodexProvider, IngestCountsWindowsAndIgnoresEmptyPayloads)
{
    Harness h;
    CodexProvider provider(h.store, h.fake.options(QStringLiteral("quiet")));
    provider.start(h.callback());
    const ProviderHealth running = provider.health();

    provider.ingest(payloadWith(CodexRateLimitWindow{std::nullopt, 300.0, {}}, std::nullopt));
    provider.ingest(CodexRateLimitsPayload{});
    EXPECT_EQ(provider.health(), running);
    EXPECT_EQ(h.updates.size(), 0);

    provider.ingest(payloadWith(std::nullopt, CodexRateLimitWindow{3.0, 10080.0, {}}));
    EXPECT_EQ(provider.health().detail, QStringLiteral("1 windows"));
    ASSERT_EQ(h.updates.size(), 1);
    EXPECT_EQ(h.updates.values().first().first().windowKind, WindowKind::sevenDay);
    EXPECT_EQ(h.store.all().size(), 1);
}
