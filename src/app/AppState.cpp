#include "app/AppState.h"

#include "app/ComputeSteps.h"
#include "app/MachineCollector.h"
#include "app/MachineMirrors.h"
#include "app/NotificationManager.h"
#include "app/RetentionScheduler.h"
#include "app/SeriesCache.h"
#include "core/forecast/CalibratedForecast.h"
#include "core/forecast/ForecastEngine.h"
#include "core/forecast/RecommendationEngine.h"
#include "core/io/AccountList.h"
#include "core/io/AppLogger.h"
#include "core/io/CollectorLock.h"
#include "core/io/FileIo.h"
#include "core/io/LocalFileStore.h"
#include "core/io/SettingsSaver.h"
#include "core/io/SettingsStore.h"
#include "core/io/Shell.h"
#include "core/io/SnapshotStore.h"
#include "core/runtime/Clock.h"
#include "history/ClaudeFiles.h"
#include "history/UsageHistory.h"
#include "providers/DemoProvider.h"
#include "providers/claude/ClaudeOAuthUsage.h"
#include "providers/claude/ClaudeStatusLineBridgeInstaller.h"
#include "providers/codex/CodexProvider.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPointer>

#include <algorithm>

namespace {

// The newest snapshot of a series as a stable ascending sort would leave it last: on equal timestamps the
// later entry wins. A scan, not a sort: series run to tens of thousands of snapshots.
std::optional<UsageSnapshot> newestOf(const QList<UsageSnapshot>& series)
{
    const UsageSnapshot* newest = nullptr;
    for (const UsageSnapshot& s : series)
        if (!newest || !(s.timestamp < newest->timestamp))
            newest = &s;
    if (!newest)
        return std::nullopt;
    return *newest;
}

} // namespace

AppState::AppState(Environment environment, QObject* parent)
    : QObject(parent), m_environment(std::move(environment)),
      m_clock(m_environment.clock ? *m_environment.clock : Clock::system())
{
    if (!m_environment.providerFactory) {
        m_environment.providerFactory = defaultProviderFactory();
        if (!m_environment.accountProviderFactory)
            m_environment.accountProviderFactory = defaultAccountProviderFactory();
        if (!m_environment.machinePull)
            m_environment.machinePull = MachinePull::Options{};
    }
    m_mirrors = std::make_shared<MachineMirrors>();
    m_seriesCache = std::make_shared<SeriesCache>();
    m_refreshTimer.setInterval(m_environment.refreshIntervalMs);
    connect(&m_refreshTimer, &QTimer::timeout, this, &AppState::refresh);
    m_collectorTimer.setInterval(m_environment.collectorRetryMs);
    connect(&m_collectorTimer, &QTimer::timeout, this, [this] {
        if (!m_environment.collectorLock->tryAcquire())
            return;
        m_collectorTimer.stop();
        AppLogger::shared().info(QStringLiteral("The other collector has gone: collecting here now"));
        startProviders();
    });
    m_historyTimer.setInterval(m_environment.historyIntervalMs);
    connect(&m_historyTimer, &QTimer::timeout, this, [this] {
        if (m_environment.history)
            m_environment.history->refresh(historyScanned());
    });
}

AppState::~AppState()
{
    m_refreshTimer.stop();
    m_historyTimer.stop();
    m_collectorTimer.stop();
    if (m_environment.history)
        m_environment.history->setOnCacheUpdated({});
    // A stopped provider never calls back, so nothing reaches this object once it is gone.
    stopProviders();
    // Lets a queued cycle finish; its apply finds this object gone and does nothing.
    m_computeQueue.reset();
}

