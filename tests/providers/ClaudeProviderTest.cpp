// The Claude provider on a manual clock, with the OAuth road on a loopback server and a real store.
#include "ClaudeTestSupport.h"
#include "LoopbackHttpServer.h"
#include "core/text/Zone.h"

#include "core/io/SnapshotStore.h"
#include "providers/HttpClient.h"
#include "providers/claude/ClaudeCredentialFile.h"
#include "providers/claude/ClaudeOAuthUsage.h"
#include "providers/claude/ClaudeProvider.h"
#include "providers/claude/ClaudeUsageAnswer.h"
#include "support/Reading.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using namespace ClaudeTestSupport;
using namespace std::chrono_literals;
using State = ProviderHealth::State;

namespace {

const QDateTime start(QDate(2026, 6, 1), QTime(10, 0), Zone::utc());

UsageSnapshot reading(WindowKind window, qint64 secondsAfterStart, double used, const QString& source,
                      qint64 resetAfterStart = 3600)
{
    UsageSnapshot s = TestSupport::reading(Provider::claude, window, start.addSecs(secondsAfterStart), used,
                                           start.addSecs(resetAfterStart));
    s.source = source;
    return s;
}

class ClaudeProviderTest : public ::testing::Test
{
protected:
    ClaudeProviderTest()
    {
        environment.set("CLAUDE_CONFIG_DIR", folder.path() + "/claude");
        environment.set("XDG_DATA_HOME", folder.path() + "/data");
        server.answer("/usage", 200, R"({"five_hour":{"utilization":20},"seven_day":{"utilization":50}})");
        writeFile(folder.path() + "/claude/.credentials.json", credentialDocument("a", "r", start.addDays(1)),
                  ownerOnly);
    }
    ClaudeEndpoints endpoints() const
    {
        ClaudeEndpoints loopback;
        loopback.usageUrl = QUrl(QString::fromLatin1(server.url("/usage")));
        return loopback;
    }
    void setStatusLine(const QString& command)
    {
        writeFile(folder.path() + "/claude/settings.json",
                  QJsonDocument(QJsonObject{{"statusLine", QJsonObject{{"command", command}}}}).toJson());
    }
    int fetches() const { return server.count("/usage"); }

    QTemporaryDir folder;
    ScopedEnvironment environment;
    LoopbackHttpServer server;
    HttpClient http;
    ManualClock clock{start};
    std::shared_ptr<SnapshotStore> store =
        std::make_shared<SnapshotStore>(folder.path() + "/snapshots.ndjson");
    ClaudeOAuthUsage oauth{
        std::make_shared<ClaudeCredentialFile>(folder.path() + "/claude/.credentials.json"), endpoints(),
        http, folder.path() + "/backup.json"};
    ClaudeProvider provider{store, oauth, clock, 1h};
};

} // namespace

// Fetches at start and on every fourth tick; every tick looks at the store and reports what is newer.
TEST_F(ClaudeProviderTest, FetchesAtStartAndEveryFourthTick)
{
    QList<QList<UsageSnapshot>> reports;
    provider.start([&](const QList<UsageSnapshot>& s) { reports.append(s); });
    ASSERT_TRUE(TestSupport::waitFor([&] { return reports.size() == 1; }));
    EXPECT_EQ(reports[0].size(), 2);
    EXPECT_EQ(reports[0][0].source, "claude.oauth");

    for (int tick = 1; tick <= 3; ++tick) {
        clock.advance(15);
        provider.tick();
        // A fetch of our own right after the tick: skipped if the tick had started one, else the only one.
        const int before = fetches();
        ASSERT_TRUE(oauth.fetchNow(clock.now())) << "tick " << tick << " started a fetch";
        EXPECT_EQ(fetches(), before + 1) << "tick " << tick;
    }
    store->append(reading(WindowKind::fiveHour, 45, 25, "claude.statusline")); // the bridge, between ticks
    clock.advance(15);
    const int before = fetches();
    provider.tick();
    ASSERT_EQ(reports.size(), 2);
    EXPECT_EQ(reports[1][0].source, "claude.statusline");
    ASSERT_TRUE(TestSupport::waitFor([&] { return fetches() == before + 1; })); // tick 4 fetches
    // Only its five-hour reading differs from the newest stored one: that alone is stored, and reported.
    ASSERT_TRUE(TestSupport::waitFor([&] { return reports.size() == 3; }));
    EXPECT_EQ(reports[2][0].timestamp, start.addSecs(60));
    EXPECT_EQ(store->snapshots(Provider::claude, WindowKind::sevenDay).size(), 1);

    store->append(reading(WindowKind::sevenDay, 0, 1, "claude.statusline")); // older than what was reported
    provider.tick();
    EXPECT_EQ(reports.size(), 3);
}

