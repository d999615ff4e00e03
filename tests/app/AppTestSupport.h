#pragma once

#include "app/AppState.h"
#include "app/ForecastBundle.h"
#include "app/SeriesCache.h"
#include "core/model/Enums.h"
#include "core/model/ForecastModels.h"
#include "core/text/Zone.h"
#include "support/Reading.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QString>

#include <optional>

namespace AppTest {

inline const QDateTime kNow = QDateTime(QDate(2026, 5, 12), QTime(14, 0, 0), Zone::utc());
inline const ManualClock kNowClock(kNow);

// A forecast with the fields the state and the title read; the rest at their defaults.
inline ForecastResult forecast(Provider provider, WindowKind window, double used,
                               ForecastStatus status = ForecastStatus::safe,
                               std::optional<double> timeToLimit = std::nullopt,
                               std::optional<QDateTime> runOutAt = std::nullopt)
{
    ForecastResult f;
    f.provider = provider;
    f.windowKind = window;
    f.currentUsedPercent = used;
    f.currentRemainingPercent = std::max(0.0, 100 - used);
    f.status = status;
    f.estimatedTimeToLimit = timeToLimit;
    f.runOutAt = runOutAt;
    return f;
}

// Forecasts keyed as a cycle publishes them, by ForecastResult::id().
inline QMap<QString, ForecastResult> keyed(const QList<ForecastResult>& list)
{
    QMap<QString, ForecastResult> map;
    for (const ForecastResult& f : list)
        map.insert(f.id(), f);
    return map;
}

// Surroundings for a state under test: the clock stands at kNow, settings load as given and are never saved,
// no provider runs and no transcripts are scanned.
inline AppStateEnvironment environment(const AppSettings& settings = {})
{
    AppStateEnvironment env;
    env.clock = &kNowClock;
    env.loadSettings = [settings] { return settings; };
    env.scheduleSave = [](const AppSettings&) {};
    env.flushSave = [] {};
    env.providerFactory = [](Provider, const std::shared_ptr<SnapshotStore>&) {
        return std::shared_ptr<UsageProvider>();
    };
    env.historyIntervalMs = 0;
    // Never the search path of the machine the tests run on.
    env.codexFound = [] { return false; };
    return env;
}

// A bundle of `snapshots` with their series listed as a cycle publishes them.
inline ForecastBundle bundleOf(const QList<UsageSnapshot>& snapshots)
{
    SeriesCache cache;
    cache.reset(snapshots);
    ForecastBundle bundle;
    bundle.snapshots = snapshots;
    bundle.series = cache.published();
    return bundle;
}

} // namespace AppTest