void AppState::init()
{
    // The stores on the data folder.
    if (!m_environment.store) {
        LocalFileStore::ensureDirectories();
        m_environment.store = std::make_shared<SnapshotStore>(LocalFileStore::snapshotsPath());
    }
    m_store = m_environment.store;
    if (!m_environment.history) {
        UsageHistory::Options options = UsageHistory::defaults();
        AccountSettings::addTranscriptRoots(options);
        m_environment.history = std::make_shared<UsageHistory>(options);
    }
    if (!m_environment.claudeFiles)
        m_environment.claudeFiles = std::make_shared<ClaudeFiles>(LocalFileStore::baseDirectory());
    m_liveProviders.clear();
    m_computeQueue = std::make_unique<SerialQueue>(QStringLiteral("tallyvane.forecast"));
    // The settings, without scheduling a save: nothing changed yet.
    if (!m_environment.loadSettings || !m_environment.scheduleSave) {
        const SettingsStore settingsStore;
        const bool demo = SettingsStore::demoRequested(QCoreApplication::arguments());
        if (!m_environment.loadSettings)
            m_environment.loadSettings = [settingsStore, demo] {
                return SettingsStore::appliedDemoOnLoad(settingsStore.load(), demo);
            };
        if (!m_environment.scheduleSave) {
            m_saver = std::make_unique<SettingsSaver>(settingsStore, demo);
            m_environment.scheduleSave = [saver = m_saver.get()](const AppSettings& s) {
                saver->schedule(s);
            };
            m_environment.flushSave = [saver = m_saver.get()] { saver->flush(); };
        }
    }
    if (m_environment.loadSettings) {
        const AppSettings loaded = m_environment.loadSettings();
        if (loaded != m_settings) {
            m_settings = loaded;
            Q_EMIT settingsChanged();
        }
    }
    // Retention: now (before the first cycle reads the log) and then once a day, on the store's queue.
    m_retention = std::make_unique<RetentionScheduler>(
        m_store, m_clock, [this] { return m_settings.retentionDays; }, m_environment.retentionInterval);
    m_retention->start();
    registerHistoryCallback();
    // The first cycle reads what is stored before any provider adds to it.
    refresh();
    if (m_environment.collectorLock && !m_environment.collectorLock->tryAcquire()) {
        AppLogger::shared().info(QStringLiteral("Another Tallyvane collects: reading its log"));
        m_collectorTimer.start();
    }
    watchAccounts();
    startProviders();
    m_refreshTimer.start();
    startHistoryScans();
    if (m_environment.watchLog)
        watchLog();
}

void AppState::watchAccounts()
{
    m_accountsFile = FileIo::readOwnFile(AccountList::path(), AccountList::maxFile);
    m_accountFolders = AccountSettings::list();
    // The folder, not the file: accounts.json is replaced whole, and may not exist yet.
    const QString folder = QFileInfo(AccountList::path()).absolutePath();
    m_accountsWatcher = std::make_unique<QFileSystemWatcher>();
    if (QFileInfo::exists(folder))
        m_accountsWatcher->addPath(folder);
    connect(m_accountsWatcher.get(), &QFileSystemWatcher::directoryChanged, this, &AppState::reloadAccounts);
}

void AppState::reloadAccounts()
{
    std::optional<QByteArray> bytes = FileIo::readOwnFile(AccountList::path(), AccountList::maxFile);
    if (bytes == m_accountsFile)
        return;
    m_accountsFile = std::move(bytes);
    const QList<AccountSettings::Entry> folders = AccountSettings::list();
    syncAccountProviders();
    if (folders != m_accountFolders) {
        m_accountFolders = folders;
        Q_EMIT changed();
    }
    refresh();
}

