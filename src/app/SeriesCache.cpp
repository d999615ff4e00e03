#include "app/SeriesCache.h"

#include "core/forecast/BurnRateCalculator.h"

#include <algorithm>
#include <vector>

void SeriesCache::clear()
{
    m_working.clear();
    m_workingSize = 0;
    m_others.clear();
    m_keys.clear();
    for (auto& windows : m_windows)
        windows.clear();
    for (auto& perProvider : m_series)
        for (Series& series : perProvider)
            series = Series{};
}

// The snapshot is the next one of the working log.
void SeriesCache::add(const UsageSnapshot& snapshot)
{
    const auto p = size_t(snapshot.provider);
    const auto w = size_t(snapshot.windowKind);
    Series& series = m_series[p][w];
    if (series.positions.isEmpty()) {
        m_keys.append({snapshot.provider, snapshot.windowKind});
        m_windows[p].append(snapshot.windowKind);
    }
    if (!series.positions.isEmpty() && snapshot.timestamp < workingAt(series.positions.last()).timestamp)
        series.positionsSorted = false;
    series.positions.append(m_workingSize++);
    if (!series.snapshots.isEmpty() && snapshot.timestamp < series.snapshots.last().timestamp) {
        series.ascending = false;
        if (series.trimmed)
            m_needsRebuild = true;
    }
    series.snapshots.append(snapshot);
    // Trimming as it goes, a long log is never copied whole into its series before the trim at the end.
    if (++series.addedSinceTrim >= trimBatch && !m_keepWhole)
        trim(series);
}

// Drops what lies before the latest reset; only the new snapshots (and their predecessor) can hold a newer
// one. A series out of time order is kept whole: the forecast sorts it first.
void SeriesCache::trim(Series& series)
{
    if (!series.ascending || series.addedSinceTrim == 0)
        return;
    const qsizetype size = series.snapshots.size();
    const qsizetype from = std::max<qsizetype>(0, size - series.addedSinceTrim - 1);
    std::vector<const UsageSnapshot*> tail;
    tail.reserve(size_t(size - from));
    for (qsizetype i = from; i < size; ++i)
        tail.push_back(&series.snapshots[i]);
    // 0 means no reset among the new pairs: the series keeps its start.
    const qsizetype inTail = BurnRateCalculator::latestSeriesStart(tail);
    const qsizetype start = inTail > 0 ? from + inTail : 0;
    series.addedSinceTrim = 0;
    if (start > 0) {
        series.snapshots.remove(0, start);
        series.trimmed = true;
    }
}

// Stable, so equal timestamps keep list order; runs only after a snapshot arrived out of time order.
void SeriesCache::sortPositions(Series& series) const
{
    if (series.positionsSorted)
        return;
    series.positions.stableSort(
        [this](qsizetype a, qsizetype b) { return workingAt(a).timestamp < workingAt(b).timestamp; });
    series.positionsSorted = true;
}

bool SeriesCache::extends(const SnapshotLog& stored) const
{
    const qsizetype known = m_stored.size();
    if (stored.size() < known)
        return false;
    // Chunks still shared with the last log seen hold the same snapshots; the rest is compared by id,
    // unique per observation.
    for (qsizetype i = stored.sharedPrefixSize(m_stored); i < known; ++i)
        if (stored[i].id != m_stored[i].id)
            return false;
    return true;
}

void SeriesCache::update(const SnapshotLog& stored, const QSet<Provider>& enabled,
                         const std::optional<QDateTime>& ignoreAfter)
{
    std::array<bool, kProviders> isEnabled{};
    for (Provider p : enabled)
        isEnabled[size_t(p)] = true;
    // Another account's readings never join the default account's series.
    const auto keep = [&](const UsageSnapshot& s) {
        return isEnabled[size_t(s.provider)] && !s.account && !(ignoreAfter && s.timestamp > *ignoreAfter);
    };

    m_needsRebuild = false;
    m_incremental =
        enabled == m_enabled && ignoreAfter == m_ignoreAfter && !m_stored.isEmpty() && extends(stored);
    qsizetype from = 0;
    if (m_incremental) {
        from = m_stored.size();
    } else {
        clear();
        m_enabled = enabled;
        m_ignoreAfter = ignoreAfter;
        m_sharesStored = true;
    }
    m_stored = stored;
    for (qsizetype i = from; i < stored.size(); ++i) {
        const UsageSnapshot& s = stored[i];
        if (s.account && isEnabled[size_t(s.provider)] && !(ignoreAfter && s.timestamp > *ignoreAfter))
            m_others[{s.provider, *s.account, s.windowKind}].append(s);
        if (!keep(s)) {
            // The first snapshot left out: from here on the working list is a filtered copy.
            if (m_sharesStored) {
                m_sharesStored = false;
                m_working = stored.first(i);
            }
            continue;
        }
        if (!m_sharesStored)
            m_working.append(s);
        add(s);
    }
    if (m_needsRebuild) {
        // Start over on the whole log; the series out of order are then kept whole.
        m_stored.clear();
        m_keepWhole = true;
        update(stored, enabled, ignoreAfter);
        m_keepWhole = false;
        m_incremental = false;
        return;
    }
    for (auto& perProvider : m_series) {
        for (Series& series : perProvider) {
            trim(series);
            sortPositions(series);
        }
    }
}

void SeriesCache::reset(const SnapshotLog& working)
{
    clear();
    m_stored.clear();
    m_enabled.clear();
    m_ignoreAfter.reset();
    m_incremental = false;
    m_sharesStored = false;
    m_working = working;
    for (const UsageSnapshot& s : working)
        add(s);
    for (auto& perProvider : m_series) {
        for (Series& series : perProvider) {
            trim(series);
            sortPositions(series);
        }
    }
}

QList<WindowKind> SeriesCache::windows(Provider provider) const
{
    return m_windows[size_t(provider)];
}

const QList<UsageSnapshot>& SeriesCache::series(Provider provider, WindowKind window) const
{
    return m_series[size_t(provider)][size_t(window)].snapshots;
}

QList<WorkingSeries> SeriesCache::published() const
{
    QList<SeriesKey> keys = m_keys;
    std::stable_sort(keys.begin(), keys.end(), [](const SeriesKey& a, const SeriesKey& b) {
        return displayRank(a.second) < displayRank(b.second);
    });
    QList<WorkingSeries> result;
    result.reserve(keys.size());
    for (const SeriesKey& key : std::as_const(keys))
        result.append({key, m_series[size_t(key.first)][size_t(key.second)].positions});
    return result;
}