TEST_F(ClaudeProviderTest, OAuthReadingsAreStoredWhenTheyTellSomethingNew)
{
    const auto oauthAt = [](qint64 seconds, double used, qint64 reset = 3600) {
        return reading(WindowKind::fiveHour, seconds, used, "claude.oauth", reset);
    };
    provider.ingest({oauthAt(0, 30)});
    provider.ingest({oauthAt(60, 30)});        // unchanged, a minute later: dropped
    provider.ingest({oauthAt(120, 31)});       // changed figure
    provider.ingest({oauthAt(180, 31)});       // unchanged
    provider.ingest({oauthAt(420, 31)});       // five minutes after the last stored one
    provider.ingest({oauthAt(480, 31, 9000)}); // the reset moved
    store->append(reading(WindowKind::fiveHour, 500, 31, "claude.statusline", 9000));
    provider.ingest({oauthAt(510, 31, 9000)}); // equal to the bridge's reading: still stored
    provider.ingest({oauthAt(540, 31, 9000)});

    QList<qint64> stored;
    for (const UsageSnapshot& s : store->snapshots(Provider::claude, WindowKind::fiveHour))
        if (s.source == "claude.oauth")
            stored.append(start.secsTo(s.timestamp));
    EXPECT_EQ(stored, (QList<qint64>{0, 120, 420, 480, 510}));
}

// The service's reset times carry a fraction of a second the log does not keep, and it can straddle a second.
TEST_F(ClaudeProviderTest, TheSameAnswerAMinuteLaterIsNotStoredAgain)
{
    const auto answer = [](const char* fraction) {
        return QJsonDocument::fromJson(QStringLiteral(R"({"five_hour":{"utilization":20,
            "resets_at":"2026-06-01T12:00:%1+00:00"},"seven_day":{"utilization":50,
            "resets_at":"2026-06-05T10:00:%1+00:00"},"seven_day_sonnet":{"utilization":5,
            "resets_at":"2026-06-05T10:00:%1+00:00"}})")
                                           .arg(QLatin1String(fraction))
                                           .toUtf8())
            .object();
    };
    provider.ingest(ClaudeUsageAnswer::snapshots(answer("00.528743"), start));
    provider.ingest(ClaudeUsageAnswer::snapshots(answer("01.002"), start.addSecs(60)));
    qsizetype stored = 0;
    for (const WindowKind window : {WindowKind::fiveHour, WindowKind::sevenDay, WindowKind::weekly})
        stored += store->snapshots(Provider::claude, window).size();
    EXPECT_EQ(stored, 3);
}

TEST_F(ClaudeProviderTest, HealthFollowsTheBridgeAndTheNewestReading)
{
    store->append(reading(WindowKind::weekly, 0, 5, "claude.oauth"));
    EXPECT_EQ(provider.health(), (ProviderHealth{State::unavailable, "bridge not installed", {}, {}}));
    setStatusLine("python3 '/x/tallyvane-claude-statusline-bridge.py' --extra");
    // A Sonnet weekly reading alone is no window of ours: nothing current, still awaiting.
    EXPECT_TRUE(provider.currentSnapshots().isEmpty());
    EXPECT_EQ(provider.health(),
              (ProviderHealth{State::idle, "bridge installed, awaiting first response", {}, {}}));

    store->append(reading(WindowKind::sevenDay, 30, 5, "claude.oauth"));
    store->append(reading(WindowKind::fiveHour, 20, 5, "claude.statusline"));
    EXPECT_EQ(provider.health(), (ProviderHealth{State::connected, "bridge active", start.addSecs(20), {}}));
    setStatusLine("my-prompt.sh");
    EXPECT_EQ(
        provider.health(),
        (ProviderHealth{State::unavailable, "another status line is installed", start.addSecs(20), {}}));

    // A refresh held back for want of a place to keep its answer: the credential runs out meanwhile.
    const QString credentials = folder.path() + "/claude/.credentials.json";
    writeFile(credentials, credentialDocument("a", "r", start), ownerOnly);
    UnwritableFolder locked(QFileInfo(credentials).absolutePath());
    SKIP_UNLESS_ENGAGED(locked);
    ASSERT_TRUE(oauth.fetchNow(start));
    EXPECT_EQ(provider.health().detail, "another status line is installed; token refresh held back: " +
                                            credentials + ": Operation not permitted");
}