void AppState::watchLog()
{
    const QString log = m_store->fileName();
    const QString folder = QFileInfo(log).absolutePath();
    m_logWatcher = std::make_unique<QFileSystemWatcher>();
    // Appends come in bursts (one per window): one refresh for the burst.
    m_logRefresh.setSingleShot(true);
    m_logRefresh.setInterval(500);
    connect(&m_logRefresh, &QTimer::timeout, this, [this] {
        if (!m_settings.demoMode)
            refresh();
    });
    const auto follow = [this, log, folder] {
        if (QFileInfo::exists(folder) && !m_logWatcher->directories().contains(folder))
            m_logWatcher->addPath(folder);
        if (QFileInfo::exists(log) && !m_logWatcher->files().contains(log))
            m_logWatcher->addPath(log);
    };
    connect(m_logWatcher.get(), &QFileSystemWatcher::fileChanged, this, [this, follow] {
        follow(); // a log rewritten by pruning is a new file to watch
        m_logRefresh.start();
    });
    // The folder tells when a log that did not exist yet appears; the summary's and the settings' own writes
    // land there too, so a change of the folder alone refreshes nothing.
    connect(m_logWatcher.get(), &QFileSystemWatcher::directoryChanged, this, [this, log, follow] {
        if (!m_logWatcher->files().contains(log) && QFileInfo::exists(log)) {
            follow();
            m_logRefresh.start();
        }
    });
    follow();
}

void AppState::setSettings(const AppSettings& settings)
{
    const bool differs = settings != m_settings;
    if (settings.forecastBasis != m_settings.forecastBasis)
        m_viewBasis.reset();
    m_settings = settings;
    if (m_environment.scheduleSave)
        m_environment.scheduleSave(m_settings);
    if (differs) {
        Q_EMIT settingsChanged();
        Q_EMIT changed();
    }
}

void AppState::flushSettings()
{
    if (m_environment.flushSave)
        m_environment.flushSave();
}

void AppState::refresh()
{
    // A cycle under way may have read the settings or the log before what prompted this request: one more
    // follows it and serves every request made meanwhile, so a slow cycle never piles up a queue.
    if (m_cyclePending) {
        m_refreshWanted = true;
        return;
    }
    if (!m_computeQueue)
        m_computeQueue = std::make_unique<SerialQueue>(QStringLiteral("tallyvane.forecast"));
    m_cyclePending = true;
    ++m_requestedCycles;
    AppSettings cycleSettings = m_settings;
    cycleSettings.forecastBasis = shownBasis();
    ComputeRequest request{cycleSettings,
                           sortedEnabledProviders(),
                           m_store,
                           m_clock.now(),
                           &m_clock,
                           std::nullopt,
                           m_seriesCache,
                           m_environment.history,
                           m_environment.claudeFiles,
                           m_mirrors};
    QPointer<AppState> guard(this);
    m_computeQueue->async([request = std::move(request), guard]() {
        ForecastBundle bundle = compute(request);
        // Posted to the application object, which outlives every state; the guard is read on its thread.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [guard, bundle = std::move(bundle), settings = request.settings, now = request.now]() {
                if (!guard)
                    return;
                guard->apply(bundle, settings, now);
                guard->cycleApplied();
            },
            Qt::QueuedConnection);
    });
}

