#include "app/RangeChartData.h"

#include "app/StateQueries.h"

namespace {

// What the chart takes from the forecast itself: its reset, projection, run-out and status.
RangeChartData framed(const ForecastResult& forecast, const QDateTime& now)
{
    RangeChartData chart;
    chart.resetAt = forecast.resetAt;
    chart.projectedAtReset = forecast.projectedUsedAtReset;
    chart.runOutAt = forecast.runOutAt;
    chart.status = forecast.status;
    chart.now = now;
    return chart;
}

} // namespace

RangeChartData RangeChartData::of(const ForecastBundle& bundle, const ForecastResult& forecast,
                                  const QDateTime& now)
{
    const Provider provider = forecast.provider;
    const WindowKind window = forecast.windowKind;
    RangeChartData chart = framed(forecast, now);
    const std::optional<UsageSnapshot> latest =
        StateQueries::latestSnapshot(bundle.snapshots, bundle.series, provider, window);
    const std::optional<QDateTime> windowStart = RangeChartData::currentWindowStart(forecast, latest);
    if (windowStart && window != WindowKind::fiveHour)
        chart.windowStart = windowStart;
    // Without a window start, the whole series; with one but nothing inside it, at least the latest reading.
    QList<UsageSnapshot> series =
        windowStart
            ? StateQueries::seriesSince(bundle.snapshots, bundle.series, provider, window, *windowStart)
            : StateQueries::series(bundle.snapshots, bundle.series, provider, window);
    if (windowStart && series.isEmpty() && latest)
        series.append(*latest);
    chart.points.reserve(series.size());
    for (const UsageSnapshot& snapshot : std::as_const(series))
        chart.points.append({snapshot.timestamp.toMSecsSinceEpoch(), snapshot.usedPercent});
    return chart;
}

RangeChartData RangeChartData::of(const QList<UsageSnapshot>& readings, const ForecastResult& forecast,
                                  const QDateTime& now)
{
    RangeChartData chart = framed(forecast, now);
    const auto windowStart =
        readings.isEmpty() ? std::nullopt : RangeChartData::currentWindowStart(forecast, readings.last());
    if (windowStart && forecast.windowKind != WindowKind::fiveHour)
        chart.windowStart = windowStart;
    for (const UsageSnapshot& snapshot : readings)
        if (!windowStart || snapshot.timestamp >= *windowStart || &snapshot == &readings.last())
            chart.points.append({snapshot.timestamp.toMSecsSinceEpoch(), snapshot.usedPercent});
    return chart;
}

std::optional<QDateTime> RangeChartData::currentWindowStart(const ForecastResult& forecast,
                                                            const std::optional<UsageSnapshot>& latest)
{
    // The window runs for its duration up to its reset: earlier readings belong to past windows.
    if (latest && forecast.resetAt && latest->windowDurationMins && *latest->windowDurationMins > 0)
        return forecast.resetAt->addSecs(-static_cast<qint64>(*latest->windowDurationMins * 60));
    return std::nullopt;
}
