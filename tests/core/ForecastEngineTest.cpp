#include "core/forecast/ForecastEngine.h"

#include "core/ForecastSeries.h"
#include "core/QtPrinters.h"
#include "core/ZoneGuard.h"

#include <gtest/gtest.h>

using namespace ForecastSeries;

namespace {

using S = ForecastStatus;
using C = SourceConfidence;
constexpr std::nullopt_t none = std::nullopt;

struct Expected
{
    S status;
    C confidence;
    double current;
    std::optional<double> projected;
    std::optional<double> remaining;
    std::optional<double> rate;
    std::optional<double> timeToLimit;
    bool limitBeforeReset;
    std::optional<double> runOutMinute;
    const char* summary;
    qint64 sampleCount;
};

Expected expect(S status, C confidence, double current, std::optional<double> projected,
                std::optional<double> remaining, std::optional<double> rate,
                std::optional<double> timeToLimit, bool limitBeforeReset, std::optional<double> runOutMinute,
                const char* summary, qint64 sampleCount)
{
    return {status,      confidence,       current,      projected, remaining,  rate,
            timeToLimit, limitBeforeReset, runOutMinute, summary,   sampleCount};
}

struct Row
{
    const char* situation;
    QList<UsageSnapshot> series;
    ForecastBasis basis;
    double nowMinute;
    std::optional<SleepSchedule> sleep;
    Expected e;
};

QList<UsageSnapshot> flaggedAt60()
{
    QList<UsageSnapshot> out = ramp(0, 40, 60, 60, 3);
    out.last().rateLimitReachedType = QStringLiteral("rate_limit_reached");
    return out;
}

// A provider whose remaining does not add up: 50 % used, -10 % remaining.
QList<UsageSnapshot> overdrawn()
{
    QList<UsageSnapshot> out = ramp(0, 20, 60, 50, 7);
    out.last().remainingPercent = -10;
    return out;
}

// Idle at a negative usage, with a remaining that does not add up to 100.
QList<UsageSnapshot> overdrawnAndIdle()
{
    QList<UsageSnapshot> out = ramp(0, -5, 60, -5, 7);
    out.last().remainingPercent = 97;
    return out;
}

QList<UsageSnapshot> withoutReset(QList<UsageSnapshot> series)
{
    for (UsageSnapshot& s : series)
        s.resetAt.reset();
    return series;
}

SleepSchedule nights(bool enabled)
{
    return SleepSchedule{enabled, 23 * 60, 7 * 60};
}

void expectOptional(const std::optional<double>& actual, const std::optional<double>& expected,
                    const char* what, const char* situation)
{
    ASSERT_EQ(actual.has_value(), expected.has_value()) << what << ": " << situation;
    if (actual) {
        EXPECT_NEAR(*actual, *expected, 1e-6) << what << ": " << situation;
    }
}

} // namespace

