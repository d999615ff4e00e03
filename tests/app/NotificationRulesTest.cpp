#include "app/NotificationRules.h"
#include "AppTestSupport.h"

#include <gtest/gtest.h>

#include <limits>

using NotificationRules::Alert;

namespace NotificationRules {
void PrintTo(const Alert& alert, std::ostream* out)
{
    *out << alert.key.toStdString() << " | " << alert.title.toStdString() << " | " << alert.body.toStdString()
         << (alert.critical ? " | critical" : "");
}
} // namespace NotificationRules

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

QDateTime utc(int month, int day, int hour, int minute = 0)
{
    return QDateTime(QDate(2026, month, day), QTime(hour, minute), Qt::UTC);
}

struct ForecastCase
{
    const char* name;
    ForecastResult forecast;
    QList<Alert> expected;
};
void PrintTo(const ForecastCase& row, std::ostream* out)
{
    *out << row.name;
}

ForecastResult fiveHour(Provider provider, double used, std::optional<double> projected = std::nullopt,
                        std::optional<double> timeToLimit = std::nullopt,
                        ForecastBasis basis = ForecastBasis::smart)
{
    ForecastResult f = AppTest::forecast(provider, WindowKind::fiveHour, used);
    f.projectedUsedAtReset = projected;
    f.estimatedTimeToLimit = timeToLimit;
    f.basis = basis;
    return f;
}

Alert usage(const QString& body)
{
    return {"codex-5h-usage", 1800, "Codex 5h usage high", body};
}
Alert burn(const QString& body)
{
    return {"claude-5h-forecast", 1800, "Claude Code burn rate high", body};
}
Alert closeToLimit(const QString& body)
{
    return {"codex-5h-ttl", 1800, "Codex close to limit", body, true};
}

class ForecastAlerts : public ::testing::TestWithParam<ForecastCase>
{};

