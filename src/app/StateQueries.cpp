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

namespace {

const WorkingSeries* find(const QList<WorkingSeries>& published, Provider provider, WindowKind window)
{
    for (const WorkingSeries& s : published)
        if (s.key.first == provider && s.key.second == window)
            return &s;
    return nullptr;
}

} // namespace

QList<UsageSnapshot> series(const SnapshotLog& snapshots, const QList<WorkingSeries>& published,
                            Provider provider, WindowKind window)
{
    QList<UsageSnapshot> result;
    if (const WorkingSeries* found = find(published, provider, window)) {
        result.reserve(found->positions.size());
        for (qsizetype i = 0; i < found->positions.size(); ++i)
            result.append(snapshots[found->positions[i]]);
    }
    return result;
}

std::optional<UsageSnapshot> latestSnapshot(const SnapshotLog& snapshots,
                                            const QList<WorkingSeries>& published, Provider provider,
                                            WindowKind window)
{
    const WorkingSeries* found = find(published, provider, window);
    if (!found || found->positions.isEmpty())
        return std::nullopt;
    // The last run of equal newest timestamps is in list order: its first entry is the earliest.
    qsizetype i = found->positions.size() - 1;
    const QDateTime& newest = snapshots[found->positions[i]].timestamp;
    while (i > 0 && snapshots[found->positions[i - 1]].timestamp == newest)
        --i;
    return snapshots[found->positions[i]];
}

QList<UsageSnapshot> seriesSince(const SnapshotLog& snapshots, const QList<WorkingSeries>& published,
                                 Provider provider, WindowKind window, const QDateTime& since)
{
    QList<UsageSnapshot> result;
    const WorkingSeries* found = find(published, provider, window);
    if (!found)
        return result;
    qsizetype low = 0;
    qsizetype high = found->positions.size();
    while (low < high) {
        const qsizetype middle = low + (high - low) / 2;
        if (snapshots[found->positions[middle]].timestamp < since)
            low = middle + 1;
        else
            high = middle;
    }
    result.reserve(found->positions.size() - low);
    for (qsizetype i = low; i < found->positions.size(); ++i)
        result.append(snapshots[found->positions[i]]);
    return result;
}

std::optional<UsageSnapshot> newestWhere(const SnapshotLog& snapshots, const QList<WorkingSeries>& published,
                                         Provider provider,
                                         const std::function<bool(const UsageSnapshot&)>& accept)
{
    const UsageSnapshot* kept = nullptr;
    qsizetype keptPosition = 0;
    for (const WorkingSeries& series : published) {
        if (series.key.first != provider)
            continue;
        // Ascending by timestamp: the first accepted from the end is this series' newest.
        for (qsizetype i = series.positions.size() - 1; i >= 0; --i) {
            const qsizetype position = series.positions[i];
            const UsageSnapshot& candidate = snapshots[position];
            if (kept && candidate.timestamp < kept->timestamp)
                break;
            if (!accept(candidate))
                continue;
            const bool newer = !kept || candidate.timestamp > kept->timestamp;
            if (newer || (candidate.timestamp == kept->timestamp && position < keptPosition)) {
                kept = &candidate;
                keptPosition = position;
            }
        }
    }
    return kept ? std::optional<UsageSnapshot>(*kept) : std::nullopt;
}

std::optional<ForecastResult> forecast(const QMap<QString, ForecastResult>& forecasts, Provider provider,
                                       WindowKind window)
{
    const auto it = forecasts.constFind(ForecastResult::id(provider, window));
    if (it == forecasts.cend())
        return std::nullopt;
    return *it;
}

QList<SeriesKey> availableSeries(const QList<WorkingSeries>& published)
{
    QList<SeriesKey> result;
    result.reserve(published.size());
    for (const WorkingSeries& s : published)
        result.append(s.key);
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

std::optional<SeriesKey> mostUrgentSeries(const QList<WorkingSeries>& published,
                                          const QMap<QString, ForecastResult>& forecasts,
                                          const QDateTime& now)
{
    std::optional<SeriesKey> best;
    std::optional<ForecastResult> bestForecast;
    double bestScore = std::numeric_limits<double>::infinity();
    for (const SeriesKey& key : availableSeries(published)) {
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

SeriesKey focusedSeries(const QList<WorkingSeries>& published, const QMap<QString, ForecastResult>& forecasts,
                        const AppSettings& settings, const QDateTime& now)
{
    const SeriesKey chosen{settings.focusedProvider, settings.focusedWindow};
    if (settings.focusAuto)
        if (const std::optional<SeriesKey> urgent = mostUrgentSeries(published, forecasts, now))
            return *urgent;
    QList<SeriesKey> entries;
    for (const SeriesKey& key : availableSeries(published))
        if (settings.enabledProviders.contains(key.first) && forecast(forecasts, key.first, key.second))
            entries.append(key);
    if (entries.isEmpty() || entries.contains(chosen))
        return chosen;
    for (const SeriesKey& key : std::as_const(entries))
        if (key.first == chosen.first)
            return key;
    return entries.first();
}

ForecastStatus globalStatus(const QMap<QString, ForecastResult>& forecasts,
                            const QList<AccountForecasts>& accounts)
{
    std::optional<ForecastStatus> result;
    const auto fold = [&](const ForecastResult& f) { result = result ? worse(*result, f.status) : f.status; };
    std::for_each(forecasts.cbegin(), forecasts.cend(), fold);
    for (const AccountForecasts& account : accounts)
        std::for_each(account.forecasts.cbegin(), account.forecasts.cend(), fold);
    return result.value_or(ForecastStatus::noData);
}

} // namespace StateQueries