ForecastBundle AppState::compute(const ComputeRequest& request)
{
    const AppSettings& settings = request.settings;
    const ManualClock fixed(request.now);
    const Clock& clock = request.clock ? *request.clock : fixed;
    ForecastBundle bundle;
    const bool claude = request.providers.contains(Provider::claude);
    UsageHistory* history = request.history.get();
    ClaudeFiles* files = request.claudeFiles.get();
    const ClaudeTokenCount tokens = ComputeSteps::tokenCount(history);

    // The working snapshots, split into series.
    SeriesCache localCache;
    SeriesCache& cache = request.cache ? *request.cache : localCache;
    if (settings.demoMode) {
        QList<UsageSnapshot> demo;
        for (Provider provider : request.providers)
            demo.append(DemoProvider::history(provider, request.now));
        bundle.snapshots = std::move(demo);
        cache.reset(bundle.snapshots);
    } else {
        SnapshotLog stored = request.store ? request.store->log() : SnapshotLog{};
        // Another machine's readings of an account count as this machine's own; its usage adds to the spend.
        if (request.mirrors) {
            request.mirrors->update(request.now);
            stored = request.mirrors->withMirrors(stored);
            bundle.machines = request.mirrors->reports();
            if (history)
                history->setElsewhere(request.mirrors->usage());
        }
        cache.update(stored, settings.enabledProviders, request.ignoreAfter);
        bundle.snapshots = cache.working(stored);
    }
    bundle.series = cache.published();

    // Claude between its live readings: estimates from the transcripts join the working list.
    QList<UsageSnapshot> estimates;
    if (!settings.demoMode && claude && history && files) {
        estimates = ComputeSteps::augmentClaude(bundle, tokens, *files, request.now);
        ComputeSteps::appendEstimates(bundle, estimates);
    }
    if (claude && files)
        bundle.claudeCurrent = ComputeSteps::currentClaudeSettings(history, *files);
    if (!settings.demoMode && claude && history && files)
        ComputeSteps::learnEffort(bundle, tokens, *files, request.now);

    // Every provider's windows, five-hour first; each provider gives the recommendations one input.
    QList<RecommendationEngine::Input> inputs;
    for (Provider provider : request.providers) {
        QList<WindowKind> windows = cache.windows(provider);
        for (const UsageSnapshot& e : std::as_const(estimates))
            if (e.provider == provider && !windows.contains(e.windowKind))
                windows.append(e.windowKind);
        std::stable_sort(windows.begin(), windows.end(),
                         [](WindowKind a, WindowKind b) { return displayRank(a) < displayRank(b); });

        RecommendationEngine::Input input;
        input.provider = provider;
        for (WindowKind window : std::as_const(windows)) {
            QList<UsageSnapshot> series = cache.series(provider, window);
            for (const UsageSnapshot& e : std::as_const(estimates))
                if (e.provider == provider && e.windowKind == window)
                    series.append(e);
            ForecastResult result = ForecastEngine::forecast(provider, window, series, settings.forecastBasis,
                                                             settings.sleep, clock.now());
            bundle.forecasts.insert(result.id(), result);
            if (window == WindowKind::fiveHour) {
                input.fiveHour = result;
                input.snapshot = newestOf(series);
            } else if (isLongWindow(window) && !series.isEmpty()) {
                if (!ComputeSteps::speaksForProvider(window, windows)) {
                    // The Sonnet limit beside the weekly one: its own forecast and status, nothing more.
                    const ForecastResult adjusted = CalibratedForecast::applyWeeklyStatus(result);
                    bundle.forecasts.insert(adjusted.id(), adjusted);
                    continue;
                }
                const ComputeSteps::LongWindow longWindow = ComputeSteps::longWindow(
                    bundle, result, *newestOf(series), settings, history, files, clock.now());
                bundle.paces.insert(provider, longWindow.pace);
                if (longWindow.calibrated)
                    bundle.calibrated.insert(provider, *longWindow.calibrated);
                bundle.forecasts.insert(longWindow.forecast.id(), longWindow.forecast);
                input.longWindow = longWindow.forecast;
                input.pace = longWindow.pace;
            }
        }
        // Also a provider without windows: the advice compares providers.
        inputs.append(input);
    }
    bundle.recommendations = RecommendationEngine::recommendations(inputs);
    if (!settings.demoMode) {
        auto others = cache.otherAccounts();
        if (claude && history && files)
            ComputeSteps::estimateOtherClaudeAccounts(others, history, *files, request.now);
        bundle.accounts = ComputeSteps::otherAccounts(others, settings, clock.now());
    }
    return bundle;
}

