#include "app/StateReports.h"

#include "AppTestSupport.h"
#include "support/CraftedTotals.h"

#include <gtest/gtest.h>

using namespace AppTest;

namespace {

UsageSnapshot seen(Provider provider, WindowKind window, qint64 ageSeconds, const QString& source)
{
    UsageSnapshot s = TestSupport::reading(provider, window, kNow.addSecs(-ageSeconds), 30);
    s.source = source;
    return s;
}

TEST(StateReports, FreshnessSaysHowOldTheNewestReadingIs)
{
    const QString app = QStringLiteral("codex.app-server");
    const QString oauth = QStringLiteral("claude.oauth");
    const QString estimate = QStringLiteral("claude.transcript");
    struct Row
    {
        QList<UsageSnapshot> snapshots;
        Provider provider;
        std::optional<QString> label;
    } rows[] = {
        {{seen(Provider::codex, WindowKind::fiveHour, 400, app)}, Provider::codex, QStringLiteral("live")},
        {{seen(Provider::codex, WindowKind::sevenDay, 600, app),
          seen(Provider::codex, WindowKind::fiveHour, 900, app)},
         Provider::codex,
         QStringLiteral("as of 10m ago")},
        {{seen(Provider::claude, WindowKind::fiveHour, 1199, oauth)},
         Provider::claude,
         QStringLiteral("live")},
        // A newer estimate does not make a stale live reading fresh.
        {{seen(Provider::claude, WindowKind::fiveHour, 1500, oauth),
          seen(Provider::claude, WindowKind::fiveHour, 0, estimate)},
         Provider::claude,
         QStringLiteral("synced 25m ago")},
        {{seen(Provider::claude, WindowKind::sevenDay, 0, estimate)},
         Provider::claude,
         QStringLiteral("estimated")},
        {{seen(Provider::codex, WindowKind::fiveHour, 0, app)}, Provider::claude, std::nullopt},
    };
    AppSettings settings;
    for (const Row& row : rows)
        EXPECT_EQ(StateReports::freshnessLabel(bundleOf(row.snapshots), settings, row.provider, kNow),
                  row.label)
            << row.label.value_or(QStringLiteral("(none)")).toStdString();
    settings.demoMode = true;
    EXPECT_EQ(StateReports::freshnessLabel(bundleOf({}), settings, Provider::claude, kNow),
              QStringLiteral("demo"));
}

TEST(StateReports, WeekTrendNeedsAWeekWorthComparing)
{
    // Four 7-day runs counted back from today: each run's first day carries its total.
    const auto history = [](std::vector<qint64> weeks) {
        std::vector<qint64> days(28, 0);
        for (std::size_t w = 0; w < 4; ++w)
            days[w * 7] = weeks[w];
        return TestSupport::craftedTotals(Provider::claude, days, kNow);
    };
    struct Row
    {
        std::vector<qint64> weeks;
        std::optional<double> delta;
    } rows[] = {
        {{0, 0, 50'000, 80'000}, std::nullopt}, {{0, 0, 200'000, 250'000}, 25.0},
        {{0, 0, 100'000, 2'000'000}, 1900.0},   {{0, 0, 100'000, 2'000'001}, std::nullopt},
        {{0, 0, 400'000, 100'000}, -75.0},
    };
    for (const Row& row : rows) {
        const UsageTotals totals = history(row.weeks);
        const StateReports::WeekTrend trend = StateReports::weekTrend(&totals, Provider::claude, kNow);
        EXPECT_EQ(trend.weeks, row.weeks);
        EXPECT_EQ(trend.thisWeek, row.weeks.back());
        EXPECT_EQ(trend.deltaPct, row.delta) << row.weeks.back();
    }
    EXPECT_EQ(StateReports::weekTrend(nullptr, Provider::claude, kNow), StateReports::WeekTrend{});
}

TEST(StateReports, TextsReadExactly)
{
    // Busiest at 22:00 local: the first four-hour span holding it; end hours past midnight wrap.
    const UsageTotals late =
        TestSupport::craftedTotals(Provider::claude, {0, 500, 0, 9'000, 0, 0, 40}, kNow, 1.0, 22);
    EXPECT_EQ(StateReports::peakUsageWindowLabel(&late), QStringLiteral("19:00\u201323:00"));
    EXPECT_EQ(StateReports::hourSpanLabel(20, 24), QStringLiteral("20:00\u201300:00"));
    EXPECT_EQ(StateReports::hourSpanLabel(22, 26), QStringLiteral("22:00\u201302:00"));
    const UsageTotals morning = TestSupport::craftedTotals(Provider::claude, {100}, kNow, 0, 9);
    EXPECT_EQ(StateReports::peakUsageWindowLabel(&morning), QStringLiteral("06:00\u201310:00"));

    AppSettings settings;
    settings.enabledProviders = {Provider::codex, Provider::claude};
    EXPECT_EQ(StateReports::spendThisWeek(&late, settings, Provider::claude, kNow), QStringLiteral("$3.00"));
    EXPECT_EQ(StateReports::spendThisWeekTotal(&late, settings, kNow), QStringLiteral("$3.00"));
    // Seven calendar days, today included: the day of now − 7 d is last week's.
    const UsageTotals eightDays =
        TestSupport::craftedTotals(Provider::claude, {1, 1, 0, 0, 0, 0, 0, 1}, kNow, 1.0);
    EXPECT_EQ(StateReports::spendThisWeek(&eightDays, settings, Provider::claude, kNow),
              QStringLiteral("$2.00"));

    ForecastBundle bundle;
    bundle.forecasts.insert(QStringLiteral("codex-sevenDay"),
                            forecast(Provider::codex, WindowKind::sevenDay, 42.4));
    bundle.forecasts.insert(QStringLiteral("claude-weekly"),
                            forecast(Provider::claude, WindowKind::weekly, 61.6));
    EXPECT_EQ(StateReports::weeklyRecapText(bundle, &late, settings, kNow),
              QStringLiteral("Codex: 42% of weekly used. Claude Code: 62% of weekly used, heaviest 05-09"));
    EXPECT_EQ(StateReports::weeklyRecapText({}, &late, settings, kNow), QString());

    bundle.calibrated.insert(Provider::claude, CalibratedProjection{100, 1, 1, 3, 20, 2.25, 4});
    EXPECT_EQ(StateReports::headroomLabel(bundle, Provider::claude),
              QStringLiteral("~2.2 days of your usual usage left"));
    EXPECT_EQ(StateReports::headroomLabel(bundle, Provider::codex), std::nullopt);
}

TEST(StateReports, OverageIsShownInTheAccountsCurrency)
{
    AppSettings settings;
    settings.extraUsageBudgetGBP = 50;
    struct Row
    {
        QString currency;
        QString used;
        QString line;
    } rows[] = {
        {QStringLiteral("GBP"), QStringLiteral("£12.50 used"),
         QStringLiteral("£12.50 of £50 budget \u00b7 25%")},
        {QStringLiteral("USD"), QStringLiteral("$12.50 used"),
         QStringLiteral("$12.50 of $50 budget \u00b7 25%")},
        {QStringLiteral("eur"), QStringLiteral("€12.50 used"),
         QStringLiteral("€12.50 of €50 budget \u00b7 25%")},
        {QStringLiteral("CHF"), QStringLiteral("CHF 12.50 used"),
         QStringLiteral("CHF 12.50 of CHF 50 budget \u00b7 25%")},
    };
    for (const Row& row : rows) {
        const auto report = StateReports::overage(ClaudeExtraUsage{true, 12.5, 100, row.currency}, settings);
        ASSERT_TRUE(report);
        EXPECT_EQ(report->usedText, row.used);
        EXPECT_EQ(report->budgetLine, row.line);
    }
    settings.extraUsageBudgetGBP = 0;
    EXPECT_EQ(StateReports::overage(ClaudeExtraUsage{true, 0, 100, QStringLiteral("GBP")}, settings),
              std::nullopt);
    EXPECT_EQ(StateReports::overage(ClaudeExtraUsage{false, 5, 100, QStringLiteral("GBP")}, settings),
              std::nullopt);
    EXPECT_TRUE(StateReports::overage(ClaudeExtraUsage{true, 5, 100, QStringLiteral("GBP")}, settings)->note);
}

TEST(StateReports, DiagnosticsAreRedacted)
{
    StateReports::DiagnosticsInputs in;
    in.settings.enabledProviders = {Provider::codex, Provider::claude};
    in.lastRefresh = kNow;
    in.providerHealth.insert(
        Provider::claude,
        ProviderHealth{ProviderHealth::State::error, QStringLiteral("signed in as al@example.com"), {}, {}});
    ForecastResult f = forecast(Provider::codex, WindowKind::fiveHour, 41.5, ForecastStatus::watch);
    f.burnRatePercentPerHour = 12.34;
    in.forecasts.insert(f.id(), f);
    in.codexPath = QStringLiteral("/home/al/.local/bin/codex");
    in.bridge = ClaudeBridgeStatus{ClaudeBridgeStatus::State::error, std::nullopt,
                                   QStringLiteral("/home/al/.claude/settings.json unreadable")};
    in.lastError = QStringLiteral("refresh failed: bearer_abcdefgh12345 for /home/al and /home/alex");
    in.homePath = QStringLiteral("/home/al");
    EXPECT_EQ(StateReports::diagnosticsText(in),
              QStringLiteral("Tallyvane diagnostics\n"
                             "mode: live\n"
                             "last update: 2026-05-12 14:00:00 +0000\n"
                             "Codex: idle\n"
                             "  5h: used 42%, status Watch, burn 12.3%/h\n"
                             "Claude Code: error \u2014 signed in as <email>\n"
                             "codex in PATH: yes\n"
                             "claude bridge: error: ~/.claude/settings.json unreadable\n"
                             "last error: refresh failed: <token> for ~ and /home/alex"));
}

} // namespace
