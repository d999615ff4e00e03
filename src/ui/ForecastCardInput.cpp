#include "ui/ForecastCardInput.h"

#include "app/AppState.h"

#include <algorithm>

ForecastCardInput ForecastCardInput::fromState(const AppState& state)
{
    const AppSettings& settings = state.settings();
    ForecastCardInput input;
    input.focusAuto = settings.focusAuto;
    input.basis = state.shownBasis();
    input.showRemaining = settings.showRemaining;
    input.now = state.now();
    for (const Provider provider : state.sortedEnabledProviders()) {
        if (state.forecast(provider, WindowKind::fiveHour) ||
            state.forecast(provider, WindowKind::sevenDay) || state.forecast(provider, WindowKind::weekly))
            input.tabs.append(provider);
    }
    for (const SeriesKey& key : state.availableSeries()) {
        if (settings.enabledProviders.contains(key.first) && state.forecast(key.first, key.second))
            input.focusEntries.append(key);
    }

    const SeriesKey shown = state.focusedSeries();
    input.provider = shown.first;
    input.window = shown.second;
    input.forecast = state.forecast(shown.first, shown.second);
    const auto pace = state.paces().constFind(shown.first);
    if (pace != state.paces().cend())
        input.pace = *pace;

    if (input.forecast)
        input.chart = RangeChartData::of(state.published(), *input.forecast, state.now());
    return input;
}