void AppState::apply(const ForecastBundle& bundle, const AppSettings& cycleSettings, const QDateTime& now)
{
    bool anyChanged = false;
    if (bundle.snapshots != m_published.snapshots) {
        m_published.snapshots = bundle.snapshots;
        m_published.series = bundle.series;
        anyChanged = true;
        Q_EMIT workingSnapshotsChanged();
    }
    if (bundle.forecasts != m_published.forecasts) {
        m_published.forecasts = bundle.forecasts;
        anyChanged = true;
        Q_EMIT forecastsChanged();
    }
    if (bundle.paces != m_published.paces) {
        m_published.paces = bundle.paces;
        anyChanged = true;
        Q_EMIT pacesChanged();
    }
    if (bundle.calibrated != m_published.calibrated) {
        m_published.calibrated = bundle.calibrated;
        anyChanged = true;
        Q_EMIT calibratedChanged();
    }
    if (bundle.claudeCurrent != m_published.claudeCurrent) {
        m_published.claudeCurrent = bundle.claudeCurrent;
        anyChanged = true;
        Q_EMIT claudeCurrentChanged();
    }
    bool recommendationsPublished = false;
    if (bundle.recommendations != m_published.recommendations) {
        m_published.recommendations = bundle.recommendations;
        recommendationsPublished = true;
        Q_EMIT recommendationsChanged();
    }
    if (bundle.accounts != m_published.accounts) {
        m_published.accounts = bundle.accounts;
        anyChanged = true;
        Q_EMIT forecastsChanged();
    }
    // How the other machines' pulls go: only `changed` follows.
    if (bundle.machines != m_published.machines) {
        m_published.machines = bundle.machines;
        anyChanged = true;
    }
    bool published = anyChanged || recommendationsPublished;
    if (published || !m_lastRefresh) {
        m_lastRefresh = now;
        published = true;
        Q_EMIT lastRefreshChanged();
    }

    // Automatic focus saves the most urgent series as the focus, once when it moves; the fallbacks of
    // focusedSeries() are worked out afresh by every face and never saved.
    if (cycleSettings.focusAuto) {
        if (const std::optional<SeriesKey> urgent =
                StateQueries::mostUrgentSeries(m_published.series, m_published.forecasts, m_clock.now())) {
            AppSettings next = m_settings;
            next.focusedProvider = urgent->first;
            next.focusedWindow = urgent->second;
            if (next != m_settings)
                setSettings(next);
        }
    }

    QMap<Provider, ProviderHealth> health = m_providerHealth;
    for (auto it = m_liveProviders.cbegin(); it != m_liveProviders.cend(); ++it)
        health.insert(it.key(), it.value()->health());
    if (health != m_providerHealth) {
        m_providerHealth = health;
        published = true;
        Q_EMIT providerHealthChanged();
    }

    notify(bundle, cycleSettings);

    if (published)
        Q_EMIT changed();
    Q_EMIT cycleFinished();
}

void AppState::cycleApplied()
{
    m_cyclePending = false;
    if (m_refreshWanted) {
        m_refreshWanted = false;
        refresh();
    }
}

void AppState::refreshAll()
{
    if (m_machines)
        m_machines->pullNow();
    refresh();
}

void AppState::stopProviders()
{
    m_machines.reset();
    for (const auto& provider : std::as_const(m_liveProviders))
        provider->stop();
    m_liveProviders.clear();
    m_collecting = false;
    syncAccountProviders();
}

UsageProvider::UpdateCallback AppState::providerUpdate()
{
    QPointer<AppState> guard(this);
    return [guard](const QList<UsageSnapshot>&) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [guard] {
                if (guard)
                    guard->refresh();
            },
            Qt::QueuedConnection);
    };
}