TEST(ForecastEngine, ResultShapesForTheSituationsAUserMeets)
{
    ZoneGuard zone("Europe/London"); // the night rows run 21:00-09:00 local time (GMT in March)
    constexpr auto h1 = ForecastBasis::last1h;
    const Row rows[] = {
        {"fresh window, nothing stored", QList<UsageSnapshot>(), h1, 0, none,
         expect(S::noData, C::low, 0, none, none, none, none, false, none,
                "Not enough activity to forecast yet.", 0)},
        {"steady burn", ramp(0, 10, 60, 22, 7), h1, 60, none,
         expect(S::safe, C::medium, 22, 70, 30, 12, none, false, none,
                "At 1h pace: ~70% by reset (est.) · limit not before reset", 7)},
        {"burst: clamped at 140, limit before reset", ramp(0, 20, 60, 50, 7), h1, 60, none,
         expect(S::risky, C::medium, 50, 140, 0, 30, 6000, true, 160,
                "At 1h pace: ~140% by reset (est.) · limit in ~1h 40m", 7)},
        {"limit within the hour (45 minutes)", ramp(0, 30, 60, 70, 7), h1, 60, none,
         expect(S::limitLikely, C::medium, 70, 140, 0, 40, 2700, true, 105,
                "At 1h pace: ~140% by reset (est.) · limit in ~45m", 7)},
        {"limit within the hour but the window resets first", ramp(0, 30, 60, 90, 7, 65), h1, 60, none,
         expect(S::limitLikely, C::medium, 90, 95, 5, 60, none, false, none,
                "At 1h pace: ~95% by reset (est.) · limit not before reset", 7)},
        {"idle", ramp(0, 40, 60, 40, 7), h1, 60, none,
         expect(S::safe, C::medium, 40, 40, 60, 0, none, false, none, "No recent burn. Holding at 40%.", 0)},
        {"falling usage counts as idle, watch from 80 %", ramp(0, 90, 60, 85, 7), h1, 60, none,
         expect(S::watch, C::medium, 85, 85, 15, 0, none, false, none, "No recent burn. Holding at 85%.", 0)},
        {"holding keeps the usage and remaining the provider stated", overdrawnAndIdle(), h1, 60, none,
         expect(S::safe, C::medium, -5, -5, 97, 0, none, false, none, "No recent burn. Holding at -5%.", 0)},
        {"remaining below zero under 100 %: the limit is due now", overdrawn(), h1, 60, none,
         expect(S::limitLikely, C::medium, 50, 140, 0, 30, 0, true, 60,
                "At 1h pace: ~140% by reset (est.) · limit in ~now", 7)},
        {"limit hit", ramp(0, 80, 60, 100, 7), h1, 60, none,
         expect(S::limited, C::high, 100, 100, 0, none, 0, true, 60, "Limit reached. Resets in 4h.", 0)},
        {"past its reset with nothing read since, even at the limit", ramp(0, 80, 60, 100, 7), h1, 305, none,
         expect(S::safe, C::low, 0, none, none, none, none, false, none,
                "Window has reset. Waiting for a new reading.", 0)},
        {"past its reset while burning", ramp(0, 20, 60, 50, 7), h1, 300, none,
         expect(S::safe, C::low, 0, none, none, none, none, false, none,
                "Window has reset. Waiting for a new reading.", 0)},
        {"provider flags the limit at 60 %", flaggedAt60(), h1, 60, none,
         expect(S::limited, C::high, 60, 100, 0, none, 0, true, 60, "Limit reached. Resets in 4h.", 0)},
        {"limit hit, reset unknown", withoutReset({sample(0, 100)}), h1, 60, none,
         expect(S::limited, C::high, 100, 100, 0, none, 0, true, 60, "Limit reached. Resets —.", 0)},
        {"reset time unknown", withoutReset(ramp(0, 30, 60, 42, 5)), h1, 60, none,
         expect(S::noData, C::low, 42, none, none, none, none, false, none,
                "Current usage 42%. Reset time unknown.", 0)},
        {"a reset over 400 days ahead counts as unknown, even with nights to walk",
         ramp(0, 30, 60, 42, 5, 401.0 * 1440), h1, 60, nights(true),
         expect(S::noData, C::low, 42, none, none, none, none, false, none,
                "Current usage 42%. Reset time unknown.", 0)},
        {"two samples 30 s apart", series({{59.5, 40}, {60, 42}}), h1, 60, none,
         expect(S::safe, C::low, 42, 42, 58, none, none, false, none,
                "Not enough activity to forecast yet. Current 42%.", 0)},
        {"two samples 30 s apart at 85 %", series({{59.5, 84}, {60, 85}}), h1, 60, none,
         expect(S::watch, C::low, 85, 85, 15, none, none, false, none,
                "Not enough activity to forecast yet. Current 85%.", 0)},
        {"reset mid-series: only the new window counts",
         series({{0, 60}, {10, 70}, {20, 77}}, 30) + series({{40, 6}, {50, 8}, {60, 10}}, 340), h1, 60, none,
         expect(S::safe, C::low, 10, 66, 34, 12, none, false, none,
                "At 1h pace: ~66% by reset (est.) · limit not before reset", 3)},
        {"smart names the basis it fell back to", series({{119.8, 20}, {120, 20}}), ForecastBasis::smart, 120,
         none,
         expect(S::safe, C::low, 20, 50, 50, 10, none, false, none,
                "At Start pace: ~50% by reset (est.) · limit not before reset", 2)},
        {"overnight, sleep on: only waking hours burn", ramp(540, 45, 600, 50, 7, 1260), h1, 600,
         nights(true),
         expect(S::safe, C::medium, 50, 65, 35, 5, none, false, none,
                "At 1h pace: ~65% by reset (est.) · limit not before reset", 7)},
        {"same night, schedule present but off", ramp(540, 45, 600, 50, 7, 1260), h1, 600, nights(false),
         expect(S::risky, C::medium, 50, 105, 0, 5, 36000, true, 1200,
                "At 1h pace: ~105% by reset (est.) · limit in ~10h", 7)},
        {"overnight, sleep on: the run-out is the time to limit, stretched over the night",
         ramp(540, 40, 600, 50, 7, 1440), h1, 600, nights(true),
         expect(S::risky, C::medium, 50, 110, 0, 10, 46800, true, 1380,
                "At 1h pace: ~110% by reset (est.) · limit in ~13h", 7)},
    };
    for (const Row& row : rows) {
        const ForecastResult r = ForecastEngine::forecast(Provider::claude, WindowKind::fiveHour, row.series,
                                                          row.basis, row.sleep, at(row.nowMinute));
        const Expected& e = row.e;
        EXPECT_EQ(r.id(), QStringLiteral("claude-fiveHour"));
        EXPECT_EQ(r.basis, row.basis) << row.situation;
        EXPECT_EQ(r.status, e.status) << row.situation;
        EXPECT_EQ(r.confidence, e.confidence) << row.situation;
        EXPECT_EQ(r.currentUsedPercent, e.current) << row.situation;
        expectOptional(r.projectedUsedAtReset, e.projected, "projected", row.situation);
        expectOptional(r.projectedRemainingAtReset, e.remaining, "remaining", row.situation);
        expectOptional(r.burnRatePercentPerHour, e.rate, "rate", row.situation);
        expectOptional(r.estimatedTimeToLimit, e.timeToLimit, "time to limit", row.situation);
        EXPECT_EQ(r.limitBeforeReset, e.limitBeforeReset) << row.situation;
        ASSERT_EQ(r.runOutAt.has_value(), e.runOutMinute.has_value()) << row.situation;
        if (r.runOutAt) {
            EXPECT_LE(std::abs(r.runOutAt->msecsTo(at(*e.runOutMinute))), 1000) << row.situation;
        }
        EXPECT_EQ(r.humanSummary, QString::fromUtf8(e.summary)) << row.situation;
        EXPECT_EQ(r.sampleCount, e.sampleCount) << row.situation;
        const bool resetKnown = !row.series.isEmpty() && row.series.last().resetAt.has_value() &&
                                at(row.nowMinute).daysTo(*row.series.last().resetAt) <= 400;
        EXPECT_EQ(r.timeUntilReset.has_value(), resetKnown) << row.situation;
        if (resetKnown) {
            EXPECT_EQ(*r.timeUntilReset, at(row.nowMinute).secsTo(*row.series.last().resetAt))
                << row.situation;
        }
    }
}

