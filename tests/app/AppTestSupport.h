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

#include <atomic>
#include <mutex>
#include <optional>
#include <thread>

namespace AppTest {

inline const QDateTime kNow = QDateTime(QDate(2026, 5, 12), QTime(14, 0, 0), Zone::utc());
inline const ManualClock kNowClock(kNow);

// A reading `secondsAgo` before kNow whose window resets `resetIn` seconds after kNow.
inline UsageSnapshot snap(Provider p, WindowKind w, qint64 secondsAgo, double used, qint64 resetIn = 3'600)
{
    return TestSupport::reading(p, w, kNow.addSecs(-secondsAgo), used, kNow.addSecs(resetIn));
}

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

// A provider that runs nothing: it reports a fixed health, counts its starts and stops, and sends an update
// when told to.
class FakeProvider final : public UsageProvider
{
public:
    FakeProvider(Provider kind, ProviderHealth health) : m_kind(kind), m_health(std::move(health)) {}
    Provider provider() const override { return m_kind; }
    ProviderHealth health() const override { return m_health; }
    void start(UpdateCallback onUpdate) override
    {
        std::lock_guard lock(m_mutex);
        m_callback = std::move(onUpdate);
        ++starts;
    }
    void stop() override
    {
        std::lock_guard lock(m_mutex);
        m_callback = {};
        ++stops;
    }
    // Reports new data the way a live provider does: from its own thread.
    void reportFromAnotherThread()
    {
        std::thread([this] {
            std::lock_guard lock(m_mutex);
            if (m_callback)
                m_callback({});
        }).join();
    }

    std::atomic<int> starts{0};
    std::atomic<int> stops{0};

private:
    Provider m_kind;
    ProviderHealth m_health;
    std::mutex m_mutex;
    UpdateCallback m_callback;
};

// An account as a cycle lists it, with its windows' forecasts and no readings.
inline AccountForecasts account(bool isDefault, Provider provider, const QString& key, const QString& label,
                                const QString& folder, const QList<ForecastResult>& forecasts = {})
{
    AccountForecasts a;
    a.isDefault = isDefault;
    a.provider = provider;
    a.key = key;
    a.label = label;
    a.folder = folder;
    a.forecasts = forecasts;
    return a;
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