void AppState::startProviders()
{
    // The other accounts' providers that stay switched on keep running: a Codex child is not restarted.
    for (const auto& provider : std::as_const(m_liveProviders))
        provider->stop();
    m_liveProviders.clear();

    // A provider that no longer runs keeps no health entry: a stale "connected" would outlive it.
    QMap<Provider, ProviderHealth> health;
    m_collecting =
        !m_settings.demoMode && (!m_environment.collectorLock || m_environment.collectorLock->isHeld());
    if (m_collecting) {
        for (Provider kind : sortedEnabledProviders()) {
            if (std::shared_ptr<UsageProvider> provider = m_environment.providerFactory(kind, m_store)) {
                provider->start(providerUpdate());
                m_liveProviders.insert(kind, provider);
                health.insert(kind, provider->health());
            }
        }
        syncAccountProviders();
        if (m_environment.machinePull) {
            MachinePull::Options options = *m_environment.machinePull;
            options.retentionDays = m_settings.retentionDays;
            m_machines = std::make_unique<MachineCollector>(options, m_environment.machinePullIntervalMs);
            connect(m_machines.get(), &MachineCollector::pulled, this, &AppState::refresh);
            m_machines->start();
        }
    }
    publishProviderHealth(health);
}

void AppState::syncAccountProviders()
{
    QList<AccountFolders::Account> wanted;
    if (m_collecting && m_environment.accountProviderFactory) {
        const QList<AccountFolder> added = AccountList::load();
        for (Provider kind : sortedEnabledProviders())
            for (const AccountFolders::Account& account : AccountFolders::accounts(kind, added))
                if (!account.folder.isDefault)
                    wanted.append(account);
    }
    // Key and folder name a provider: a label is only shown, and changes nothing that runs.
    const auto same = [](const AccountFolders::Account& a, const AccountFolders::Account& b) {
        return a.key == b.key && a.folder.folder == b.folder.folder;
    };
    QList<AccountRun> kept;
    for (const AccountRun& run : std::as_const(m_accountProviders)) {
        const bool stays =
            std::any_of(wanted.cbegin(), wanted.cend(), [&](const auto& a) { return same(a, run.account); });
        if (stays)
            kept.append(run);
        else
            run.provider->stop();
    }
    QList<AccountRun> next;
    for (const AccountFolders::Account& account : std::as_const(wanted)) {
        const auto running = std::find_if(kept.cbegin(), kept.cend(),
                                          [&](const AccountRun& run) { return same(run.account, account); });
        if (running != kept.cend()) {
            next.append({account, running->provider});
        } else if (auto provider = m_environment.accountProviderFactory(account, m_store)) {
            provider->start(providerUpdate());
            next.append({account, std::move(provider)});
        }
    }
    m_accountProviders = std::move(next);
}

QList<AccountFolders::Account> AppState::runningAccounts() const
{
    QList<AccountFolders::Account> running;
    for (const AccountRun& run : m_accountProviders)
        running.append(run.account);
    return running;
}

void AppState::publishProviderHealth(const QMap<Provider, ProviderHealth>& health)
{
    if (health == m_providerHealth)
        return;
    m_providerHealth = health;
    Q_EMIT providerHealthChanged();
    Q_EMIT changed();
}

void AppState::toggleProvider(Provider provider, bool enabled)
{
    AppSettings next = m_settings;
    if (enabled)
        next.enabledProviders.insert(provider);
    else
        next.enabledProviders.remove(provider);
    setSettings(next);
    startProviders();
    refresh();
}

void AppState::setFocusedProvider(Provider provider)
{
    AppSettings next = m_settings;
    next.focusAuto = false;
    if (m_settings.focusedProvider != provider) {
        next.focusedProvider = provider;
        QList<WindowKind> candidates;
        for (const SeriesKey& key : availableSeries())
            if (key.first == provider)
                candidates.append(key.second);
        // The window stays where the provider has it; else its long window, else its first.
        const auto longOne = std::find_if(candidates.cbegin(), candidates.cend(), isLongWindow);
        if (!candidates.contains(next.focusedWindow) && longOne != candidates.cend())
            next.focusedWindow = *longOne;
        else if (!candidates.contains(next.focusedWindow) && !candidates.isEmpty())
            next.focusedWindow = candidates.first();
    }
    // One assignment, so one save and one settingsChanged for the whole change.
    setSettings(next);
}

