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

const QSet<Provider> kBoth{P::codex, P::claude};
const QSet<Provider> kCodex{P::codex};
const QSet<Provider> kClaude{P::claude};

TEST(MenuBarTitleBuilder, BuildsTheMenuBarText)
{
    struct Row
    {
        const char* name;
        M mode;
        QSet<Provider> enabled;
        bool showRemaining;
        Provider focused;
        QList<ForecastResult> forecasts;
        QString expected;
    };
    const auto f = [](Provider p, WindowKind w, double used, S status = S::safe,
                      std::optional<double> timeToLimit = std::nullopt) {
        return forecast(p, w, used, status, timeToLimit);
    };
    const auto fs = [](auto... results) { return QList<ForecastResult>{results...}; };
    const Row rows[] = {
        {"icon only is empty", M::iconOnly, kBoth, false, P::claude, fs(f(P::codex, W::fiveHour, 42)), ""},
        {"no five-hour forecast", M::compact, kBoth, false, P::claude, fs(f(P::codex, W::sevenDay, 42)),
         "AI —"},
        {"nothing at all in forecast mode", M::forecast, kBoth, false, P::claude, fs(), "AI —"},
        {"disabled provider is no candidate", M::minimal, kClaude, false, P::claude,
         fs(f(P::codex, W::fiveHour, 42)), "AI —"},
        {"compact remaining rounds", M::compact, kCodex, true, P::codex, fs(f(P::codex, W::fiveHour, 42.9)),
         "AI  C 57%"},
        {"compact used in display order", M::compact, kBoth, false, P::claude,
         fs(f(P::claude, W::fiveHour, 17.8), f(P::codex, W::fiveHour, 42.9)), "AI  C 43% · Cl 18%"},
        {"compact over-used remaining is zero", M::compact, kCodex, true, P::codex,
         fs(f(P::codex, W::fiveHour, 104)), "AI  C 0%"},
        {"compact non-finite is a dash", M::compact, kBoth, false, P::claude,
         fs(f(P::codex, W::fiveHour, kNaN), f(P::claude, W::fiveHour, 5)), "AI  C — · Cl 5%"},
        {"absurd logged values are capped", M::compact, kBoth, false, P::claude,
         fs(f(P::codex, W::fiveHour, 1e20), f(P::claude, W::fiveHour, -1e20)), "AI  C 999% · Cl 0%"},
        {"an absurd logged value in focus", M::providerFocus, kCodex, false, P::codex,
         fs(f(P::codex, W::fiveHour, 1e20), f(P::codex, W::sevenDay, 1e300)), "Codex 999% · 7d 999%"},
        {"minimal slash-separated", M::minimal, kBoth, false, P::claude,
         fs(f(P::codex, W::fiveHour, 42.9), f(P::claude, W::fiveHour, 17)), "AI 43/17"},
        {"minimal remaining", M::minimal, kBoth, true, P::claude,
         fs(f(P::codex, W::fiveHour, 42.9), f(P::claude, W::fiveHour, kNaN)), "AI 57/—"},
        {"forecast: the worst word", M::forecast, kBoth, false, P::claude,
         fs(f(P::codex, W::fiveHour, 50, S::watch), f(P::claude, W::fiveHour, 60, S::risky)), "AI  Risky"},
        {"forecast: a tie goes to the fuller window, as the icon and status bars show it", M::forecast, kBoth,
         false, P::claude,
         fs(f(P::claude, W::fiveHour, 80, S::limitLikely, 600),
            f(P::codex, W::fiveHour, 70, S::limitLikely, 2'100)),
         "AI  10m left"},
        {"forecast: limit likely without a time", M::forecast, kClaude, false, P::claude,
         fs(f(P::claude, W::fiveHour, 80, S::limitLikely)), "AI  Limit likely"},
        {"forecast: long windows ignored", M::forecast, kBoth, false, P::claude,
         fs(f(P::codex, W::fiveHour, 10), f(P::codex, W::sevenDay, 100, S::limited)), "AI  Safe"},
        {"forecast: no data", M::forecast, kBoth, false, P::claude,
         fs(f(P::codex, W::fiveHour, 0, S::noData)), "AI  No data"},
        {"focus rounds and adds the seven-day window", M::providerFocus, kBoth, false, P::claude,
         fs(f(P::codex, W::fiveHour, 10), f(P::claude, W::fiveHour, 42.9), f(P::claude, W::sevenDay, 17.2),
            f(P::claude, W::weekly, 90)),
         "Claude Code 43% · 7d 17%"},
        {"focus falls back to the first candidate and its weekly window", M::providerFocus, kBoth, true,
         P::claude,
         fs(f(P::codex, W::fiveHour, 72), f(P::claude, W::sevenDay, 40), f(P::codex, W::weekly, 39.5)),
         "Codex 28% · Weekly 61%"},
        {"focus without a long window", M::providerFocus, kBoth, false, P::codex,
         fs(f(P::codex, W::fiveHour, 99.5)), "Codex 100%"},
        {"auto: a single candidate is focused", M::autoMode, kBoth, false, P::codex,
         fs(f(P::claude, W::fiveHour, 95, S::limited), f(P::claude, W::sevenDay, 12)),
         "Claude Code 95% · 7d 12%"},
        {"auto: at risk shows the word", M::autoMode, kBoth, false, P::codex,
         fs(f(P::codex, W::fiveHour, 10), f(P::claude, W::fiveHour, 95, S::limitLikely, 1'500)),
         "AI  25m left"},
        {"auto: limited shows the word", M::autoMode, kBoth, false, P::codex,
         fs(f(P::codex, W::fiveHour, 100, S::limited), f(P::claude, W::fiveHour, 1)), "AI  Limited"},
        {"auto: watch stays compact", M::autoMode, kBoth, true, P::codex,
         fs(f(P::codex, W::fiveHour, 72, S::watch), f(P::claude, W::fiveHour, 20)), "AI  C 28% · Cl 80%"},
    };
    for (const Row& row : rows) {
        AppSettings settings;
        settings.menuBarDisplayMode = row.mode;
        settings.enabledProviders = row.enabled;
        settings.showRemaining = row.showRemaining;
        settings.trayProvider = row.focused;
        QMap<QString, ForecastResult> forecasts;
        for (const ForecastResult& result : row.forecasts)
            forecasts.insert(result.id(), result);
        EXPECT_EQ(MenuBarTitleBuilder::title(forecasts, settings), row.expected) << row.name;
    }
}

TEST(MenuBarTitleBuilder, GaugeAndTooltipPerStatus)
{
    using I = MenuBarTitleBuilder::StatusIcon;
    const std::tuple<S, I, const char*, const char*> rows[] = {
        {S::noData, I::gauge0, "gauge-0", "No data"},
        {S::unknown, I::gauge0, "gauge-0", "Unknown"},
        {S::safe, I::gauge67, "gauge-67", "Safe"},
        {S::watch, I::gauge50, "gauge-50", "Watch"},
        {S::risky, I::gauge100, "gauge-100", "Risky"},
        {S::limitLikely, I::gauge100, "gauge-100", "Limit likely"},
        {S::limited, I::warning, "warning", "Limited"},
    };
    for (const auto& [status, icon, name, word] : rows) {
        EXPECT_EQ(MenuBarTitleBuilder::statusIcon(status), icon) << name;
        EXPECT_EQ(MenuBarTitleBuilder::iconName(icon), QString::fromLatin1(name));
        EXPECT_EQ(MenuBarTitleBuilder::tooltip(status),
                  "Tallyvane — " + QString::fromUtf8(word) + "  (Ctrl+Alt+G)");
    }
    EXPECT_EQ(MenuBarTitleBuilder::buttonTitle(QString()), QString());
    EXPECT_EQ(MenuBarTitleBuilder::buttonTitle(QStringLiteral("AI 42/17")), QStringLiteral(" AI 42/17"));
}

} // namespace
