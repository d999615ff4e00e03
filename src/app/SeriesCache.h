#pragma once

#include "app/ForecastBundle.h"
#include "core/model/Enums.h"
#include "core/model/SnapshotLog.h"
#include "core/model/UsageSnapshot.h"

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QSet>

#include <array>
#include <optional>
#include <tuple>

// The working snapshots of a cycle split into (provider, window) series, kept from one cycle to the next
// so that after an append to a long log only the new snapshots are sorted in. Each series is kept twice:
// as the positions of all its snapshots in time order, which the cycle publishes for the queries, and as
// copies from its window's latest reset on (when in time order), which the forecast reads: it never looks
// further back. Used by one compute queue at a time; not thread-safe.
class SeriesCache
{
public:
    // Brings the cache up to date with the store's log, keeping the enabled providers' snapshots stamped
    // no later than `ignoreAfter`.
    void update(const SnapshotLog& stored, const QSet<Provider>& enabled,
                const std::optional<QDateTime>& ignoreAfter);
    // Builds it from a list that is already the working list (demo data).
    void reset(const SnapshotLog& working);

    // The working log: the stored log itself when nothing is left out (shared), else the filtered one.
    SnapshotLog working(const SnapshotLog& stored) const { return m_sharesStored ? stored : m_working; }
    // One provider's windows in order of first appearance.
    QList<WindowKind> windows(Provider provider) const;
    // One series in list order, possibly without the snapshots before its window's latest reset.
    const QList<UsageSnapshot>& series(Provider provider, WindowKind window) const;
    // Every series with its positions in the working log, in the order the queries list them.
    QList<WorkingSeries> published() const;
    // The other accounts' readings of the enabled providers (not in the working log), by provider, account
    // and window, each in log order.
    using OtherKey = std::tuple<Provider, QString, WindowKind>;
    const QMap<OtherKey, QList<UsageSnapshot>>& otherAccounts() const { return m_others; }

    // How the last update went, for tests and benchmarks.
    bool lastUpdateWasIncremental() const { return m_incremental; }

private:
    struct Series
    {
        QList<UsageSnapshot> snapshots;
        // Every snapshot of the series as a position in the working log, ascending by timestamp once sorted.
        SeriesPositions positions;
        bool positionsSorted = true;
        // Ascending by timestamp so far (then trimming at a reset is safe).
        bool ascending = true;
        bool trimmed = false;
        qsizetype addedSinceTrim = 0;
    };

    void clear();
    void add(const UsageSnapshot& snapshot);
    void trim(Series& series);
    void sortPositions(Series& series) const;
    bool extends(const SnapshotLog& stored) const;
    const UsageSnapshot& workingAt(qsizetype position) const
    {
        return m_sharesStored ? m_stored[position] : m_working[position];
    }

    static constexpr size_t kProviders = allProviders.size();
    static constexpr size_t kWindows = allWindowKinds.size();

    // The stored log last seen; holding it costs the store at most a copy of its last chunk on the next
    // append.
    SnapshotLog m_stored;
    QSet<Provider> m_enabled;
    std::optional<QDateTime> m_ignoreAfter;
    bool m_sharesStored = true;
    SnapshotLog m_working;
    qsizetype m_workingSize = 0;
    // Every series in order of first appearance.
    QList<SeriesKey> m_keys;
    std::array<QList<WindowKind>, kProviders> m_windows;
    std::array<std::array<Series, kWindows>, kProviders> m_series;
    bool m_incremental = false;
    QMap<OtherKey, QList<UsageSnapshot>> m_others;
    // A snapshot older than its trimmed series' newest arrived: what was dropped may matter again.
    bool m_needsRebuild = false;
    // Set while rebuilding: no trim before the end, so a series found out of order is kept whole.
    bool m_keepWhole = false;
    static constexpr qsizetype trimBatch = 4096;
};