void AppState::setFocusedAccount(const QString& key)
{
    if (m_viewAccount == key)
        return;
    m_viewAccount = key;
    Q_EMIT changed();
}

void AppState::setBasis(ForecastBasis basis)
{
    if (shownBasis() == basis)
        return;
    m_viewBasis = basis == m_settings.forecastBasis ? std::nullopt : std::optional(basis);
    Q_EMIT changed();
    QMetaObject::invokeMethod(this, &AppState::refresh, Qt::QueuedConnection);
}

void AppState::setDefaultBasis(ForecastBasis basis)
{
    const ForecastBasis shown = shownBasis();
    AppSettings next = m_settings;
    next.forecastBasis = basis;
    setSettings(next);
    if (shownBasis() != shown)
        QMetaObject::invokeMethod(this, &AppState::refresh, Qt::QueuedConnection);
}

QList<Provider> AppState::sortedEnabledProviders() const
{
    return StateQueries::sortedEnabledProviders(m_settings);
}

QList<UsageSnapshot> AppState::series(Provider provider, WindowKind window) const
{
    return StateQueries::series(m_published.snapshots, m_published.series, provider, window);
}

std::optional<UsageSnapshot> AppState::latestSnapshot(Provider provider, WindowKind window) const
{
    return StateQueries::latestSnapshot(m_published.snapshots, m_published.series, provider, window);
}

QList<UsageSnapshot> AppState::seriesSince(Provider provider, WindowKind window, const QDateTime& since) const
{
    return StateQueries::seriesSince(m_published.snapshots, m_published.series, provider, window, since);
}

std::optional<UsageSnapshot>
AppState::newestSnapshotWhere(Provider provider,
                              const std::function<bool(const UsageSnapshot&)>& accept) const
{
    return StateQueries::newestWhere(m_published.snapshots, m_published.series, provider, accept);
}

std::optional<ForecastResult> AppState::forecast(Provider provider, WindowKind window) const
{
    return StateQueries::forecast(m_published.forecasts, provider, window);
}

QList<SeriesKey> AppState::availableSeries() const
{
    return StateQueries::availableSeries(m_published.series);
}

SeriesKey AppState::focusedSeries() const
{
    return StateQueries::focusedSeries(m_published.series, m_published.forecasts, m_settings, m_clock.now());
}

ForecastStatus AppState::globalStatus() const
{
    return StateQueries::globalStatus(m_published.forecasts);
}

// Rolling counts that land and rescans that find news start a cycle.
void AppState::registerHistoryCallback()
{
    if (!m_environment.history)
        return;
    QPointer<AppState> guard(this);
    m_environment.history->setOnCacheUpdated([guard] {
        if (guard)
            guard->refresh();
    });
}

std::function<void()> AppState::historyScanned()
{
    QPointer<AppState> guard(this);
    return [guard] {
        if (guard)
            guard->refresh();
    };
}

void AppState::startHistoryScans()
{
    if (!m_environment.history || m_environment.historyIntervalMs <= 0)
        return;
    m_environment.history->refresh(historyScanned());
    m_historyTimer.start();
}

