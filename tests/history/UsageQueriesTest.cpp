#include "history/UsageQueries.h"
#include "core/text/Zone.h"
#include "history/Pricing.h"
#include "history/ZoneCalendar.h"

#include <gtest/gtest.h>

namespace {

using namespace UsageQueries;

const QDateTime noon = QDateTime(QDate(2025, 6, 15), QTime(12, 0), Zone::utc());

qint64 dayNumber(int offset)
{
    return *ZoneCalendar::parseDayKey(QStringLiteral("2025-06-15")) + offset;
}

UsageTotals withDays(std::initializer_list<std::pair<int, qint64>> days, Provider provider = Provider::claude)
{
    UsageTotals totals;
    totals.zone = "UTC";
    for (const auto& [offset, tokens] : days) {
        totals.of(provider).dayTokens[dayNumber(offset)] = tokens;
        totals.of(provider).dayCostNanos[dayNumber(offset)] = tokens * 1000;
    }
    return totals;
}

UsageTotals withHours(std::initializer_list<std::pair<int, qint64>> hours)
{
    UsageTotals totals;
    totals.zone = "UTC";
    for (const auto& [hour, tokens] : hours)
        totals.of(Provider::codex).hourTokens[static_cast<std::size_t>(hour)] = tokens;
    return totals;
}

TEST(UsageQueries, DaySeriesAndSums)
{
    EXPECT_EQ(recentSeries(withDays({{0, 5}}), Provider::claude, 3, noon),
              (std::vector<DayTokens>{{"2025-06-13", 0}, {"2025-06-14", 0}, {"2025-06-15", 5}}));
    // Days without tokens do not pull the average down.
    EXPECT_DOUBLE_EQ(averageDailyTokens(withDays({{-4, 100}, {-2, 300}}), Provider::claude, 7, noon), 200.0);
    EXPECT_DOUBLE_EQ(averageDailyTokens(withDays({}), Provider::claude, 7, noon), 0.0);
    EXPECT_EQ(
        weeklyTotals(withDays({{-13, 1}, {-7, 2}, {-6, 4}, {0, 8}, {-14, 100}}), Provider::claude, 2, noon),
        (std::vector<qint64>{3, 12}));
    // Whole days: a `since` late yesterday counts all of yesterday.
    const UsageTotals totals = withDays({{-2, 1}, {-1, 2}, {0, 4}});
    EXPECT_EQ(tokens(totals, Provider::claude, noon.addDays(-1).addSecs(11 * 3600 + 59 * 60)), 6);
    EXPECT_DOUBLE_EQ(costUSD(totals, Provider::claude, noon.addDays(-1)), 6e-6);
    EXPECT_EQ(tokens(totals, Provider::codex, noon.addDays(-9)), 0);
}

TEST(UsageQueries, DaysAreLocalToTheHistorysZone)
{
    UsageTotals totals = withDays({{0, 7}});
    totals.zone = "Pacific/Auckland"; // 15 June 12:00Z is already 16 June there
    EXPECT_EQ(tokens(totals, Provider::claude, noon), 0);
    EXPECT_EQ(recentSeries(totals, Provider::claude, 2, noon).back().day, QStringLiteral("2025-06-16"));
}

TEST(UsageQueries, PeakWindow)
{
    struct Row
    {
        const char* name;
        UsageTotals totals;
        std::optional<HourSpan> expected;
    } rows[] = {
        {"all in hour 22", withHours({{22, 10}}), HourSpan{19, 23}},
        {"all in hour 0: never wraps", withHours({{0, 10}}), HourSpan{0, 4}},
        {"equal hours 1 and 9: the first span", withHours({{1, 5}, {9, 5}}), HourSpan{0, 4}},
        {"no hourly data", withHours({}), std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(peakWindow(row.totals, 4), row.expected);
    }
}

TEST(UsageQueries, EffectiveDays)
{
    const UsageTotals night = withHours({{2, 10}});
    EXPECT_DOUBLE_EQ(effectiveDays(night, noon, noon.addDays(1), Provider::codex), 1.0);
    EXPECT_DOUBLE_EQ(effectiveDays(night, noon, noon.addSecs(12 * 3600), Provider::codex), 0.0);
    EXPECT_DOUBLE_EQ(effectiveDays(withHours({}), noon, noon.addSecs(12 * 3600), Provider::codex), 0.5);
    EXPECT_DOUBLE_EQ(effectiveDays(night, noon, noon.addSecs(-60), Provider::codex), 0.0);
    // Half an hour of an hour that holds all the volume, starting mid-hour.
    EXPECT_DOUBLE_EQ(
        effectiveDays(night, noon.addSecs(14 * 3600 + 30 * 60), noon.addSecs(15 * 3600), Provider::codex),
        0.5);
}

TEST(Pricing, RatesByModelName)
{
    struct Row
    {
        const char* model;
        double input, output, cacheRead, cacheWrite;
    } rows[] = {
        {"claude-opus-4-1-20250805", 15.0, 75.0, 1.5, 18.75},
        {"Claude-HAIKU-3-5", 0.8, 4.0, 0.08, 1.0},
        {"claude-sonnet-4-5", 3.0, 15.0, 0.3, 3.75},
        {"", 3.0, 15.0, 0.3, 3.75},
        {"opus-haiku", 15.0, 75.0, 1.5, 18.75},
        {"HAI\xe2\x84\xaaU", 0.8, 4.0, 0.08, 1.0}, // the Kelvin sign lower-cases to k
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.model);
        const Pricing::Rate rate = Pricing::claudeRate(row.model);
        EXPECT_EQ(rate.input, row.input);
        EXPECT_EQ(rate.output, row.output);
        EXPECT_EQ(rate.cacheRead, row.cacheRead);
        EXPECT_EQ(rate.cacheWrite, row.cacheWrite);
    }
    EXPECT_EQ(Pricing::codexCostNanos(1000, 800, 100), 1350000); // 0.00135 USD: reasoning is inside output
}

} // namespace
