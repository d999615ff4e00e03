#include "providers/DemoProvider.h"

#include <gtest/gtest.h>

#include <QSet>

#include <cmath>

namespace {

const QDateTime kNow = QDateTime(QDate(2026, 3, 4), QTime(10, 30, 15), Qt::UTC);

struct DemoCase
{
    Provider provider;
    double fiveHourPeak;
    qint64 fiveHourSpanSeconds; // first five-hour point before now
    qint64 fiveHourResetIn;
    double sevenDayPeak;
    qint64 sevenDaySpanSeconds;
    qint64 sevenDayResetIn;
    QString fiveHourLimitId;
    QString sevenDayLimitId;
    QString modelId;
    QString planType;
    std::optional<bool> thinking;
    std::optional<QString> speed;
};

class DemoHistoryTest : public ::testing::TestWithParam<DemoCase>
{};

TEST_P(DemoHistoryTest, ShapesBothSeriesAroundNow)
{
    const DemoCase& c = GetParam();
    const QList<UsageSnapshot> all = DemoProvider::history(c.provider, kNow);
    ASSERT_EQ(all.size(), 23);

    QSet<QUuid> ids;
    for (qsizetype i = 0; i < all.size(); ++i) {
        const UsageSnapshot& s = all[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(s.provider, c.provider);
        EXPECT_EQ(s.windowKind, i < 13 ? WindowKind::fiveHour : WindowKind::sevenDay);
        EXPECT_EQ(s.source, QStringLiteral("demo"));
        EXPECT_EQ(s.sourceConfidence, SourceConfidence::high);
        EXPECT_FALSE(s.rateLimitReachedType.has_value());
        EXPECT_DOUBLE_EQ(s.remainingPercent, std::max(0.0, 100 - s.usedPercent));
        // One decimal exactly.
        EXPECT_DOUBLE_EQ(std::round(s.usedPercent * 10) / 10, s.usedPercent);
        EXPECT_EQ(s.modelId, c.modelId);
        EXPECT_EQ(s.planType, c.planType);
        EXPECT_EQ(s.effortLevel, QStringLiteral("medium"));
        EXPECT_EQ(s.thinkingEnabled, c.thinking);
        EXPECT_EQ(s.speedMode, c.speed);
        if (i != 0 && i != 13) {
            EXPECT_LT(all[i - 1].timestamp, s.timestamp);
            EXPECT_LE(all[i - 1].usedPercent, s.usedPercent);
        }
        ids.insert(s.id);
    }
    EXPECT_EQ(ids.size(), 23) << "every snapshot needs its own id";

    const UsageSnapshot& firstFive = all[0];
    const UsageSnapshot& lastFive = all[12];
    EXPECT_EQ(firstFive.timestamp, kNow.addSecs(-c.fiveHourSpanSeconds));
    EXPECT_DOUBLE_EQ(firstFive.usedPercent, 0.0);
    EXPECT_EQ(lastFive.timestamp, kNow);
    EXPECT_DOUBLE_EQ(lastFive.usedPercent, c.fiveHourPeak);
    EXPECT_DOUBLE_EQ(lastFive.remainingPercent, 100 - c.fiveHourPeak);
    EXPECT_EQ(lastFive.resetAt, kNow.addSecs(c.fiveHourResetIn));
    EXPECT_EQ(lastFive.windowDurationMins, 300.0);
    EXPECT_EQ(lastFive.limitId, c.fiveHourLimitId);
    EXPECT_EQ(lastFive.limitName, QStringLiteral("5-hour limit"));

    const UsageSnapshot& firstSeven = all[13];
    const UsageSnapshot& lastSeven = all[22];
    EXPECT_EQ(firstSeven.timestamp, kNow.addSecs(-c.sevenDaySpanSeconds));
    // The first seven-day point lies exactly at the window's start.
    EXPECT_EQ(firstSeven.timestamp, lastSeven.resetAt->addSecs(-7 * 86'400));
    EXPECT_DOUBLE_EQ(firstSeven.usedPercent, 0.0);
    EXPECT_EQ(lastSeven.timestamp, kNow);
    EXPECT_DOUBLE_EQ(lastSeven.usedPercent, c.sevenDayPeak);
    EXPECT_EQ(lastSeven.resetAt, kNow.addSecs(c.sevenDayResetIn));
    EXPECT_EQ(lastSeven.windowDurationMins, 10'080.0);
    EXPECT_EQ(lastSeven.limitId, c.sevenDayLimitId);
    EXPECT_EQ(lastSeven.limitName, QStringLiteral("7-day range"));
}

INSTANTIATE_TEST_SUITE_P(Providers, DemoHistoryTest,
                         ::testing::Values(
                             // Codex's five-hour window began 100 minutes ago; the whole of it is shown.
                             DemoCase{Provider::codex, 22, 6'000, 12'000, 34, 276'480, 328'320, "codex-5h",
                                      "codex-sevenDay", "gpt-5.5", "Pro", std::nullopt,
                                      QStringLiteral("standard")},
                             // Claude's began 132 minutes ago; the series is capped to the last 120 minutes.
                             DemoCase{Provider::claude, 28, 7'200, 10'080, 41, 293'760, 311'040, "claude-5h",
                                      "claude-sevenDay", "claude-opus-4-8", "Max", true, std::nullopt}));

TEST(DemoHistory, CurvePointsFollowTheExponent)
{
    const QList<UsageSnapshot> codex = DemoProvider::history(Provider::codex, kNow);
    // i = 6: 22 × 0.5^0.78 = 12.76… → 12.8, stamped halfway through the 100-minute span.
    EXPECT_DOUBLE_EQ(codex[6].usedPercent, 12.8);
    EXPECT_EQ(codex[6].timestamp, kNow.addSecs(-3'000));
    // i = 1: 22 × (1/12)^0.78 = 3.18… → 3.2; a non-integral offset of 500 s.
    EXPECT_DOUBLE_EQ(codex[1].usedPercent, 3.2);
    EXPECT_EQ(codex[1].timestamp, kNow.addSecs(-5'500));
    // Seven-day points are linear: i = 3 of 9 → 34 / 3 = 11.33… → 11.3.
    EXPECT_DOUBLE_EQ(codex[16].usedPercent, 11.3);

    const QList<UsageSnapshot> claude = DemoProvider::history(Provider::claude, kNow);
    // Claude i = 6: 28 × 0.5^0.78 = 16.30… → 16.3.
    EXPECT_DOUBLE_EQ(claude[6].usedPercent, 16.3);
    EXPECT_EQ(claude[6].timestamp, kNow.addSecs(-3'600));
}

TEST(DemoHistory, SubSecondNowIsKeptOnTheLastPoint)
{
    const QDateTime now = kNow.addMSecs(437);
    const QList<UsageSnapshot> all = DemoProvider::history(Provider::claude, now);
    EXPECT_EQ(all[12].timestamp, now);
    EXPECT_EQ(all[22].timestamp, now);
    EXPECT_EQ(all[0].timestamp, now.addSecs(-7'200));
}

TEST(DemoProviderObject, ReportsDemoHealthAndNeverCallsBack)
{
    DemoProvider provider(Provider::claude);
    EXPECT_EQ(provider.provider(), Provider::claude);
    const QDateTime before = QDateTime::currentDateTimeUtc();
    const ProviderHealth health = provider.health();
    EXPECT_EQ(health.state, ProviderHealth::State::demo);
    EXPECT_EQ(health.detail, QStringLiteral("Synthetic data"));
    ASSERT_TRUE(health.lastUpdate.has_value());
    EXPECT_GE(*health.lastUpdate, before);
    EXPECT_FALSE(health.lastError.has_value());

    int calls = 0;
    provider.start([&](const QList<UsageSnapshot>&) { ++calls; });
    provider.stop();
    EXPECT_EQ(calls, 0);
}

} // namespace
