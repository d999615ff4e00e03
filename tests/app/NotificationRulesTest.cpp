#include "app/NotificationRules.h"
#include "AppTestSupport.h"
#include "core/text/Zone.h"

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
    return QDateTime(QDate(2026, month, day), QTime(hour, minute), Zone::utc());
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

TEST(NotificationRules, FiveHourAlerts)
{
    const auto usage = [](const char* now) {
        return Alert{"codex-5h-usage", 1800, "Codex 5h usage high",
                     QStringLiteral("5h usage is above 70% (now %1).").arg(QString::fromUtf8(now))};
    };
    const auto burn = [](const char* pace, const char* projected) {
        return Alert{"claude-5h-forecast", 1800, "Claude Code burn rate high",
                     QStringLiteral("At your %1 pace, projected %2 by reset.")
                         .arg(pace, QString::fromUtf8(projected))};
    };
    const auto closeToLimit = [](const char* when) {
        return Alert{"codex-5h-ttl", 1800, "Codex close to limit",
                     QStringLiteral("You may hit the 5h limit %1.").arg(QString::fromUtf8(when)), true};
    };
    const struct
    {
        const char* name;
        ForecastResult forecast;
        QList<Alert> expected;
    } rows[] = {
        {"usage exactly at the threshold", fiveHour(Provider::codex, 70), {usage("70%")}},
        {"usage just below", fiveHour(Provider::codex, 69.99), {}},
        {"usage truncated", fiveHour(Provider::codex, 85.9), {usage("85%")}},
        {"usage infinite", fiveHour(Provider::codex, inf), {usage("\u2014")}},
        {"usage NaN", fiveHour(Provider::codex, nan), {}},
        {"forecast exactly at the threshold", fiveHour(Provider::claude, 10, 90), {burn("Smart", "90%")}},
        {"forecast just below", fiveHour(Provider::claude, 10, 89.99), {}},
        {"forecast basis label",
         fiveHour(Provider::claude, 10, 112.7, {}, ForecastBasis::last30m),
         {burn("30m", "112%")}},
        {"forecast infinite", fiveHour(Provider::claude, 10, inf), {burn("Smart", "\u2014")}},
        {"time to limit exactly at the threshold", fiveHour(Provider::codex, 10, {}, 3600), {}},
        {"time to limit just under", fiveHour(Provider::codex, 10, {}, 3599), {closeToLimit("in ~59m")}},
        {"time to limit under a minute", fiveHour(Provider::codex, 10, {}, 30), {closeToLimit("in ~<1m")}},
        {"time to limit passed", fiveHour(Provider::codex, 10, {}, -180), {closeToLimit("now")}},
        {"time to limit minus infinity",
         fiveHour(Provider::codex, 10, {}, -inf),
         {closeToLimit("in ~\u2014")}},
        {"time to limit NaN", fiveHour(Provider::codex, 10, {}, nan), {}},
        {"all three in order",
         fiveHour(Provider::codex, 95, 120, 1200),
         {usage("95%"),
          {"codex-5h-forecast", 1800, "Codex burn rate high", "At your Smart pace, projected 120% by reset."},
          closeToLimit("in ~20m")}},
        {"only five-hour windows", AppTest::forecast(Provider::codex, WindowKind::sevenDay, 99), {}},
    };
    for (const auto& row : rows) // thresholds 70, 90, 60 min; cooldown 30 min
        EXPECT_EQ(NotificationRules::forecastAlerts({row.forecast}, {}, AppSettings{}), row.expected)
            << row.name;
}