PublishedState AppState::publishedState() const
{
    PublishInputs inputs;
    inputs.bundle = m_published;
    inputs.settings = m_settings;
    inputs.settings.forecastBasis = shownBasis();
    inputs.focusedAccount = m_viewAccount;
    inputs.health = m_providerHealth;
    inputs.lastRefresh = m_lastRefresh;
    inputs.history = m_environment.history ? m_environment.history->totals() : nullptr;
    if (!m_settings.demoMode && m_settings.enabledProviders.contains(Provider::claude))
        inputs.extraUsage =
            m_environment.extraUsage ? m_environment.extraUsage() : ClaudeOAuthUsage::shared().lastExtra();
    // The provider searches more folders than PATH and knows best; without one, search as it would.
    const auto codex = m_providerHealth.constFind(Provider::codex);
    if (codex != m_providerHealth.cend()) {
        inputs.codexFound = codex->state != ProviderHealth::State::unavailable;
    } else if (m_environment.codexFound) {
        inputs.codexFound = m_environment.codexFound();
    } else {
        const qint64 monotonic = QDateTime::currentMSecsSinceEpoch();
        if (!m_codexSearch || std::abs(monotonic - m_codexSearch->first) >= 60'000)
            m_codexSearch = std::pair{monotonic, !Shell::which(QStringLiteral("codex")).isEmpty()};
        inputs.codexFound = m_codexSearch->second;
    }
    if (!m_settings.demoMode && m_settings.enabledProviders.contains(Provider::claude)) {
        const ClaudeBridgeStatus::State bridge =
            (m_environment.bridgeStatus ? m_environment.bridgeStatus() : bridgeStatus()).state;
        inputs.claudeBridge =
            bridge == ClaudeBridgeStatus::State::installed || bridge == ClaudeBridgeStatus::State::wrapping;
    }
    inputs.accountFolders = m_accountFolders;
    for (const AccountRun& run : m_accountProviders)
        inputs.accountProviderHealth.insert(run.account.key, run.provider->health());
    inputs.now = m_clock.now();
    return PublishedState::make(std::move(inputs));
}

QString AppState::weeklyRecapText() const
{
    const auto totals = m_environment.history ? m_environment.history->totals() : nullptr;
    return StateReports::weeklyRecapText(m_published, totals.get(), m_settings, m_clock.now());
}

ClaudeBridgeStatus AppState::bridgeStatus()
{
    return ClaudeStatusLineBridgeInstaller::currentStatus();
}

QString AppState::diagnosticsText() const
{
    StateReports::DiagnosticsInputs in;
    in.settings = m_settings;
    in.lastRefresh = m_lastRefresh;
    in.providerHealth = m_providerHealth;
    in.forecasts = m_published.forecasts;
    if (m_environment.codexPath) {
        in.codexPath = m_environment.codexPath();
    } else if (const auto codex = std::dynamic_pointer_cast<CodexProvider>(liveProvider(Provider::codex))) {
        // What the provider resolved when it started: no search runs here on the GUI thread.
        in.codexPath = codex->executablePath();
    }
    in.bridge = ClaudeStatusLineBridgeInstaller::currentStatus();
    in.lastError = AppLogger::shared().lastError();
    in.homePath = QDir::homePath();
    return StateReports::diagnosticsText(in);
}

// Hands the cycle's results to the notification manager, with the settings the cycle was computed with.
void AppState::notify(const ForecastBundle& bundle, const AppSettings& cycleSettings)
{
    NotificationManager* manager = m_environment.notifications;
    if (!manager)
        return;
    QList<std::pair<Provider, PaceResult>> paces;
    for (auto it = bundle.paces.cbegin(); it != bundle.paces.cend(); ++it)
        paces.append({it.key(), it.value()});
    manager->evaluate(bundle.forecasts.values(), paces, cycleSettings, bundle.accounts);
    manager->evaluateRunOut(bundle.calibrated, cycleSettings, m_clock.now());
    // Overage figures exist only where the Claude provider runs live and has fetched them.
    std::optional<ClaudeExtraUsage> extra;
    if (!cycleSettings.demoMode && cycleSettings.enabledProviders.contains(Provider::claude))
        extra =
            m_environment.extraUsage ? m_environment.extraUsage() : ClaudeOAuthUsage::shared().lastExtra();
    manager->evaluateBudget(extra, cycleSettings, m_clock.now());
    manager->weeklyRecap(m_environment.weeklyRecapText ? m_environment.weeklyRecapText(*this)
                                                       : weeklyRecapText(),
                         cycleSettings, m_clock.now());
}
