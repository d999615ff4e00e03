#include "app/StateQueries.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace StateQueries {

QList<Provider> sortedEnabledProviders(const AppSettings& settings)
{
    QList<Provider> result;
    for (Provider provider : allProviders)
        if (settings.enabledProviders.contains(provider))
            result.append(provider);
    return result;
}

QString forecastKey(Provider provider, WindowKind window)
{
    return rawValue(provider) + QLatin1Char('-') + rawValue(window);
}

QList<UsageSnapshot> series(const SnapshotLog& snapshots, Provider provider, WindowKind window)
{
    QList<UsageSnapshot> result;
    for (const UsageSnapshot& s : snapshots)
        if (s.provider == provider && s.windowKind == window)
            result.append(s);
    std::stable_sort(result.begin(), result.end(), [](const UsageSnapshot& a, const UsageSnapshot& b) {
        return a.timestamp < b.timestamp;
    });
    return result;
}

std::optional<UsageSnapshot> latestSnapshot(const SnapshotLog& snapshots, Provider provider,
                                            WindowKind window)
{
    const UsageSnapshot* latest = nullptr;
    for (const UsageSnapshot& s : snapshots)
        if (s.provider == provider && s.windowKind == window && (!latest || s.timestamp > latest->timestamp))
            latest = &s;
    if (!latest)
        return std::nullopt;
    return *latest;
}

std::optional<ForecastResult> forecast(const QMap<QString, ForecastResult>& forecasts, Provider provider,
                                       WindowKind window)
{
    const auto it = forecasts.constFind(forecastKey(provider, window));
    if (it == forecasts.cend())
        return std::nullopt;
    return *it;
}

QList<SeriesKey> availableSeries(const SnapshotLog& snapshots)
{
    QList<const UsageSnapshot*> ordered;
    ordered.reserve(snapshots.size());
    for (const UsageSnapshot& s : snapshots)
        ordered.append(&s);
    std::stable_sort(ordered.begin(), ordered.end(), [](const UsageSnapshot* a, const UsageSnapshot* b) {
        return displayRank(a->windowKind) < displayRank(b->windowKind);
    });
    QList<SeriesKey> result;
    for (const UsageSnapshot* s : ordered) {
        const SeriesKey key{s->provider, s->windowKind};
        if (!result.contains(key))
            result.append(key);
    }
    return result;
}

namespace {

double statusWeight(ForecastStatus status)
{
    switch (status) {
    case ForecastStatus::safe:
        return 10'000;
    case ForecastStatus::watch:
        return 20'000;
    case ForecastStatus::risky:
        return 30'000;
    case ForecastStatus::limitLikely:
        return 40'000;
    case ForecastStatus::limited:
        return 50'000;
    case ForecastStatus::noData:
    case ForecastStatus::unknown:
        return 0;
    }
    return 0;
}

bool isUrgent(const ForecastResult& f)
{
    return f.currentUsedPercent >= 100 || f.runOutAt.has_value();
}

} // namespace

std::optional<SeriesKey> mostUrgentSeries(const SnapshotLog& snapshots,
                                          const QMap<QString, ForecastResult>& forecasts,
                                          const QDateTime& now)
{
    std::optional<SeriesKey> best;
    std::optional<ForecastResult> bestForecast;
    double bestScore = std::numeric_limits<double>::infinity();
    for (const SeriesKey& key : availableSeries(snapshots)) {
        const std::optional<ForecastResult> f = forecast(forecasts, key.first, key.second);
        if (!f)
            continue;
        double score = 0;
        if (f->currentUsedPercent >= 100)
            score = -1'000'000;
        else if (f->runOutAt)
            score = double(now.msecsTo(*f->runOutAt)) / 1000;
        else
            score = 1'000'000 - statusWeight(f->status) + f->currentRemainingPercent;
        // A non-number (a corrupt reading) ranks last instead of poisoning every comparison after it.
        if (std::isnan(score))
            score = std::numeric_limits<double>::infinity();
        if (!best || score < bestScore) {
            best = key;
            bestForecast = f;
            bestScore = score;
        }
    }
    if (!best || !isUrgent(*bestForecast))
        return std::nullopt;
    return best;
}

ForecastStatus globalStatus(const QMap<QString, ForecastResult>& forecasts)
{
    if (forecasts.isEmpty())
        return ForecastStatus::noData;
    ForecastStatus result = forecasts.first().status;
    for (const ForecastResult& f : forecasts)
        result = worse(result, f.status);
    return result;
}

} // namespace StateQueries
