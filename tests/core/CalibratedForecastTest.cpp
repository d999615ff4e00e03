#include "core/forecast/CalibratedForecast.h"

#include "core/ForecastSeries.h"
#include "core/QtPrinters.h"

#include <gtest/gtest.h>

#include <limits>

using namespace ForecastSeries;

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();

// A smart-basis weekly forecast at 60 % whose window resets 10 days after the origin.
ForecastResult weeklyForecast(ForecastBasis basis = ForecastBasis::smart,
                              WindowKind window = WindowKind::sevenDay)
{
    ForecastResult r;
    r.provider = Provider::codex;
    r.windowKind = window;
    r.basis = basis;
    r.currentUsedPercent = 60;
    r.currentRemainingPercent = 40;
    r.resetAt = at(10 * 1440);
    r.timeUntilReset = 9 * 86400.0; // evaluated a day after the origin
    r.projectedUsedAtReset = 90;
    r.projectedRemainingAtReset = 10;
    r.estimatedTimeToLimit = 5000;
    r.limitBeforeReset = true;
    r.confidence = SourceConfidence::low;
    r.status = ForecastStatus::watch;
    r.humanSummary = QStringLiteral("At 1h pace: ~90% by reset (est.) · limit in ~1h 23m");
    r.sampleCount = 12;
    return r;
}

CalibratedProjection projection(double projected, qint64 activeDays, double uncapped = 0)
{
    CalibratedProjection p;
    p.projectedUsedAtReset = projected;
    p.uncappedUsedAtReset = uncapped;
    p.activeDays = activeDays;
    return p;
}

} // namespace

TEST(CalibratedForecast, ReplacesTheProjectionOfSmartLongWindowsOnly)
{
    struct Row
    {
        const char* situation;
        ForecastResult forecast;
        CalibratedProjection projection;
        bool applies;
        std::optional<double> timeToLimit;
        SourceConfidence confidence;
    };
    // The run-out lies on the line from 60 % now to the projection at the reset (minute 14400).
    const Row rows[] = {
        {"over 100: the line starts now", weeklyForecast(), projection(120, 5), true, 12960 * 60 * 40.0 / 60,
         SourceConfidence::high},
        {"under 100: no limit", weeklyForecast(), projection(80, 4), true, std::nullopt,
         SourceConfidence::medium},
        {"exactly 100: the limit arrives with the reset", weeklyForecast(), projection(100, 3), true,
         9 * 86400.0, SourceConfidence::medium},
        {"evaluated late: still ahead of now", weeklyForecast(), projection(140, 2), true,
         2880 * 60 * 40.0 / 80, SourceConfidence::low},
        {"capped at 140: run-out on the uncapped line", weeklyForecast(), projection(140, 5, 200), true,
         2880 * 60 * 40.0 / 140, SourceConfidence::high},
        {"basis other than smart", weeklyForecast(ForecastBasis::last1h), projection(120, 5), false,
         std::nullopt, SourceConfidence{}},
        {"five-hour window", weeklyForecast(ForecastBasis::smart, WindowKind::fiveHour), projection(120, 5),
         false, std::nullopt, SourceConfidence{}},
    };
    for (const Row& row : rows) {
        // Evaluated a day after the origin; the 140 rows eight days after it.
        const QDateTime now = at(row.projection.projectedUsedAtReset == 140 ? 8 * 1440 : 1440);
        const ForecastResult r = CalibratedForecast::apply(row.forecast, row.projection, now);
        if (!row.applies) {
            EXPECT_EQ(r, row.forecast) << row.situation;
            continue;
        }
        const double p = row.projection.projectedUsedAtReset;
        EXPECT_EQ(r.projectedUsedAtReset, p) << row.situation;
        EXPECT_EQ(r.projectedRemainingAtReset, std::max(0.0, 100 - p)) << row.situation;
        EXPECT_EQ(r.limitBeforeReset, p >= 100) << row.situation;
        ASSERT_EQ(r.estimatedTimeToLimit.has_value(), row.timeToLimit.has_value()) << row.situation;
        ASSERT_EQ(r.runOutAt.has_value(), row.timeToLimit.has_value()) << row.situation;
        if (r.estimatedTimeToLimit) {
            EXPECT_NEAR(*r.estimatedTimeToLimit, *row.timeToLimit, 0.001) << row.situation;
            EXPECT_LE(std::abs(r.runOutAt->msecsTo(now) + qint64(*r.estimatedTimeToLimit * 1000)), 1)
                << row.situation;
        }
        EXPECT_EQ(r.confidence, row.confidence) << row.situation;
        EXPECT_EQ(r.humanSummary,
                  QStringLiteral("From your usage history: ~%1% used by reset (est.).").arg(p))
            << row.situation;
        EXPECT_EQ(r.status, row.forecast.status) << "the weekly rule re-classifies afterwards";
    }
}

TEST(CalibratedForecast, WeeklyStatusRule)
{
    struct Row
    {
        double current;
        std::optional<double> projected;
        ForecastStatus expected;
    };
    const Row rows[] = {
        {50, 101, ForecastStatus::risky},         {50, 100, ForecastStatus::risky},
        {50, 96, ForecastStatus::watch},          {50, 95, ForecastStatus::watch},
        {50, 94.9, ForecastStatus::safe},         {50, 80, ForecastStatus::safe},
        {100, 50, ForecastStatus::limited},       {97, std::nullopt, ForecastStatus::watch},
        {20, std::nullopt, ForecastStatus::safe},
    };
    for (const Row& row : rows) {
        ForecastResult r = weeklyForecast();
        r.status = ForecastStatus::limitLikely;
        r.currentUsedPercent = row.current;
        r.projectedUsedAtReset = row.projected;
        EXPECT_EQ(CalibratedForecast::weeklyStatus(r), row.expected) << row.current;
        EXPECT_EQ(CalibratedForecast::applyWeeklyStatus(r).status, row.expected) << row.current;
    }
}

TEST(CalibratedForecast, HeadroomLabel)
{
    struct Row
    {
        double dailyBurn;
        double daysOfHeadroom;
        std::optional<QString> expected;
    };
    const Row rows[] = {
        {0.1, 3, std::nullopt},
        {5, inf, std::nullopt},
        {20, 0.5, QStringLiteral("~12h of your usual usage left")},
        {20, 2.25, QStringLiteral("~2.2 days of your usual usage left")},
        {20, 1, QStringLiteral("~1.0 days of your usual usage left")},
        {20, 0, QStringLiteral("~0h of your usual usage left")},
    };
    for (const Row& row : rows) {
        CalibratedProjection p;
        p.dailyBurnPercent = row.dailyBurn;
        p.daysOfHeadroom = row.daysOfHeadroom;
        EXPECT_EQ(CalibratedForecast::headroomLabel(p), row.expected) << row.daysOfHeadroom;
    }
}
