#include "core/forecast/BurnRateCalculator.h"

#include "core/ForecastSeries.h"
#include "core/QtPrinters.h"

#include <gtest/gtest.h>

using namespace ForecastSeries;

TEST(BurnRateCalculator, LatestSeriesCutsAtTheLastResetBoundary)
{
    struct Row
    {
        const char* situation;
        QList<UsageSnapshot> series;
        qsizetype expectedStart;
    };
    const auto shifted = [](double minute, double used, double resetMinute) {
        return sample(minute, used, resetMinute);
    };
    const Row rows[] = {
        {"empty", {}, 0},
        {"single snapshot", {sample(0, 50)}, 0},
        {"sharp drop 77 -> 6 is a reset", series({{0, 70}, {10, 77}, {20, 6}, {30, 8}}), 2},
        {"small dip 77 -> 75 is not", series({{0, 70}, {10, 77}, {20, 75}}), 0},
        {"drop of exactly 12 is not", series({{0, 70}, {10, 58}}), 0},
        {"drop of just over 12 is", series({{0, 70}, {10, 57.9}}), 1},
        {"reset moving 601 s while usage rises", {shifted(0, 10, 300), shifted(10, 20, 300 + 601.0 / 60)}, 1},
        {"reset moving exactly 600 s", {shifted(0, 10, 300), shifted(10, 20, 310)}, 0},
        {"only one side has a reset",
         {sample(0, 10, 300), sample(10, 20, std::nullopt), sample(20, 30, 900)},
         0},
        {"the last of several boundaries wins", series({{0, 50}, {10, 5}, {20, 40}, {30, 2}, {40, 3}}), 3},
    };
    for (const Row& row : rows) {
        const QList<UsageSnapshot> cut = BurnRateCalculator::latestSeries(row.series);
        EXPECT_EQ(cut, row.series.mid(row.expectedStart)) << row.situation;
    }
}

TEST(BurnRateCalculator, RatePerBasisIsAnchoredOnTheLatestSnapshot)
{
    using BR = BurnRateCalculator::BurnRate;
    struct Row
    {
        const char* situation;
        QList<UsageSnapshot> series;
        ForecastBasis basis;
        std::optional<BR> expected;
    };
    QList<UsageSnapshot> noReset = series({{119.8, 20}, {120, 20}});
    for (UsageSnapshot& s : noReset)
        s.resetAt.reset();
    const Row rows[] = {
        {"one snapshot", {sample(0, 10)}, ForecastBasis::last1h, std::nullopt},
        {"30 s apart is below the minimum span", series({{0, 10}, {0.5, 11}}), ForecastBasis::last1h,
         std::nullopt},
        {"exactly 36 s (0.01 h) is still too short", series({{0, 10}, {0.6, 11}}), ForecastBasis::last1h,
         std::nullopt},
        {"steady 12 points an hour", ramp(0, 10, 60, 22, 7), ForecastBasis::last1h,
         BR{12, 7, 1, ForecastBasis::last1h}},
        {"last30m keeps a sample exactly at the cutoff", series({{0, 0}, {20, 10}, {50, 12}, {80, 16}}),
         ForecastBasis::last30m, BR{8, 2, 0.5, ForecastBasis::last30m}},
        {"last6h drops older samples", series({{0, 0}, {400, 10}, {520, 14}}), ForecastBasis::last6h,
         BR{2, 2, 2, ForecastBasis::last6h}},
        {"last24h spans the day", series({{0, 0}, {1440, 48}}), ForecastBasis::last24h,
         BR{2, 2, 24, ForecastBasis::last24h}},
        {"since window start assumes 0 % at the start", series({{120, 20}, {180, 30}}),
         ForecastBasis::sinceWindowStart, BR{10, 2, 3, ForecastBasis::sinceWindowStart}},
        {"since window start needs a duration",
         {sample(0, 5, 300, std::nullopt), sample(60, 10, 300, std::nullopt)},
         ForecastBasis::sinceWindowStart,
         std::nullopt},
        {"smart: samples in the last 45 min use 1h", series({{15, 10}, {30, 11}, {45, 12}, {60, 13}}),
         ForecastBasis::smart, BR{4, 4, 0.75, ForecastBasis::last1h}},
        {"smart: nothing in the last hour but the latest falls to 3h", series({{0, 10}, {30, 12}, {150, 20}}),
         ForecastBasis::smart, BR{4, 3, 2.5, ForecastBasis::last3h}},
        {"smart: two very close samples fall to since window start", series({{119.8, 20}, {120, 20}}),
         ForecastBasis::smart, BR{10, 2, 2, ForecastBasis::sinceWindowStart}},
        {"smart: nothing measurable", noReset, ForecastBasis::smart, std::nullopt},
    };
    const QDateTime muchLater = at(10 * 60 * 24);
    for (const Row& row : rows) {
        const auto rate = BurnRateCalculator::burnRate(row.series, row.basis, muchLater);
        ASSERT_EQ(rate.has_value(), row.expected.has_value()) << row.situation;
        if (!rate)
            continue;
        EXPECT_NEAR(rate->percentPerHour, row.expected->percentPerHour, 1e-9) << row.situation;
        EXPECT_NEAR(rate->spanHours, row.expected->spanHours, 1e-9) << row.situation;
        EXPECT_EQ(rate->sampleCount, row.expected->sampleCount) << row.situation;
        EXPECT_EQ(rate->basisUsed, row.expected->basisUsed) << row.situation;
    }
}
