#include "ui/ForecastCardInput.h"

ForecastCardInput ForecastCardInput::fromPublished(const PublishedState& state)
{
    ForecastCardInput input;
    input.focusAuto = state.settings.focusAuto;
    input.basis = state.settings.forecastBasis;
    input.showRemaining = state.settings.showRemaining;
    input.now = state.now;
    for (const Provider provider : state.providers) {
        if (state.forecast(provider, WindowKind::fiveHour) ||
            state.forecast(provider, WindowKind::sevenDay) || state.forecast(provider, WindowKind::weekly))
            input.tabs.append(provider);
    }
    for (const SeriesKey& key : StateQueries::availableSeries(state.bundle.series)) {
        if (state.providers.contains(key.first) && state.forecast(key.first, key.second))
            input.focusEntries.append(key);
    }

    input.provider = state.focused.first;
    input.window = state.focused.second;
    input.forecast = state.forecast(input.provider, input.window);
    const auto pace = state.bundle.paces.constFind(input.provider);
    if (pace != state.bundle.paces.cend())
        input.pace = *pace;
    if (input.forecast)
        input.chart = RangeChartData::of(state.bundle, *input.forecast, state.now);
    return input;
}
