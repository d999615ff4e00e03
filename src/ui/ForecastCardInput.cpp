#include "ui/ForecastCardInput.h"

#include "app/AppState.h"

#include <algorithm>

ForecastCardInput ForecastCardInput::fromState(const AppState& state)
{
    const AppSettings& settings = state.settings();
    ForecastCardInput input;
    input.focusAuto = settings.focusAuto;
    input.basis = settings.forecastBasis;
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

    SeriesKey shown{settings.focusedProvider, settings.focusedWindow};
    if (settings.focusAuto) {
        // Nothing about to run out: stay on the chosen window while it has data, else the first that has.
        if (const std::optional<SeriesKey> urgent = state.mostUrgentSeries())
            shown = *urgent;
        else if (!input.focusEntries.contains(shown) && !input.focusEntries.isEmpty())
            shown = input.focusEntries.first();
    }
    input.provider = shown.first;
    input.window = shown.second;
    input.forecast = state.forecast(shown.first, shown.second);
    const auto pace = state.paces().constFind(shown.first);
    if (pace != state.paces().cend())
        input.pace = *pace;

    if (input.forecast) {
        RangeChartData& chart = input.chart;
        chart.resetAt = input.forecast->resetAt;
        chart.projectedAtReset = input.forecast->projectedUsedAtReset;
        chart.runOutAt = input.forecast->runOutAt;
        chart.status = input.forecast->status;
        // The window runs for its duration up to its reset: earlier readings belong to past windows.
        const std::optional<UsageSnapshot> latest = state.latestSnapshot(shown.first, shown.second);
        std::optional<QDateTime> windowStart;
        if (latest && chart.resetAt && latest->windowDurationMins && *latest->windowDurationMins > 0)
            windowStart = chart.resetAt->addSecs(-static_cast<qint64>(*latest->windowDurationMins * 60));
        if (windowStart && shown.second != WindowKind::fiveHour)
            chart.windowStart = windowStart;
        QList<UsageSnapshot> series =
            windowStart ? state.seriesSince(shown.first, shown.second, *windowStart) : QList<UsageSnapshot>();
        // Without a window start, or with nothing inside it: the whole series, or at least the latest
        // reading.
        if (!windowStart)
            series = state.series(shown.first, shown.second);
        else if (series.isEmpty() && latest)
            series.append(*latest);
        chart.points.reserve(series.size());
        for (const UsageSnapshot& snapshot : std::as_const(series))
            chart.points.append({snapshot.timestamp.toMSecsSinceEpoch(), snapshot.usedPercent});
    }
    return input;
}
