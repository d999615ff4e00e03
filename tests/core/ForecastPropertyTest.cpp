#include "core/forecast/CalibratedForecast.h"
#include "core/forecast/ForecastEngine.h"
#include "core/forecast/ForecastMath.h"
#include "core/forecast/PaceCalculator.h"
#include "core/forecast/RecommendationEngine.h"
#include "core/forecast/ScenarioEngine.h"

#include "core/ForecastSeries.h"
#include "core/QtPrinters.h"
#include "core/ZoneGuard.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

using namespace ForecastSeries;

namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();
constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();

// Random series in the shapes that break naive arithmetic: unsorted, equal and invalid timestamps,
// non-finite, negative and huge numbers, resets that come and go.
class SeriesGenerator
{
public:
    explicit SeriesGenerator(unsigned seed) : m_random(seed) {}

    // `hostile` mixes in the numbers no provider should send.
    QList<UsageSnapshot> next(bool hostile)
    {
        QList<UsageSnapshot> out;
        const int count = pick(0, 40);
        const double reset = pick(-600, 12000);
        double minute = pick(0, 600);
        double used = pick(0, 100);
        for (int i = 0; i < count; ++i) {
            minute += chance(0.15) ? 0 : (chance(0.1) ? -pick(1, 300) : pick(0, 90) + uniform());
            used += chance(0.1) ? -pick(0, 80) : uniform() * pick(0, 15);
            if (hostile && chance(0.08))
                used = pickOf({notANumber, infinity, -infinity, -1e300, 1e308, -5});
            UsageSnapshot s =
                sample(minute, used, chance(0.9) ? std::optional<double>(reset + pick(0, 11)) : std::nullopt);
            if (chance(0.05))
                s.windowDurationMins = hostile ? pickOf({notANumber, infinity, -1, 0, 1e300}) : 10080;
            if (chance(0.04))
                s.rateLimitReachedType = QStringLiteral("rate_limit_reached");
            if (hostile && chance(0.04))
                s.timestamp = QDateTime();
            if (hostile && chance(0.04))
                s.remainingPercent = pickOf({notANumber, -infinity, -20});
            out << s;
        }
        return out;
    }

    ForecastBasis basis() { return allForecastBases[static_cast<size_t>(pick(0, 6))]; }
    bool chance(double p) { return uniform() < p; }
    int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(m_random); }
    double uniform() { return std::uniform_real_distribution<double>(0, 1)(m_random); }
    double pickOf(std::initializer_list<double> values)
    {
        return *(values.begin() + pick(0, static_cast<int>(values.size()) - 1));
    }

private:
    std::mt19937 m_random;
};

bool allFinite(const QList<UsageSnapshot>& series)
{
    for (const UsageSnapshot& s : series) {
        if (!std::isfinite(s.usedPercent) || !std::isfinite(s.remainingPercent) || !s.timestamp.isValid())
            return false;
    }
    return true;
}

} // namespace

