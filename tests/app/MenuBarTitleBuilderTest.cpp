#include "app/MenuBarTitleBuilder.h"

#include "AppTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace AppTest;

namespace {

using P = Provider;
using W = WindowKind;
using S = ForecastStatus;
using M = MenuBarDisplayMode;

const double kNaN = std::numeric_limits<double>::quiet_NaN();

struct TitleCase
{
    const char* name;
    M mode;
    QSet<Provider> enabled;
    bool showRemaining;
    Provider focused;
    QList<ForecastResult> forecasts;
    QString expected;
};

class TitleTest : public ::testing::TestWithParam<TitleCase>
{};

TEST_P(TitleTest, BuildsTheMenuBarText)
{
    const TitleCase& c = GetParam();
    AppSettings settings;
    settings.menuBarDisplayMode = c.mode;
    settings.enabledProviders = c.enabled;
    settings.showRemaining = c.showRemaining;
    settings.focusedProvider = c.focused;
    QMap<QString, ForecastResult> forecasts;
    for (const ForecastResult& f : c.forecasts)
        forecasts.insert(f.id(), f);
    EXPECT_EQ(MenuBarTitleBuilder::title(forecasts, settings), c.expected);
}

const QSet<Provider> kBoth{P::codex, P::claude};

INSTANTIATE_TEST_SUITE_P(
    Modes, TitleTest,
    ::testing::Values(
        TitleCase{"IconOnlyIsEmpty",
                  M::iconOnly,
                  kBoth,
                  false,
                  P::claude,
                  {forecast(P::codex, W::fiveHour, 42)},
                  ""},
        TitleCase{"NoFiveHourForecast",
                  M::compact,
                  kBoth,
                  false,
                  P::claude,
                  {forecast(P::codex, W::sevenDay, 42)},
                  "AI —"},
        TitleCase{"NothingAtAllInForecastMode", M::forecast, kBoth, false, P::claude, {}, "AI —"},
        TitleCase{"DisabledProviderIsNoCandidate",
                  M::minimal,
                  {P::claude},
                  false,
                  P::claude,
                  {forecast(P::codex, W::fiveHour, 42)},
                  "AI —"},
        TitleCase{"CompactRemainingTruncates",
                  M::compact,
                  {P::codex},
                  true,
                  P::codex,
                  {forecast(P::codex, W::fiveHour, 42.9)},
                  "AI  C 57%"},
        TitleCase{"CompactUsedInDisplayOrder",
                  M::compact,
                  kBoth,
                  false,
                  P::claude,
                  {forecast(P::claude, W::fiveHour, 17.8), forecast(P::codex, W::fiveHour, 42.9)},
                  "AI  C 42% · Cl 17%"},
        TitleCase{"CompactOverusedRemainingIsZero",
                  M::compact,
                  {P::codex},
                  true,
                  P::codex,
                  {forecast(P::codex, W::fiveHour, 104)},
                  "AI  C 0%"},
        TitleCase{"CompactNonFiniteIsDash",
                  M::compact,
                  kBoth,
                  false,
                  P::claude,
                  {forecast(P::codex, W::fiveHour, kNaN), forecast(P::claude, W::fiveHour, 5)},
                  "AI  C — · Cl 5%"},
        TitleCase{"AbsurdLoggedValuesAreCapped",
                  M::compact,
                  kBoth,
                  false,
                  P::claude,
                  {forecast(P::codex, W::fiveHour, 1e20), forecast(P::claude, W::fiveHour, -1e20)},
                  "AI  C 999% · Cl 0%"},
        TitleCase{"AbsurdLoggedValueInFocus",
                  M::providerFocus,
                  {P::codex},
                  false,
                  P::codex,
                  {forecast(P::codex, W::fiveHour, 1e20), forecast(P::codex, W::sevenDay, 1e300)},
                  "Codex 999% · 7d 999%"},
        TitleCase{"MinimalSlashSeparated",
                  M::minimal,
                  kBoth,
                  false,
                  P::claude,
                  {forecast(P::codex, W::fiveHour, 42.9), forecast(P::claude, W::fiveHour, 17)},
                  "AI 42/17"},
        TitleCase{"MinimalRemaining",
                  M::minimal,
                  kBoth,
                  true,
                  P::claude,
                  {forecast(P::codex, W::fiveHour, 42.9), forecast(P::claude, W::fiveHour, kNaN)},
                  "AI 57/—"},
        TitleCase{
            "ForecastWorstWord",
            M::forecast,
            kBoth,
            false,
            P::claude,
            {forecast(P::codex, W::fiveHour, 50, S::watch), forecast(P::claude, W::fiveHour, 60, S::risky)},
            "AI  Risky"},
        TitleCase{"ForecastTieFirstInDisplayOrder",
                  M::forecast,
                  kBoth,
                  false,
                  P::claude,
                  {forecast(P::claude, W::fiveHour, 80, S::limitLikely, 600),
                   forecast(P::codex, W::fiveHour, 70, S::limitLikely, 2'100)},
                  "AI  35m left"},
        TitleCase{"ForecastLimitLikelyWithoutTime",
                  M::forecast,
                  {P::claude},
                  false,
                  P::claude,
                  {forecast(P::claude, W::fiveHour, 80, S::limitLikely)},
                  "AI  Limit likely"},
        TitleCase{
            "ForecastLongWindowIgnored",
            M::forecast,
            kBoth,
            false,
            P::claude,
            {forecast(P::codex, W::fiveHour, 10, S::safe), forecast(P::codex, W::sevenDay, 100, S::limited)},
            "AI  Safe"},
        TitleCase{"ForecastNoData",
                  M::forecast,
                  kBoth,
                  false,
                  P::claude,
                  {forecast(P::codex, W::fiveHour, 0, S::noData)},
                  "AI  No data"},
        TitleCase{"FocusRoundsAndAddsSevenDay",
                  M::providerFocus,
                  kBoth,
                  false,
                  P::claude,
                  {forecast(P::codex, W::fiveHour, 10), forecast(P::claude, W::fiveHour, 42.9),
                   forecast(P::claude, W::sevenDay, 17.2), forecast(P::claude, W::weekly, 90)},
                  "Claude Code 43% · 7d 17%"},
        TitleCase{"FocusFallsBackToFirstCandidateAndWeekly",
                  M::providerFocus,
                  kBoth,
                  true,
                  P::claude,
                  {forecast(P::codex, W::fiveHour, 72), forecast(P::claude, W::sevenDay, 40),
                   forecast(P::codex, W::weekly, 39.5)},
                  "Codex 28% · Weekly 61%"},
        TitleCase{"FocusWithoutLongWindow",
                  M::providerFocus,
                  kBoth,
                  false,
                  P::codex,
                  {forecast(P::codex, W::fiveHour, 99.5)},
                  "Codex 100%"},
        TitleCase{"AutoSingleCandidateFocuses",
                  M::autoMode,
                  kBoth,
                  false,
                  P::codex,
                  {forecast(P::claude, W::fiveHour, 95, S::limited), forecast(P::claude, W::sevenDay, 12)},
                  "Claude Code 95% · 7d 12%"},
        TitleCase{"AutoAtRiskShowsWord",
                  M::autoMode,
                  kBoth,
                  false,
                  P::codex,
                  {forecast(P::codex, W::fiveHour, 10, S::safe),
                   forecast(P::claude, W::fiveHour, 95, S::limitLikely, 1'500)},
                  "AI  25m left"},
        TitleCase{"AutoLimitedShowsWord",
                  M::autoMode,
                  kBoth,
                  false,
                  P::codex,
                  {forecast(P::codex, W::fiveHour, 100, S::limited), forecast(P::claude, W::fiveHour, 1)},
                  "AI  Limited"},
        TitleCase{"AutoWatchStaysCompact",
                  M::autoMode,
                  kBoth,
                  true,
                  P::codex,
                  {forecast(P::codex, W::fiveHour, 72, S::watch), forecast(P::claude, W::fiveHour, 20)},
                  "AI  C 28% · Cl 80%"}),
    [](const auto& row) { return std::string(row.param.name); });

struct IconCase
{
    ForecastStatus status;
    MenuBarTitleBuilder::StatusIcon icon;
    QString name;
    QString tooltip;
};

class IconTest : public ::testing::TestWithParam<IconCase>
{};

TEST_P(IconTest, PicksTheGaugeAndTooltip)
{
    const IconCase& c = GetParam();
    EXPECT_EQ(MenuBarTitleBuilder::statusIcon(c.status), c.icon);
    EXPECT_EQ(MenuBarTitleBuilder::iconName(MenuBarTitleBuilder::statusIcon(c.status)), c.name);
    EXPECT_EQ(MenuBarTitleBuilder::tooltip(c.status), c.tooltip);
}

using I = MenuBarTitleBuilder::StatusIcon;
INSTANTIATE_TEST_SUITE_P(
    Statuses, IconTest,
    ::testing::Values(IconCase{S::noData, I::gauge0, "gauge-0", "Tallyvane — No data  (Ctrl+Alt+G)"},
                      IconCase{S::unknown, I::gauge0, "gauge-0", "Tallyvane — Unknown  (Ctrl+Alt+G)"},
                      IconCase{S::safe, I::gauge67, "gauge-67", "Tallyvane — Safe  (Ctrl+Alt+G)"},
                      IconCase{S::watch, I::gauge50, "gauge-50", "Tallyvane — Watch  (Ctrl+Alt+G)"},
                      IconCase{S::risky, I::gauge100, "gauge-100", "Tallyvane — Risky  (Ctrl+Alt+G)"},
                      IconCase{S::limitLikely, I::gauge100, "gauge-100",
                               "Tallyvane — Limit likely  (Ctrl+Alt+G)"},
                      IconCase{S::limited, I::warning, "warning", "Tallyvane — Limited  (Ctrl+Alt+G)"}));

TEST(ButtonTitle, PadsOnlyNonEmptyTitles)
{
    EXPECT_EQ(MenuBarTitleBuilder::buttonTitle(QString()), QString());
    EXPECT_EQ(MenuBarTitleBuilder::buttonTitle(QStringLiteral("AI 42/17")), QStringLiteral(" AI 42/17"));
}

} // namespace
