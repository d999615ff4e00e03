#include "core/forecast/PaceCalculator.h"
#include "core/text/Zone.h"

#include "core/ForecastSeries.h"
#include "core/QtPrinters.h"
#include "core/ZoneGuard.h"

#include <gtest/gtest.h>

#include <limits>

using namespace ForecastSeries;

namespace {

using V = PaceResult::Verdict;
constexpr double week = 7 * 1440;
constexpr double half = week / 2;

// A weekly snapshot whose window started at the origin and resets a week later.
UsageSnapshot weekly(double used, std::optional<double> resetMinute = week,
                     std::optional<double> windowMins = week)
{
    UsageSnapshot s = sample(0, used, resetMinute, windowMins);
    s.windowKind = WindowKind::sevenDay;
    return s;
}

} // namespace

TEST(PaceCalculator, VerdictsAllowancesAndSummaries)
{
    struct Row
    {
        const char* situation;
        UsageSnapshot snapshot;
        double nowMinute;
        double dailyTarget;
        V verdict;
        double ratio;
        double delta;
        std::optional<double> projectedEnd;
        std::optional<double> allowance;
        double daysRemaining;
        const char* summary;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Row rows[] = {
        {"no reset time", weekly(50, std::nullopt), half, 14.3, V::noData, 0, 0, std::nullopt, std::nullopt,
         0, "Pace unavailable (no window data)."},
        {"no window length", weekly(50, week, 0), half, 14.3, V::noData, 0, 0, std::nullopt, std::nullopt, 0,
         "Pace unavailable (no window data)."},
        {"even spread at half time", weekly(50), half, 14.3, V::onPace, 0.5, 0, 100, 50 / 3.5, 3.5,
         "On pace. ~14%/day available."},
        {"exactly +5 is on pace", weekly(55), half, 14.3, V::onPace, 0.5, 5, 110, 45 / 3.5, 3.5,
         "On pace. ~13%/day available."},
        {"exactly -5 is on pace", weekly(45), half, 14.3, V::onPace, 0.5, -5, 90, 55 / 3.5, 3.5,
         "On pace. ~16%/day available."},
        {"ahead of pace", weekly(62), half, 14.3, V::overPace, 0.5, 12, 124, 38 / 3.5, 3.5,
         "Over pace by +12pp. Daily budget ~14.3%."},
        {"behind pace", weekly(42), half, 14.3, V::underPace, 0.5, -8, 84, 58 / 3.5, 3.5,
         "Under pace by -8pp. Headroom of ~17%/day."},
        {"90 % at half time projects 180, shown as 140", weekly(90), half, 14.3, V::overPace, 0.5, 40, 140,
         10 / 3.5, 3.5, "Over pace by +40pp. Daily budget ~14.3%."},
        {"an hour into the window: no projection yet", weekly(3), 60, 14.3, V::onPace, 60 / week,
         3 - 6000 / week, std::nullopt, 97 / ((week - 60) / 1440), (week - 60) / 1440,
         "On pace. ~14%/day available."},
        {"an hour before reset: allowance over 0.1 day", weekly(97), week - 60, 14.3, V::onPace,
         1 - 60 / week, 97 - 100 * (1 - 60 / week), 97 / (1 - 60 / week), 30, 60.0 / 1440,
         "On pace. ~30%/day available."},
        {"after the reset time: nothing of the new window is known", weekly(80), week + 120, 14.3, V::noData,
         0, 0, std::nullopt, std::nullopt, 0, "Pace unavailable (no window data)."},
        {"a reset over 400 days ahead counts as unknown", weekly(50, 410 * 1440.0), half, 14.3, V::noData, 0,
         0, std::nullopt, std::nullopt, 0, "Pace unavailable (no window data)."},
        {"a window over 400 days long", weekly(50, week, 401 * 1440.0), half, 14.3, V::noData, 0, 0,
         std::nullopt, std::nullopt, 0, "Pace unavailable (no window data)."},
        {"a daily target that is not a number", weekly(62), half, nan, V::overPace, 0.5, 12, 124, 38 / 3.5,
         3.5, "Over pace by +12pp. Daily budget ~—."},
    };
    for (const Row& row : rows) {
        const PaceResult r =
            PaceCalculator::pace(row.snapshot, row.dailyTarget, std::nullopt, at(row.nowMinute));
        EXPECT_EQ(r.verdict, row.verdict) << row.situation;
        EXPECT_NEAR(r.elapsedRatio, row.ratio, 1e-9) << row.situation;
        EXPECT_NEAR(r.idealUsageNow, row.ratio * 100, 1e-7) << row.situation;
        EXPECT_NEAR(r.paceDelta, row.delta, 1e-7) << row.situation;
        ASSERT_EQ(r.projectedEnd.has_value(), row.projectedEnd.has_value()) << row.situation;
        if (r.projectedEnd) {
            EXPECT_NEAR(*r.projectedEnd, *row.projectedEnd, 1e-7) << row.situation;
        }
        ASSERT_EQ(r.remainingDailyAllowance.has_value(), row.allowance.has_value()) << row.situation;
        if (r.remainingDailyAllowance) {
            EXPECT_NEAR(*r.remainingDailyAllowance, *row.allowance, 1e-7) << row.situation;
        }
        EXPECT_NEAR(r.daysRemaining, row.daysRemaining, 1e-9) << row.situation;
        EXPECT_EQ(r.summary, QString::fromUtf8(row.summary)) << row.situation;
    }
}

TEST(PaceCalculator, SleepingHoursDoNotCountAsElapsed)
{
    ZoneGuard zone("Europe/London");
    // Monday 00:00 local (GMT in March) to the next Monday; 23:00-07:00 nights leave 112 waking hours.
    const QDateTime start(QDate(2026, 3, 2), QTime(0, 0), Zone::local());
    UsageSnapshot s = weekly(20);
    s.resetAt = start.addDays(7);
    const SleepSchedule on{true, 23 * 60, 7 * 60};
    const SleepSchedule off{false, 23 * 60, 7 * 60};
    const QDateTime bedtime = start.addSecs(23 * 3600);
    const QDateTime wakeUp = start.addSecs(31 * 3600);

    const PaceResult atBedtime = PaceCalculator::pace(s, 14.3, on, bedtime);
    const PaceResult atWakeUp = PaceCalculator::pace(s, 14.3, on, wakeUp);
    EXPECT_NEAR(atBedtime.elapsedRatio, 16.0 / 112, 1e-9);
    EXPECT_NEAR(atWakeUp.elapsedRatio, 16.0 / 112, 1e-9);
    // Wall-clock days are still what the allowance spreads over.
    EXPECT_NEAR(atWakeUp.daysRemaining, (168.0 - 31) / 24, 1e-9);
    EXPECT_NEAR(PaceCalculator::pace(s, 14.3, off, bedtime).elapsedRatio, 23.0 / 168, 1e-9);
    EXPECT_NEAR(PaceCalculator::pace(s, 14.3, std::nullopt, wakeUp).elapsedRatio, 31.0 / 168, 1e-9);
}