TEST(ForecastProperties, InvariantsHoldOverRandomSeries)
{
    ZoneGuard zone("Europe/London");
    SeriesGenerator gen(20261206);
    const SleepSchedule nights{true, 23 * 60, 7 * 60};
    int burning = 0;
    int limited = 0;
    for (int round = 0; round < 3000; ++round) {
        const bool hostile = round % 3 == 0;
        const QList<UsageSnapshot> series = gen.next(hostile);
        const ForecastBasis basis = gen.basis();
        const std::optional<SleepSchedule> sleep = gen.chance(0.3) ? std::optional(nights) : std::nullopt;
        const QDateTime now = at(gen.pick(0, 14000));
        ForecastResult r;
        ASSERT_NO_THROW(
            r = ForecastEngine::forecast(Provider::codex, WindowKind::fiveHour, series, basis, sleep, now))
            << "round " << round;
        const std::string where = "round " + std::to_string(round);

        EXPECT_EQ(r.id(), QStringLiteral("codex-fiveHour"));
        EXPECT_EQ(r.limitBeforeReset, r.estimatedTimeToLimit.has_value()) << where;
        const bool held = r.projectedUsedAtReset && r.status != ForecastStatus::limited &&
                          r.burnRatePercentPerHour.value_or(0) == 0;
        if (held) {
            // Holding keeps what the provider stated, however odd.
            EXPECT_TRUE(ForecastMath::sameNumber(*r.projectedUsedAtReset, r.currentUsedPercent)) << where;
            EXPECT_TRUE(ForecastMath::sameNumber(r.projectedRemainingAtReset, r.currentRemainingPercent))
                << where;
        } else if (r.projectedUsedAtReset && std::isfinite(*r.projectedUsedAtReset)) {
            EXPECT_GE(*r.projectedUsedAtReset, 0) << where;
            EXPECT_LE(*r.projectedUsedAtReset, 140) << where;
            ASSERT_TRUE(r.projectedRemainingAtReset.has_value()) << where;
            EXPECT_EQ(*r.projectedRemainingAtReset, std::max(0.0, 100 - *r.projectedUsedAtReset)) << where;
        }
        if (!hostile && r.projectedUsedAtReset) {
            EXPECT_TRUE(std::isfinite(*r.projectedUsedAtReset)) << where;
        }
        // One run-out instant: the time to limit counted from now.
        ASSERT_EQ(r.runOutAt.has_value(), r.estimatedTimeToLimit.has_value()) << where;
        if (r.runOutAt) {
            EXPECT_LE(std::abs(now.msecsTo(*r.runOutAt) - qint64(*r.estimatedTimeToLimit * 1000)), 1)
                << where;
        }
        if (r.estimatedTimeToLimit && r.status != ForecastStatus::limited) {
            EXPECT_LT(*r.estimatedTimeToLimit, r.timeUntilReset.value_or(-infinity)) << where;
        }
        if (r.status == ForecastStatus::limited) {
            ++limited;
            EXPECT_EQ(r.estimatedTimeToLimit, 0.0) << where;
        }
        if (r.burnRatePercentPerHour.value_or(0) > 0)
            ++burning;
        if (allFinite(series)) {
            EXPECT_FALSE(r.humanSummary.contains(QStringLiteral("nan"), Qt::CaseInsensitive)) << where;
        }
        EXPECT_FALSE(r.humanSummary.isEmpty()) << where;
        EXPECT_EQ(r, r) << "a result equals itself, even with NaN inside: " << where;

        // The engines downstream take whatever the forecast produced.
        if (series.isEmpty())
            continue;
        const UsageSnapshot& latest = series.last();
        PaceResult pace;
        ASSERT_NO_THROW(pace = PaceCalculator::pace(latest, 14.3, sleep, now)) << where;
        EXPECT_GE(pace.elapsedRatio, 0) << where;
        EXPECT_LE(pace.elapsedRatio, 1) << where;
        EXPECT_GE(pace.daysRemaining, 0) << where;
        if (pace.projectedEnd && std::isfinite(*pace.projectedEnd)) {
            EXPECT_GE(*pace.projectedEnd, 0) << where;
            EXPECT_LE(*pace.projectedEnd, 140) << where;
        }
        const double future = std::max(0.0, r.projectedUsedAtReset.value_or(0) - r.currentUsedPercent);
        QList<ScenarioResult> scenarios;
        ASSERT_NO_THROW(scenarios = ScenarioEngine::scenarios(Provider::codex, r.currentUsedPercent, future,
                                                              latest, r.confidence, now))
            << where;
        for (const ScenarioResult& s : scenarios) {
            if (s.projectedUsedAtReset && std::isfinite(*s.projectedUsedAtReset)) {
                EXPECT_GE(*s.projectedUsedAtReset, 0) << where;
                EXPECT_LE(*s.projectedUsedAtReset, 140) << where;
            }
        }
        CalibratedProjection calibrated;
        calibrated.projectedUsedAtReset = gen.pickOf({notANumber, 99, 100, 101, 140, -3});
        calibrated.activeDays = gen.pick(0, 7);
        ForecastResult weekly = r;
        weekly.windowKind = WindowKind::sevenDay;
        weekly.basis = ForecastBasis::smart;
        ASSERT_NO_THROW(weekly = CalibratedForecast::applyWeeklyStatus(
                            CalibratedForecast::apply(weekly, calibrated, now)))
            << where;
        EXPECT_EQ(weekly.limitBeforeReset && weekly.resetAt.has_value() && weekly.currentUsedPercent < 100,
                  weekly.estimatedTimeToLimit.has_value() && weekly.resetAt.has_value() &&
                      weekly.currentUsedPercent < 100)
            << where;
        EXPECT_NE(weekly.status, ForecastStatus::limitLikely) << where;
        const QList<RecommendationEngine::Input> inputs{
            {Provider::codex, r, weekly, pace, latest},
            {Provider::claude, r, std::nullopt, std::nullopt, {}}};
        ASSERT_NO_THROW((void)RecommendationEngine::recommendations(inputs)) << where;
    }
    // The generator must actually reach the interesting shapes.
    EXPECT_GT(burning, 300);
    EXPECT_GT(limited, 100);
}
