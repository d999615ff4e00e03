// The Claude provider on a manual clock, with the OAuth road on a loopback server and a real store.
#include "ClaudeTestSupport.h"
#include "LoopbackHttpServer.h"

#include "core/SnapshotStore.h"
#include "providers/HttpClient.h"
#include "providers/claude/ClaudeCredentialFile.h"
#include "providers/claude/ClaudeOAuthUsage.h"
#include "providers/claude/ClaudeProvider.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using namespace ClaudeTestSupport;
using namespace std::chrono_literals;
using State = ProviderHealth::State;

namespace {

const QDateTime start(QDate(2026, 6, 1), QTime(10, 0), Qt::UTC);

UsageSnapshot reading(WindowKind window, const QDateTime& at, double used, const QString& source,
                      std::optional<QDateTime> resetAt = start.addSecs(3600))
{
    UsageSnapshot s;
    s.provider = Provider::claude;
    s.windowKind = window;
    s.timestamp = at;
    s.usedPercent = used;
    s.remainingPercent = 100 - used;
    s.resetAt = resetAt;
    s.source = source;
    s.sourceConfidence = SourceConfidence::high;
    return s;
}

class ClaudeProviderTest : public ::testing::Test
{
protected:
    ClaudeProviderTest()
    {
        environment.set("CLAUDE_CONFIG_DIR", folder.path() + "/claude");
        environment.set("XDG_DATA_HOME", folder.path() + "/data");
        server.answer("/api/oauth/usage", 200,
                      R"({"five_hour":{"utilization":20,"resets_at":"2026-06-01T12:00:00Z"},)"
                      R"("seven_day":{"utilization":50}})");
        endpoints.usageUrl = QUrl(QString::fromLatin1(server.url("/api/oauth/usage")));
        endpoints.tokenUrls = {QUrl(QString::fromLatin1(server.url("/token")))};
        writeFile(folder.path() + "/claude/.credentials.json", credentialDocument("a", "r", start.addDays(1)),
                  ownerOnly);
        store = std::make_shared<SnapshotStore>(folder.path() + "/snapshots.ndjson");
        oauth = std::make_unique<ClaudeOAuthUsage>(std::make_shared<ClaudeCredentialFile>(), endpoints, http,
                                                   folder.path() + "/backup.json");
        provider = std::make_unique<ClaudeProvider>(store, *oauth, clock, 1h);
    }
    ~ClaudeProviderTest() override { provider.reset(); }

    void setStatusLine(const QString& command)
    {
        writeFile(
            folder.path() + "/claude/settings.json",
            QJsonDocument(QJsonObject{{"statusLine", QJsonObject{{"type", "command"}, {"command", command}}}})
                .toJson());
    }
    int fetches() const { return server.count("/api/oauth/usage"); }

    QTemporaryDir folder;
    ScopedEnvironment environment;
    LoopbackHttpServer server;
    HttpClient http;
    ClaudeEndpoints endpoints;
    ManualClock clock{start};
    std::shared_ptr<SnapshotStore> store;
    std::unique_ptr<ClaudeOAuthUsage> oauth;
    std::unique_ptr<ClaudeProvider> provider;
};

} // namespace

// Fetches at start and on every fourth tick; every tick looks at the store and reports what is newer.
TEST_F(ClaudeProviderTest, FetchesAtStartAndEveryFourthTick)
{
    QList<QList<UsageSnapshot>> reports;
    provider->start([&](const QList<UsageSnapshot>& s) { reports.append(s); });
    ASSERT_TRUE(TestSupport::waitFor([&] { return reports.size() == 1; }));
    ASSERT_EQ(reports[0].size(), 2);
    EXPECT_EQ(reports[0][0].source, "claude.oauth");
    EXPECT_EQ(reports[0][0].timestamp, start);
    EXPECT_EQ(fetches(), 1);

    for (int tick = 1; tick <= 3; ++tick) {
        clock.advance(15);
        provider->tick();
        // A fetch of our own right after the tick: skipped if the tick had started one, else the only one.
        const int before = fetches();
        ASSERT_TRUE(oauth->fetchNow(clock.now())) << "tick " << tick << " started a fetch";
        EXPECT_EQ(fetches(), before + 1) << "tick " << tick;
    }
    // A bridge reading lands between ticks: the next tick reports it.
    store->append(reading(WindowKind::fiveHour, clock.now(), 25, "claude.statusline"));
    clock.advance(15);
    provider->tick();
    ASSERT_EQ(reports.size(), 2);
    EXPECT_EQ(reports[1][0].source, "claude.statusline");

    const int before = fetches();
    ASSERT_TRUE(TestSupport::waitFor([&] { return fetches() == before + 1; })); // tick 4
    // Its readings equal the stored OAuth ones of a minute ago except the five-hour one, which the bridge
    // changed since: that one is stored and reported.
    ASSERT_TRUE(TestSupport::waitFor([&] { return reports.size() == 3; }));
    EXPECT_EQ(reports[2][0].source, "claude.oauth");
    EXPECT_EQ(reports[2][0].timestamp, start.addSecs(60));
    EXPECT_EQ(store->snapshots(Provider::claude, WindowKind::sevenDay).size(), 1);

    // A reading stamped before the last one reported triggers nothing.
    store->append(reading(WindowKind::sevenDay, start, 1, "claude.statusline"));
    provider->tick();
    EXPECT_EQ(reports.size(), 3);
}