TEST(ForecastEngine, SnapshotsArriveInAnyOrder)
{
    QList<UsageSnapshot> shuffled = ramp(0, 20, 60, 50, 7);
    std::swap(shuffled[0], shuffled[5]);
    std::swap(shuffled[2], shuffled[6]);
    UsageSnapshot timeless = sample(0, 99);
    timeless.timestamp = QDateTime();
    shuffled << timeless; // cannot be placed in time, so it takes no part
    const ForecastResult sorted = ForecastEngine::forecast(
        Provider::codex, WindowKind::sevenDay, ramp(0, 20, 60, 50, 7), ForecastBasis::last1h, none, at(60));
    const ForecastResult unsorted = ForecastEngine::forecast(Provider::codex, WindowKind::sevenDay, shuffled,
                                                             ForecastBasis::last1h, none, at(60));
    EXPECT_EQ(unsorted, sorted);
    EXPECT_EQ(sorted.id(), QStringLiteral("codex-sevenDay"));
    EXPECT_EQ(sorted.burnRatePercentPerHour, 30);
}

TEST(ForecastEngine, ConfidenceFollowsTheSampleCount)
{
    const std::pair<qint64, C> rows[] = {{0, C::low},     {3, C::low},   {4, C::low},  {5, C::medium},
                                         {23, C::medium}, {24, C::high}, {30, C::high}};
    for (const auto& [count, confidence] : rows)
        EXPECT_EQ(ForecastEngine::confidenceForSampleCount(count), confidence) << count;
}