// Another account's alerts are named as its card is and keyed apart, so that the default account's alert
// never holds back its own.
TEST(NotificationRules, AnotherAccountsAlertsNameAndKeyIt)
{
    const auto account = [](bool isDefault, Provider provider, const char* key, const char* label,
                            const QList<ForecastResult>& forecasts) {
        return AppTest::account(isDefault, provider, key, label, {}, forecasts);
    };
    const Alert defaultUsage{"claude-5h-usage", 1800, "Claude Code 5h usage high",
                             "5h usage is above 70% (now 75%)."};
    const Alert workUsage{"claude-bbbb2222-5h-usage", 1800, "Claude Code \u00b7 work 5h usage high",
                          "5h usage is above 70% (now 80%)."};
    const Alert workClose{"claude-bbbb2222-5h-ttl", 1800, "Claude Code \u00b7 work close to limit",
                          "You may hit the 5h limit in ~10m.", true};
    const struct
    {
        const char* name;
        QList<AccountForecasts> accounts;
        QList<Alert> expected;
    } rows[] = {
        {"both accounts high: one alert each",
         {account(true, Provider::claude, "aaaa1111", "me", {}),
          account(false, Provider::claude, "bbbb2222", "work", {fiveHour(Provider::claude, 80, {}, 600)})},
         {defaultUsage, workUsage, workClose}},
        {"an account's long window alerts nothing",
         {account(false, Provider::claude, "bbbb2222", "work",
                  {AppTest::forecast(Provider::claude, WindowKind::sevenDay, 99)})},
         {defaultUsage}},
        {"an account of a disabled assistant alerts nothing",
         {account(false, Provider::codex, "cccc3333", "work", {fiveHour(Provider::codex, 99)})},
         {defaultUsage}},
    };
    AppSettings settings;
    settings.enabledProviders = {Provider::claude};
    for (const auto& row : rows)
        EXPECT_EQ(
            NotificationRules::forecastAlerts({fiveHour(Provider::claude, 75)}, {}, settings, row.accounts),
            row.expected)
            << row.name;
}

TEST(NotificationRules, WeeklyPaceAlerts)
{
    const auto ahead = [](const char* delta) {
        return Alert{"claude-weekly-pace", 600, "Claude Code above weekly pace",
                     QStringLiteral("You are %1 above ideal pace.").arg(QString::fromUtf8(delta))};
    };
    const Alert projection{"claude-weekly-proj", 600, "Claude Code weekly pace warning",
                           "Projected finish 100%."};
    const struct
    {
        const char* name;
        std::optional<double> projectedEnd;
        double paceDelta;
        double threshold;
        QList<Alert> expected;
    } rows[] = {
        {"projection exactly at the threshold", 100, 0, 10, {projection}},
        {"projection just below", 99.99, 0, 10, {}},
        {"no projection", std::nullopt, 0, 10, {}},
        {"delta exactly at the threshold", {}, 10, 10, {ahead("+10pp")}},
        {"delta truncated", {}, 12.9, 10, {ahead("+12pp")}},
        {"delta just below", {}, 9.99, 10, {}},
        {"negative delta over a negative threshold", {}, -3, -5, {ahead("-3pp")}},
        {"delta infinite", {}, inf, 10, {ahead("\u2014")}},
        {"delta NaN", {}, nan, 10, {}},
    };
    for (const auto& row : rows) {
        AppSettings settings;
        settings.notificationCooldownMinutes = 10;
        settings.notificationThresholds.weeklyPaceAbovePoints = row.threshold;
        PaceResult pace;
        pace.projectedEnd = row.projectedEnd;
        pace.paceDelta = row.paceDelta;
        EXPECT_EQ(NotificationRules::forecastAlerts({}, {{Provider::claude, pace}}, settings), row.expected)
            << row.name;
    }
}

TEST(NotificationRules, RunOutAlerts)
{
    const auto runOut = [](int day, const char* weekday, const char* early) {
        return Alert{QStringLiteral("codex-runout-%1").arg(day), 64'800, "Codex will run out early",
                     QStringLiteral("At your usual pace it runs out %1 (~%2 before reset).")
                         .arg(weekday, QString::fromUtf8(early)),
                     true};
    };
    const struct
    {
        const char* name;
        QDateTime now;
        const char* zone;
        double projected, headroom, daysRemaining;
        QList<Alert> expected;
    } rows[] = {
        // Friday plus three days is Monday of the next week.
        {"across the week boundary",
         utc(5, 15, 10),
         "Europe/London",
         120,
         3,
         5,
         {runOut(20588, "Mon", "2d")}},
        // Saturday 20:00 UTC plus six hours: still Saturday in New York, already Sunday in London.
        {"weekday of New York",
         utc(5, 16, 20),
         "America/New_York",
         100,
         0.25,
         2,
         {runOut(20589, "Sat", "2d")}},
        {"weekday of London", utc(5, 16, 20), "Europe/London", 100, 0.25, 2, {runOut(20589, "Sun", "2d")}},
        // "%.0f" as printf rounds it: a half goes to the even neighbour.
        {"early rounded like printf", utc(5, 15, 10), "UTC", 110, 2.5, 5, {runOut(20588, "Sun", "2d")}},
        {"endless window prints a dash",
         utc(5, 15, 10),
         "UTC",
         110,
         1,
         inf,
         {runOut(20588, "Sat", "\u2014")}},
        {"projection under 100", utc(5, 15, 10), "UTC", 99.9, 1, 5, {}},
        {"headroom infinite", utc(5, 15, 10), "UTC", 120, inf, 5, {}},
        {"headroom NaN", utc(5, 15, 10), "UTC", 120, nan, 5, {}},
        {"headroom exactly three quarters short", utc(5, 15, 10), "UTC", 120, 4.25, 5, {}},
    };
    for (const auto& row : rows) {
        CalibratedProjection p;
        p.projectedUsedAtReset = row.projected;
        p.daysOfHeadroom = row.headroom;
        p.daysRemaining = row.daysRemaining;
        const QTimeZone zone(row.zone);
        ASSERT_TRUE(zone.isValid()) << row.zone;
        EXPECT_EQ(NotificationRules::runOutAlerts({{Provider::codex, p}}, row.now, zone), row.expected)
            << row.name;
    }
}