TEST_P(ForecastAlerts, KeysConditionsAndTexts)
{
    AppSettings settings; // thresholds 70, 90, 60 min; cooldown 30 min
    EXPECT_EQ(NotificationRules::forecastAlerts({GetParam().forecast}, {}, settings), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    FiveHour, ForecastAlerts,
    ::testing::Values(
        ForecastCase{"UsageExactlyAtThreshold",
                     fiveHour(Provider::codex, 70),
                     {usage("5h usage is above 70% (now 70%).")}},
        ForecastCase{"UsageJustBelow", fiveHour(Provider::codex, 69.99), {}},
        ForecastCase{
            "UsageTruncated", fiveHour(Provider::codex, 85.9), {usage("5h usage is above 70% (now 85%).")}},
        ForecastCase{
            "UsageInfinite", fiveHour(Provider::codex, inf), {usage("5h usage is above 70% (now \u2014).")}},
        ForecastCase{"UsageNaN", fiveHour(Provider::codex, nan), {}},
        ForecastCase{"ForecastExactlyAtThreshold",
                     fiveHour(Provider::claude, 10, 90),
                     {burn("At your Smart pace, projected 90% by reset.")}},
        ForecastCase{"ForecastJustBelow", fiveHour(Provider::claude, 10, 89.99), {}},
        ForecastCase{"ForecastBasisLabel",
                     fiveHour(Provider::claude, 10, 112.7, {}, ForecastBasis::last30m),
                     {burn("At your 30m pace, projected 112% by reset.")}},
        ForecastCase{"ForecastInfinite",
                     fiveHour(Provider::claude, 10, inf),
                     {burn("At your Smart pace, projected \u2014 by reset.")}},
        ForecastCase{"TimeToLimitExactlyAtThreshold", fiveHour(Provider::codex, 10, {}, 3600), {}},
        ForecastCase{"TimeToLimitJustUnder",
                     fiveHour(Provider::codex, 10, {}, 3599),
                     {closeToLimit("You may hit the 5h limit in ~59m.")}},
        ForecastCase{"TimeToLimitUnderAMinute",
                     fiveHour(Provider::codex, 10, {}, 30),
                     {closeToLimit("You may hit the 5h limit in ~<1m.")}},
        ForecastCase{"TimeToLimitPassed",
                     fiveHour(Provider::codex, 10, {}, -180),
                     {closeToLimit("You may hit the 5h limit now.")}},
        ForecastCase{"TimeToLimitMinusInfinity",
                     fiveHour(Provider::codex, 10, {}, -inf),
                     {closeToLimit("You may hit the 5h limit in ~\u2014.")}},
        ForecastCase{"TimeToLimitNaN", fiveHour(Provider::codex, 10, {}, nan), {}},
        ForecastCase{"AllThreeInOrder",
                     fiveHour(Provider::codex, 95, 120, 1200),
                     {usage("5h usage is above 70% (now 95%)."),
                      {"codex-5h-forecast", 1800, "Codex burn rate high",
                       "At your Smart pace, projected 120% by reset."},
                      closeToLimit("You may hit the 5h limit in ~20m.")}},
        ForecastCase{
            "OnlyFiveHourWindows", AppTest::forecast(Provider::codex, WindowKind::sevenDay, 99), {}}),
    [](const auto& row) { return std::string(row.param.name); });

struct PaceCase
{
    const char* name;
    std::optional<double> projectedEnd;
    double paceDelta;
    double paceThreshold;
    QList<Alert> expected;
};
void PrintTo(const PaceCase& row, std::ostream* out)
{
    *out << row.name;
}

class PaceAlerts : public ::testing::TestWithParam<PaceCase>
{};

TEST_P(PaceAlerts, KeysConditionsAndTexts)
{
    AppSettings settings;
    settings.notificationCooldownMinutes = 10;
    settings.notificationThresholds.weeklyPaceAbovePoints = GetParam().paceThreshold;
    PaceResult pace;
    pace.projectedEnd = GetParam().projectedEnd;
    pace.paceDelta = GetParam().paceDelta;
    EXPECT_EQ(NotificationRules::forecastAlerts({}, {{Provider::claude, pace}}, settings),
              GetParam().expected);
}

Alert paceAlert(const QString& body)
{
    return {"claude-weekly-pace", 600, "Claude Code above weekly pace", body};
}

INSTANTIATE_TEST_SUITE_P(
    Weekly, PaceAlerts,
    ::testing::Values(
        PaceCase{"ProjectionExactlyAtThreshold",
                 100,
                 0,
                 10,
                 {{"claude-weekly-proj", 600, "Claude Code weekly pace warning", "Projected finish 100%."}}},
        PaceCase{"ProjectionJustBelow", 99.99, 0, 10, {}}, PaceCase{"NoProjection", std::nullopt, 0, 10, {}},
        PaceCase{"DeltaExactlyAtThreshold", {}, 10, 10, {paceAlert("You are +10pp above ideal pace.")}},
        PaceCase{"DeltaTruncated", {}, 12.9, 10, {paceAlert("You are +12pp above ideal pace.")}},
        PaceCase{"DeltaJustBelow", {}, 9.99, 10, {}},
        PaceCase{
            "NegativeDeltaOverANegativeThreshold", {}, -3, -5, {paceAlert("You are -3pp above ideal pace.")}},
        PaceCase{"DeltaInfinite", {}, inf, 10, {paceAlert("You are \u2014 above ideal pace.")}},
        PaceCase{"DeltaNaN", {}, nan, 10, {}}),
    [](const auto& row) { return std::string(row.param.name); });

struct RunOutCase
{
    const char* name;
    QDateTime now;
    const char* zone;
    double projected;
    double headroom;
    double daysRemaining;
    QList<Alert> expected;
};
void PrintTo(const RunOutCase& row, std::ostream* out)
{
    *out << row.name;
}

class RunOutAlerts : public ::testing::TestWithParam<RunOutCase>
{};

TEST_P(RunOutAlerts, KeysConditionsAndTexts)
{
    const RunOutCase& c = GetParam();
    CalibratedProjection p;
    p.projectedUsedAtReset = c.projected;
    p.daysOfHeadroom = c.headroom;
    p.daysRemaining = c.daysRemaining;
    const QTimeZone zone(c.zone);
    ASSERT_TRUE(zone.isValid()) << c.zone;
    EXPECT_EQ(NotificationRules::runOutAlerts({{Provider::codex, p}}, c.now, zone), c.expected);
}

Alert runOut(const QString& key, const QString& body)
{
    return {key, 64'800, "Codex will run out early", body, true};
}

INSTANTIATE_TEST_SUITE_P(
    Calibrated, RunOutAlerts,
    ::testing::Values(
        // Friday plus three days is Monday of the next week.
        RunOutCase{"AcrossTheWeekBoundary",
                   utc(5, 15, 10),
                   "Europe/London",
                   120,
                   3,
                   5,
                   {runOut("codex-runout-20588", "At your usual pace it runs out Mon (~2d before reset).")}},
        // Saturday 20:00 UTC plus six hours: still Saturday in New York, already Sunday in London.
        RunOutCase{"WeekdayOfNewYork",
                   utc(5, 16, 20),
                   "America/New_York",
                   100,
                   0.25,
                   2,
                   {runOut("codex-runout-20589", "At your usual pace it runs out Sat (~2d before reset).")}},
        RunOutCase{"WeekdayOfLondon",
                   utc(5, 16, 20),
                   "Europe/London",
                   100,
                   0.25,
                   2,
                   {runOut("codex-runout-20589", "At your usual pace it runs out Sun (~2d before reset).")}},
        // "%.0f" as printf rounds it: a half goes to the even neighbour.
        RunOutCase{"EarlyRoundedLikePrintf",
                   utc(5, 15, 10),
                   "UTC",
                   110,
                   2.5,
                   5,
                   {runOut("codex-runout-20588", "At your usual pace it runs out Sun (~2d before reset).")}},
        RunOutCase{
            "EndlessWindowPrintsADash",
            utc(5, 15, 10),
            "UTC",
            110,
            1,
            inf,
            {runOut("codex-runout-20588", "At your usual pace it runs out Sat (~\u2014 before reset).")}},
        RunOutCase{"ProjectionUnder100", utc(5, 15, 10), "UTC", 99.9, 1, 5, {}},
        RunOutCase{"HeadroomInfinite", utc(5, 15, 10), "UTC", 120, inf, 5, {}},
        RunOutCase{"HeadroomNaN", utc(5, 15, 10), "UTC", 120, nan, 5, {}},
        RunOutCase{"HeadroomExactlyThreeQuartersShort", utc(5, 15, 10), "UTC", 120, 4.25, 5, {}}),
    [](const auto& row) { return std::string(row.param.name); });

struct BudgetCase
{
    const char* name;
    std::optional<ClaudeExtraUsage> extra;
    double budget;
    std::optional<Alert> expected;
};
void PrintTo(const BudgetCase& row, std::ostream* out)
{
    *out << row.name;
}

class BudgetAlert : public ::testing::TestWithParam<BudgetCase>
{};

TEST_P(BudgetAlert, KeysConditionsAndTexts)
{
    AppSettings settings;
    settings.extraUsageBudgetGBP = GetParam().budget;
    EXPECT_EQ(NotificationRules::budgetAlert(GetParam().extra, settings, utc(5, 12, 14)),
              GetParam().expected);
}

ClaudeExtraUsage spent(double used, const char* currency = "GBP", bool enabled = true)
{
    return {enabled, used, 100.0, QString::fromLatin1(currency)};
}
Alert at80(const char* percent, const QString& body)
{
    return {"overage-80-20585", 64'800, QStringLiteral("Overage budget at ") + QLatin1String(percent), body};
}
Alert reached(const QString& body)
{
    return {"overage-100-20585", 64'800, "Overage budget reached", body};
}

INSTANTIATE_TEST_SUITE_P(
    Overage, BudgetAlert,
    ::testing::Values(BudgetCase{"EightyFivePercent", spent(42.5), 50,
                                 at80("85%", "Claude overage spend is £42.50 of your £50 budget.")},
                      BudgetCase{"ExactlyEighty", spent(40), 50,
                                 at80("80%", "Claude overage spend is £40.00 of your £50 budget.")},
                      BudgetCase{"JustUnderEighty", spent(39.99), 50, std::nullopt},
                      BudgetCase{"ExactlyTheBudget", spent(50), 50,
                                 reached("Claude overage spend is £50.00 \u2014 at/over your £50 budget.")},
                      BudgetCase{"OverTheBudgetInDollars", spent(75, "USD"), 50,
                                 reached("Claude overage spend is $75.00 \u2014 at/over your $50 budget.")},
                      BudgetCase{"Euros", spent(42.5, "EUR"), 50,
                                 at80("85%", "Claude overage spend is €42.50 of your €50 budget.")},
                      BudgetCase{"OtherCurrencyByCode", spent(42.5, "CHF"), 50,
                                 at80("85%", "Claude overage spend is CHF 42.50 of your CHF 50 budget.")},
                      // "%.2f" as printf rounds the exact binary value.
                      BudgetCase{"CentsRoundedLikePrintf", spent(40.125), 50,
                                 at80("80%", "Claude overage spend is £40.12 of your £50 budget.")},
                      BudgetCase{"ExtraUsageOff", spent(60, "GBP", false), 50, std::nullopt},
                      BudgetCase{"NoBudget", spent(60), 0, std::nullopt},
                      BudgetCase{"NoFigures", std::nullopt, 50, std::nullopt},
                      BudgetCase{"SpendNaN", spent(nan), 50, std::nullopt}),
    [](const auto& row) { return std::string(row.param.name); });

struct SnoozeCase
{
    const char* name;
    const char* zone;
    QDate day; // and time, on the zone's wall clock
    QTime time;
    QDateTime expectedUtc;
};
void PrintTo(const SnoozeCase& row, std::ostream* out)
{
    *out << row.name;
}

class SnoozeUntilTomorrow : public ::testing::TestWithParam<SnoozeCase>
{};

TEST_P(SnoozeUntilTomorrow, IsNineOnTheNextCalendarDay)
{
    const QTimeZone zone(GetParam().zone);
    const QDateTime now(GetParam().day, GetParam().time, zone);
    EXPECT_EQ(NotificationRules::snoozeUntilTomorrow(now, zone), GetParam().expectedUtc);
}

INSTANTIATE_TEST_SUITE_P(
    Snooze, SnoozeUntilTomorrow,
    ::testing::Values(
        SnoozeCase{"LateEvening", "Europe/Berlin", QDate(2026, 5, 12), QTime(23, 30), utc(5, 13, 7)},
        SnoozeCase{"EarlyMorningStillMeansTomorrow", "Europe/Berlin", QDate(2026, 5, 12), QTime(8, 0),
                   utc(5, 13, 7)},
        // The next day has 25 hours: adding 24 hours and looking for the next 09:00 would give Monday.
        SnoozeCase{"BeforeTheClocksGoBack", "Europe/London", QDate(2026, 10, 24), QTime(23, 30),
                   utc(10, 25, 9)},
        SnoozeCase{"BeforeTheClocksGoForward", "America/New_York", QDate(2026, 3, 7), QTime(23, 30),
                   utc(3, 8, 13)}),
    [](const auto& row) { return std::string(row.param.name); });

} // namespace
