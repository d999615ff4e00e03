#include "app/PublishedState.h"
#include "AppTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>

using AppTest::forecast;

namespace {

QMap<QString, ForecastResult> forecasts(std::initializer_list<ForecastResult> list)
{
    QMap<QString, ForecastResult> map;
    for (const ForecastResult& f : list)
        map.insert(f.id(), f);
    return map;
}

struct FigureCase
{
    const char* name;
    MenuBarDisplayMode mode;
    bool showRemaining;
    QSet<Provider> enabled;
    Provider focused;
    QMap<QString, ForecastResult> results;
    QString figure;
};

TEST(PublishedState, IconFigureFollowsTheDisplayMode)
{
    const auto codexSafe = forecast(Provider::codex, WindowKind::fiveHour, 42.9, ForecastStatus::safe);
    const auto claudeRisky = forecast(Provider::claude, WindowKind::fiveHour, 81.6, ForecastStatus::risky);
    const auto claudeWatch = forecast(Provider::claude, WindowKind::fiveHour, 63.5, ForecastStatus::watch);
    const auto codexWeekly = forecast(Provider::codex, WindowKind::sevenDay, 99, ForecastStatus::limitLikely);
    const QSet<Provider> both{Provider::codex, Provider::claude};
    const QSet<Provider> codexOnly{Provider::codex};
    using M = MenuBarDisplayMode;
    const auto codexAt = [](double used, ForecastStatus status) {
        return forecasts({forecast(Provider::codex, WindowKind::fiveHour, used, status)});
    };
    const FigureCase rows[] = {
        {"icon only shows no number", M::iconOnly, false, both, Provider::codex, forecasts({codexSafe}), ""},
        {"forecast mode shows a word, not a number", M::forecast, false, both, Provider::codex,
         forecasts({codexSafe, claudeRisky}), ""},
        {"compact: the most severe provider, truncated", M::compact, false, both, Provider::codex,
         forecasts({codexSafe, claudeWatch}), "63"},
        {"compact with remaining: 100 - 42.9 truncates to 57", M::compact, true, codexOnly, Provider::codex,
         forecasts({codexSafe}), "57"},
        {"equal severity: the fuller window, as a status bar shows it", M::compact, true, both,
         Provider::codex,
         forecasts({forecast(Provider::codex, WindowKind::fiveHour, 22, ForecastStatus::safe),
                    forecast(Provider::claude, WindowKind::fiveHour, 28, ForecastStatus::safe)}),
         "72"},
        {"provider focus rounds", M::providerFocus, false, both, Provider::codex,
         forecasts({codexSafe, claudeWatch}), "43"},
        {"provider focus follows the focused provider", M::providerFocus, false, both, Provider::claude,
         forecasts({codexSafe, claudeWatch}), "64"},
        {"provider focus falls back to the first candidate", M::providerFocus, false, codexOnly,
         Provider::claude, forecasts({codexSafe, claudeWatch}), "43"},
        {"auto with one provider is provider focus", M::autoMode, false, codexOnly, Provider::claude,
         forecasts({codexSafe}), "43"},
        {"auto with an alarming provider turns to words", M::autoMode, false, both, Provider::codex,
         forecasts({codexSafe, claudeRisky}), ""},
        {"auto with calm providers is compact", M::autoMode, false, both, Provider::codex,
         forecasts({codexSafe, claudeWatch}), "63"},
        {"only five-hour windows count", M::compact, false, both, Provider::codex, forecasts({codexWeekly}),
         ""},
        {"disabled providers are left out", M::compact, false, codexOnly, Provider::codex,
         forecasts({claudeRisky}), ""},
        {"over-used windows show 0 remaining, not a negative", M::compact, true, codexOnly, Provider::codex,
         codexAt(112, ForecastStatus::limited), "0"},
        {"a non-finite value draws nothing", M::minimal, false, codexOnly, Provider::codex,
         codexAt(std::nan(""), ForecastStatus::unknown), ""},
        {"an absurd logged value is capped, not overflowed", M::compact, false, codexOnly, Provider::codex,
         codexAt(1e20, ForecastStatus::limited), "999"},
    };
    for (const FigureCase& row : rows) {
        AppSettings settings;
        settings.menuBarDisplayMode = row.mode;
        settings.showRemaining = row.showRemaining;
        settings.enabledProviders = row.enabled;
        settings.focusedProvider = row.focused;
        PublishInputs inputs;
        inputs.bundle.forecasts = row.results;
        inputs.settings = settings;
        inputs.now = AppTest::kNow;
        EXPECT_EQ(PublishedState::make(inputs).iconFigure, row.figure) << row.name;
    }
}

} // namespace