TEST(NotificationRules, OverageBudgetAlert)
{
    const auto spent = [](double used, const char* currency = "GBP", bool enabled = true) {
        return std::optional(ClaudeExtraUsage{enabled, used, 100.0, QString::fromLatin1(currency)});
    };
    const auto at80 = [](const char* percent, const char* spend, const char* budget) {
        return Alert{"overage-80-20585", 64'800,
                     QStringLiteral("Overage budget at ") + QLatin1String(percent),
                     QStringLiteral("Claude overage spend is %1 of your %2 budget.")
                         .arg(QString::fromUtf8(spend), QString::fromUtf8(budget))};
    };
    const auto reached = [](const char* spend, const char* budget) {
        return Alert{"overage-100-20585", 64'800, "Overage budget reached",
                     QStringLiteral("Claude overage spend is %1 \u2014 at/over your %2 budget.")
                         .arg(QString::fromUtf8(spend), QString::fromUtf8(budget))};
    };
    const struct
    {
        const char* name;
        std::optional<ClaudeExtraUsage> extra;
        double budget;
        std::optional<Alert> expected;
    } rows[] = {
        {"85 %", spent(42.5), 50, at80("85%", "£42.50", "£50")},
        {"exactly 80 %", spent(40), 50, at80("80%", "£40.00", "£50")},
        {"just under 80 %", spent(39.99), 50, std::nullopt},
        {"exactly the budget", spent(50), 50, reached("£50.00", "£50")},
        {"over the budget in dollars", spent(75, "USD"), 50, reached("$75.00", "$50")},
        {"euros", spent(42.5, "EUR"), 50, at80("85%", "€42.50", "€50")},
        {"other currency by code", spent(42.5, "CHF"), 50, at80("85%", "CHF 42.50", "CHF 50")},
        // "%.2f" as printf rounds the exact binary value.
        {"cents rounded like printf", spent(40.125), 50, at80("80%", "£40.12", "£50")},
        {"extra usage off", spent(60, "GBP", false), 50, std::nullopt},
        {"no budget", spent(60), 0, std::nullopt},
        {"no figures", std::nullopt, 50, std::nullopt},
        {"spend NaN", spent(nan), 50, std::nullopt},
    };
    for (const auto& row : rows) {
        AppSettings settings;
        settings.extraUsageBudgetGBP = row.budget;
        EXPECT_EQ(NotificationRules::budgetAlert(row.extra, settings, utc(5, 12, 14)), row.expected)
            << row.name;
    }
}

TEST(NotificationRules, SnoozeUntilTomorrowIsNineOnTheNextCalendarDay)
{
    const struct
    {
        const char* zone;
        QDate day; // and time, on the zone's wall clock
        QTime time;
        QDateTime expectedUtc;
    } rows[] = {
        {"Europe/Berlin", QDate(2026, 5, 12), QTime(23, 30), utc(5, 13, 7)},
        {"Europe/Berlin", QDate(2026, 5, 12), QTime(8, 0),
         utc(5, 13, 7)}, // early morning still means tomorrow
        // The next day has 25 hours: adding 24 hours and looking for the next 09:00 would give Monday.
        {"Europe/London", QDate(2026, 10, 24), QTime(23, 30), utc(10, 25, 9)},
        {"America/New_York", QDate(2026, 3, 7), QTime(23, 30), utc(3, 8, 13)},
    };
    for (const auto& row : rows) {
        const QTimeZone zone(row.zone);
        EXPECT_EQ(NotificationRules::snoozeUntilTomorrow(QDateTime(row.day, row.time, zone), zone),
                  row.expectedUtc)
            << row.zone << ' ' << row.time.toString().toStdString();
    }
}

} // namespace