TEST_F(ClaudeProviderTest, OAuthReadingsAreStoredWhenTheyTellSomethingNew)
{
    const auto oauthAt = [&](qint64 seconds, double used = 30) {
        return reading(WindowKind::fiveHour, start.addSecs(seconds), used, "claude.oauth");
    };
    provider->ingest({oauthAt(0)});
    provider->ingest({oauthAt(60)});        // unchanged, a minute later: dropped
    provider->ingest({oauthAt(120, 31)});   // changed figure
    provider->ingest({oauthAt(180, 31)});   // unchanged again
    provider->ingest({oauthAt(420, 31)});   // five minutes after the last stored one
    UsageSnapshot moved = oauthAt(480, 31); // same figure, the window reset later
    moved.resetAt = start.addSecs(9000);
    provider->ingest({moved});
    // The bridge reports the same figure: an OAuth reading equal to it is still stored, once.
    store->append(
        reading(WindowKind::fiveHour, start.addSecs(500), 31, "claude.statusline", start.addSecs(9000)));
    UsageSnapshot sameAsBridge = oauthAt(510, 31);
    sameAsBridge.resetAt = start.addSecs(9000);
    provider->ingest({sameAsBridge});
    sameAsBridge.timestamp = start.addSecs(540);
    provider->ingest({sameAsBridge});

    QList<qint64> stored;
    for (const UsageSnapshot& s : store->snapshots(Provider::claude, WindowKind::fiveHour))
        if (s.source == "claude.oauth")
            stored.append(start.secsTo(s.timestamp));
    EXPECT_EQ(stored, (QList<qint64>{0, 120, 420, 480, 510}));
}

TEST_F(ClaudeProviderTest, HealthFollowsTheBridgeAndTheNewestReading)
{
    // No settings file: not installed, even with OAuth readings stored.
    store->append(reading(WindowKind::sevenDay, start, 10, "claude.oauth"));
    EXPECT_EQ(provider->health().state, State::unavailable);
    EXPECT_EQ(provider->health().detail, "bridge not installed");
    EXPECT_FALSE(provider->health().lastUpdate);

    setStatusLine("my-prompt.sh --fancy");
    EXPECT_EQ(provider->health().detail, "another status line is installed");
    EXPECT_EQ(provider->health().lastUpdate, start);

    QTemporaryDir empty;
    provider = std::make_unique<ClaudeProvider>(std::make_shared<SnapshotStore>(empty.path() + "/log.ndjson"),
                                                *oauth, clock, 1h);
    setStatusLine("python3 \"/x/tallyvane-claude-statusline-bridge.py\" --extra");
    EXPECT_EQ(provider->health(), (ProviderHealth{State::idle, "bridge installed, awaiting first response",
                                                  std::nullopt, std::nullopt}));

    // A Sonnet weekly reading alone is no Claude window of ours: still awaiting, and nothing reported.
    auto logStore = std::make_shared<SnapshotStore>(empty.path() + "/log.ndjson");
    logStore->append(reading(WindowKind::weekly, start, 5, "claude.oauth"));
    EXPECT_TRUE(provider->currentSnapshots().isEmpty());
    EXPECT_EQ(provider->health().state, State::idle);

    logStore->append(reading(WindowKind::sevenDay, start.addSecs(30), 5, "claude.statusline"));
    logStore->append(reading(WindowKind::fiveHour, start.addSecs(20), 5, "claude.statusline"));
    EXPECT_EQ(provider->health(),
              (ProviderHealth{State::connected, "bridge active", start.addSecs(20), std::nullopt}));
}
