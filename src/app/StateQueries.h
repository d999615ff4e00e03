#pragma once

#include "app/ForecastBundle.h"
#include "core/model/AppSettings.h"
#include "core/model/Enums.h"
#include "core/model/ForecastModels.h"
#include "core/model/SnapshotLog.h"
#include "core/model/UsageSnapshot.h"

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QString>

#include <functional>
#include <optional>

// The questions asked of published state: by the application state itself, the menu-bar title and the
// one-shot command line, which has a bundle but no application state. They read the series the cycle
// published; none of them sorts or walks the whole log.
namespace StateQueries {

// Enabled providers in display order (codex, claude).
[[nodiscard]] QList<Provider> sortedEnabledProviders(const AppSettings& settings);

// One window's snapshots, ascending by timestamp (stable).
[[nodiscard]] QList<UsageSnapshot> series(const SnapshotLog& snapshots, const QList<WorkingSeries>& published,
                                          Provider provider, WindowKind window);
// The newest of one window's snapshots; on equal timestamps the earlier in the list wins.
[[nodiscard]] std::optional<UsageSnapshot> latestSnapshot(const SnapshotLog& snapshots,
                                                          const QList<WorkingSeries>& published,
                                                          Provider provider, WindowKind window);
// The same from `since` on (binary search: costs the snapshots returned, not the series).
[[nodiscard]] QList<UsageSnapshot> seriesSince(const SnapshotLog& snapshots,
                                               const QList<WorkingSeries>& published, Provider provider,
                                               WindowKind window, const QDateTime& since);
// The newest of the provider's snapshots (any window) that `accept` takes; on equal timestamps the earlier in
// the list. Walks each series from its newest end and stops there, so it costs little on a long log.
[[nodiscard]] std::optional<UsageSnapshot>
newestWhere(const SnapshotLog& snapshots, const QList<WorkingSeries>& published, Provider provider,
            const std::function<bool(const UsageSnapshot&)>& accept);
[[nodiscard]] std::optional<ForecastResult> forecast(const QMap<QString, ForecastResult>& forecasts,
                                                     Provider provider, WindowKind window);
// Each (provider, window) once: five-hour series first, then long ones, then monthly, then unknown;
// within one rank in order of first appearance.
[[nodiscard]] QList<SeriesKey> availableSeries(const QList<WorkingSeries>& published);
// The series closest to running out, only when it is exhausted or has a run-out time.
[[nodiscard]] std::optional<SeriesKey> mostUrgentSeries(const QList<WorkingSeries>& published,
                                                        const QMap<QString, ForecastResult>& forecasts,
                                                        const QDateTime& now);
// The window every face follows: under automatic focus the most urgent one; otherwise, or with nothing
// urgent, the chosen window while it has a forecast, else the chosen provider's first window that has one,
// else the first enabled provider's. The chosen window when nothing has a forecast.
[[nodiscard]] SeriesKey focusedSeries(const QList<WorkingSeries>& published,
                                      const QMap<QString, ForecastResult>& forecasts,
                                      const AppSettings& settings, const QDateTime& now);
// The worst status over all forecasts, the other accounts' among them; noData when there are none.
[[nodiscard]] ForecastStatus globalStatus(const QMap<QString, ForecastResult>& forecasts,
                                          const QList<AccountForecasts>& accounts = {});

} // namespace StateQueries
