#include "core/model/UsageSnapshot.h"
#include "core/text/Zone.h"
#include "support/Reading.h"

#include <gtest/gtest.h>

namespace {

// Only the members every snapshot has.
UsageSnapshot minimalSnapshot()
{
    UsageSnapshot s = TestSupport::reading(Provider::claude, WindowKind::fiveHour,
                                           QDateTime(QDate(2026, 1, 31), QTime(9, 15), Zone::utc()), 42);
    s.windowDurationMins.reset();
    return s;
}

} // namespace

TEST(UsageSnapshot, WindowLabelFromDurationOrKind)
{
    struct Row
    {
        std::optional<double> minutes;
        WindowKind kind;
        const char* expected;
    };
    const Row rows[] = {
        {300, WindowKind::unknown, "5h"},    {10080, WindowKind::unknown, "7d"},
        {90, WindowKind::unknown, "2h"},     {1440, WindowKind::unknown, "1d"},
        {0, WindowKind::weekly, "Weekly"},   {{}, WindowKind::monthly, "Monthly"},
        {-5, WindowKind::unknown, "Window"}, {{}, WindowKind::sevenDay, "7d"},
        {30, WindowKind::unknown, "1h"},
    };
    for (const Row& row : rows) {
        UsageSnapshot s = minimalSnapshot();
        s.windowDurationMins = row.minutes;
        s.windowKind = row.kind;
        EXPECT_EQ(s.windowLabel(), QString::fromLatin1(row.expected)) << row.minutes.value_or(-1);
    }
}

TEST(UsageSnapshot, MinimalSnapshotEncodesExactlyTheRequiredKeys)
{
    const UsageSnapshot s = minimalSnapshot();
    const QJsonObject json = s.toJson();
    QStringList keys = json.keys();
    keys.sort();
    EXPECT_EQ(keys, (QStringList{"id", "provider", "remainingPercent", "source", "sourceConfidence",
                                 "timestamp", "usedPercent", "windowKind"}));
    EXPECT_EQ(json.value("timestamp").toString(), QStringLiteral("2026-01-31T09:15:00Z"));
    const QString id = json.value("id").toString();
    EXPECT_EQ(id, id.toUpper());
    EXPECT_EQ(id.size(), 36);
}

TEST(UsageSnapshot, FullRoundTripKeepsEveryField)
{
    UsageSnapshot s = minimalSnapshot();
    s.resetAt = s.timestamp.addSecs(3600);
    s.windowDurationMins = 300;
    s.limitId = QStringLiteral("claude-5h");
    s.limitName = QStringLiteral("5-hour limit");
    s.modelId = QStringLiteral("claude-opus-4-8");
    s.modelDisplayName = QStringLiteral("Opus 4.8");
    s.effortLevel = QStringLiteral("high");
    s.thinkingEnabled = false;
    s.speedMode = QStringLiteral("fast");
    s.planType = QStringLiteral("Max, 20x");
    s.rateLimitReachedType = QStringLiteral("five_hour");
    s.account = QStringLiteral("1a2b3c4d");
    const auto decoded = UsageSnapshot::fromJson(s.toJson());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(*decoded, s);
}
