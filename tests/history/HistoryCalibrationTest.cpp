#include "history/HistoryCalibration.h"
#include "core/text/Zone.h"

#include "support/CraftedTotals.h"
#include "support/Reading.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

const QDateTime kNow(QDate(2026, 5, 12), QTime(14, 0, 0), Zone::utc());

UsageSnapshot weekly(double used, std::optional<QDateTime> resetAt = kNow.addDays(3))
{
    return TestSupport::reading(Provider::claude, WindowKind::sevenDay, kNow, used, resetAt);
}

TEST(HistoryCalibration, ProjectsTheUsualDayOverTheDaysLeft)
{
    // Four active days of 100,000 tokens, all inside the window (it began four days ago); 40 % used.
    const UsageTotals totals =
        TestSupport::craftedTotals(Provider::claude, {0, 0, 0, 100'000, 100'000, 100'000, 100'000}, kNow);
    struct Row
    {
        double scale;
        double projected;
        double headroom;
    } rows[] = {{1, 70, 6}, {2, 100, 3}, {5, 140, 1.2}};
    for (const Row& row : rows) {
        const auto p = HistoryCalibration::project(totals, Provider::claude, weekly(40), row.scale, kNow);
        ASSERT_TRUE(p) << row.scale;
        EXPECT_EQ(p->tokensThisWindow, 400'000);
        EXPECT_DOUBLE_EQ(p->avgDailyTokens, 100'000);
        EXPECT_NEAR(p->dailyBurnPercent, 10 * row.scale, 1e-9);
        EXPECT_NEAR(p->projectedUsedAtReset, row.projected, 1e-6);
        EXPECT_DOUBLE_EQ(p->daysRemaining, 3);
        EXPECT_NEAR(p->daysOfHeadroom, row.headroom, 1e-9);
        EXPECT_EQ(p->activeDays, 4);
    }

    // What cannot be grounded gets no projection.
    const UsageTotals empty = TestSupport::craftedTotals(Provider::claude, {}, kNow);
    EXPECT_FALSE(HistoryCalibration::project(empty, Provider::claude, weekly(40), 1, kNow));
    EXPECT_FALSE(HistoryCalibration::project(totals, Provider::claude, weekly(0), 1, kNow));
    EXPECT_FALSE(HistoryCalibration::project(totals, Provider::claude, weekly(40, std::nullopt), 1, kNow));
    EXPECT_FALSE(HistoryCalibration::project(totals, Provider::codex, weekly(40), 1, kNow));
    // Past the reset nothing is left to burn: the projection is what is used, never negative days.
    const auto past =
        HistoryCalibration::project(totals, Provider::claude, weekly(40, kNow.addSecs(-60)), 1, kNow);
    ASSERT_TRUE(past);
    EXPECT_DOUBLE_EQ(past->projectedUsedAtReset, 40);
    EXPECT_DOUBLE_EQ(past->daysRemaining, 0);
}

} // namespace
