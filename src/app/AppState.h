#pragma once

#include "app/AccountSettings.h"
#include "app/ForecastBundle.h"
#include "app/MachinePull.h"
#include "app/ProviderFactory.h"
#include "app/PublishedState.h"
#include "app/StateQueries.h"
#include "app/StateReports.h"
#include "core/model/AppSettings.h"
#include "core/model/ProviderHealth.h"
#include "core/runtime/Clock.h"
#include "core/runtime/SerialQueue.h"
#include "providers/claude/ClaudeBridgeStatus.h"
#include "providers/claude/ClaudeUsageAnswer.h"

#include <QDateTime>
#include <QFileSystemWatcher>
#include <QList>
#include <QMap>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class RetentionScheduler;
class AppState;
class ClaudeFiles;
class MachineCollector;
class MachineMirrors;
class CollectorLock;
class NotificationManager;
class SeriesCache;
class SettingsSaver;
class SnapshotStore;
class UsageHistory;
class UsageProvider;

// What the state is built on; every member has a working default for the real application.
struct AppStateEnvironment
{
    // The current time; fixed in tests and for replays. Read from the compute queue too; outlives the state.
    const Clock* clock = &Clock::system();
    // Empty: the providers this build can run (defaultProviderFactory()).
    ProviderFactory providerFactory;
    // The providers of the other accounts of each enabled kind, one per switched-on folder of accounts.json
    // and the folders found. Empty: defaultAccountProviderFactory() with the default provider factory, none
    // with a given one.
    AccountProviderFactory accountProviderFactory;
    // Empty: the data folder's snapshot log.
    std::shared_ptr<SnapshotStore> store;
    // Empty: the data folder's settings file, with the "--demo" rule of the process arguments.
    std::function<AppSettings()> loadSettings;
    // Empty: a debounced save of the settings file. Called once per settings assignment.
    std::function<void(const AppSettings&)> scheduleSave;
    // Empty: writes a pending debounced save now.
    std::function<void()> flushSave;
    int refreshIntervalMs = 30'000;
    // How often the log is pruned to the retention setting after the prune at start.
    std::chrono::milliseconds retentionInterval{24 * 60 * 60 * 1000};
    // Null: no notifications (the one-shot command-line modes). Outlives the state.
    NotificationManager* notifications = nullptr;
    // The Claude account's latest overage figures, for the budget alert; empty: those of the last OAuth
    // usage fetch. Asked only while Claude runs live.
    std::function<std::optional<ClaudeExtraUsage>()> extraUsage;
    // The weekly recap text of the published state; empty: the state's own weeklyRecapText().
    std::function<QString(const AppState&)> weeklyRecapText;
    // Empty: the transcript history of the user's assistants, with its cache in the data folder.
    std::shared_ptr<UsageHistory> history;
    // Empty: the estimator's and the effort calibration's files in the data folder.
    std::shared_ptr<ClaudeFiles> claudeFiles;
    // How often the transcripts are scanned again; 0: never, not even at start (tests that count cycles).
    int historyIntervalMs = 300'000;
    // Where the Codex program is, for the diagnostics; empty: asked of the running Codex provider.
    std::function<QString()> codexPath;
    // Whether a `codex` program is on the search path, asked while no Codex provider has reported; empty: the
    // search path is searched (at most once a minute).
    std::function<bool()> codexFound;
    // Whether Claude Code's status line runs the bridge; empty: Claude's settings file is read.
    std::function<ClaudeBridgeStatus()> bridgeStatus;
    // Null: this state always runs the providers. Otherwise only while it holds this lock; without it the
    // state reads what the holder logs and asks for the lock again every `collectorRetryMs`.
    std::shared_ptr<CollectorLock> collectorLock;
    int collectorRetryMs = 5'000;
    // Whether appends to the store's log by other processes (the status-line bridge) refresh the state
    // within a second, not only at the next timed refresh.
    bool watchLog = false;
    // How the other machines are pulled while this state collects. Empty: with the default options when the
    // provider factory is the default one (the tray, --headless, a collecting top), never with a given one.
    std::optional<MachinePull::Options> machinePull;
    int machinePullIntervalMs = 300'000;
};

// Everything one compute cycle works from; captured on the main thread.
struct ComputeCycleRequest
{
    AppSettings settings;
    QList<Provider> providers;
    std::shared_ptr<SnapshotStore> store;
    QDateTime now;
    // Read afresh for every forecast and pace; `now` when null.
    const Clock* clock = nullptr;
    // Snapshots stamped after this are left out (replaying the log as of an earlier instant).
    std::optional<QDateTime> ignoreAfter;
    // Series kept from the previous cycle on the same queue; a cycle without one groups from scratch.
    std::shared_ptr<SeriesCache> cache;
    // The transcript history; none: no Claude estimates, current model, effort learning or calibration.
    std::shared_ptr<UsageHistory> history;
    // The estimator's files; none: no anchors, effort rates or meta file are read or written.
    std::shared_ptr<ClaudeFiles> claudeFiles;
    // The other machines' mirrors; none: this machine's log and transcripts alone.
    std::shared_ptr<MachineMirrors> mirrors;
};

// The one observable state of the application, owned by the GUI thread.
//
// Observing it: every published field has its own change signal, emitted only when the value really
// changed; `changed()` follows once after any batch of them (one cycle's apply, one action), which is
// all a view that simply redraws needs. `cycleFinished()` fires after every apply, changed or not.
class AppState : public QObject
{
    Q_OBJECT

public:
    using Environment = AppStateEnvironment;
    using ComputeRequest = ComputeCycleRequest;

    explicit AppState(Environment environment = {}, QObject* parent = nullptr);
    ~AppState() override;

    // The start-up sequence: settings, first cycle, providers, refresh timer.
    void init();

    // Published fields.
    const AppSettings& settings() const { return m_settings; }
    // Every assignment schedules a save.
    void setSettings(const AppSettings& settings);
    const SnapshotLog& workingSnapshots() const { return m_published.snapshots; }
    const QMap<QString, ForecastResult>& forecasts() const { return m_published.forecasts; }
    const QMap<Provider, PaceResult>& paces() const { return m_published.paces; }
    const QList<Recommendation>& recommendations() const { return m_published.recommendations; }
    const std::optional<QDateTime>& lastRefresh() const { return m_lastRefresh; }
    const QMap<Provider, ProviderHealth>& providerHealth() const { return m_providerHealth; }
    const QMap<Provider, CalibratedProjection>& calibrated() const { return m_published.calibrated; }
    const std::optional<ClaudeEstimator::CurrentSettings>& claudeCurrent() const
    {
        return m_published.claudeCurrent;
    }
    // The published cycle as one value, for the reports shared with the command line.
    const ForecastBundle& published() const { return m_published; }
    const std::shared_ptr<UsageHistory>& usageHistory() const { return m_environment.history; }

    // Actions (main thread).
    // Starts a cycle; while one is pending, another follows it once it is applied (requests coalesce).
    void refresh();
    // What the Refresh button and `top`'s r do: the other machines are pulled now too, then a cycle.
    void refreshAll();
    void startProviders();
    // After it returns no provider calls back.
    void stopProviders();
    void toggleProvider(Provider provider, bool enabled);
    void setFocusedProvider(Provider provider);
    // The panel's account tabs: this run's view only. The key of the other account whose windows the forecast
    // card shows; empty: the default account's.
    void setFocusedAccount(const QString& key);
    // The panel's basis picker: this run's view only; the saved default basis stays as it is.
    void setBasis(ForecastBasis basis);
    // The basis the cycles forecast with: the picked one, else the saved default.
    ForecastBasis shownBasis() const { return m_viewBasis.value_or(m_settings.forecastBasis); }
    // The settings screen's default basis: saved, and shown from then on.
    void setDefaultBasis(ForecastBasis basis);
    // Writes a pending settings save now (before the process ends).
    void flushSettings();

    // One compute cycle; touches no state, runs off the main thread.
    [[nodiscard]] static ForecastBundle compute(const ComputeRequest& request);
    // Publishes what differs from the current state; main thread only.
    void apply(const ForecastBundle& bundle, const AppSettings& cycleSettings, const QDateTime& now);

    // Queries of the published state.
    [[nodiscard]] QList<Provider> sortedEnabledProviders() const;
    [[nodiscard]] QList<UsageSnapshot> series(Provider provider, WindowKind window) const;
    [[nodiscard]] std::optional<UsageSnapshot> latestSnapshot(Provider provider, WindowKind window) const;
    [[nodiscard]] QList<UsageSnapshot> seriesSince(Provider provider, WindowKind window,
                                                   const QDateTime& since) const;
    [[nodiscard]] std::optional<UsageSnapshot>
    newestSnapshotWhere(Provider provider, const std::function<bool(const UsageSnapshot&)>& accept) const;
    [[nodiscard]] std::optional<ForecastResult> forecast(Provider provider, WindowKind window) const;
    [[nodiscard]] QList<SeriesKey> availableSeries() const;
    // The window the panel, the terminal and the command line follow (StateQueries::focusedSeries).
    [[nodiscard]] SeriesKey focusedSeries() const;
    [[nodiscard]] ForecastStatus globalStatus() const;

    // Everything the faces show, as of now (PublishedState): each face renders this and nothing else.
    [[nodiscard]] PublishedState publishedState() const;
    [[nodiscard]] QString weeklyRecapText() const;
    // Whether Claude Code's status line runs the bridge, read from Claude's settings file now.
    [[nodiscard]] static ClaudeBridgeStatus bridgeStatus();
    // Redacted: no e-mail address, key, sign-in link or home folder.
    [[nodiscard]] QString diagnosticsText() const;

    QDateTime now() const { return m_clock.now(); }
    // The live provider of a kind, if one runs.
    std::shared_ptr<UsageProvider> liveProvider(Provider provider) const
    {
        return m_liveProviders.value(provider);
    }
    // The other accounts' providers that run, in the order of their folders.
    [[nodiscard]] QList<AccountFolders::Account> runningAccounts() const;
    // Every account folder, as accounts.json and the folders found gave them when it last changed.
    const QList<AccountSettings::Entry>& accountFolders() const { return m_accountFolders; }
    // Reads accounts.json again when it changed: the folders shown, and an account switched off stops its
    // provider while a new one starts. Called when the file changes, and after Settings writes it.
    void reloadAccounts();
    // How many compute cycles have been started so far.
    int requestedCycles() const { return m_requestedCycles; }
    const std::shared_ptr<SnapshotStore>& store() const { return m_store; }

Q_SIGNALS:
    void settingsChanged();
    void workingSnapshotsChanged();
    void forecastsChanged();
    void pacesChanged();
    void recommendationsChanged();
    void lastRefreshChanged();
    void providerHealthChanged();
    void calibratedChanged();
    void claudeCurrentChanged();
    void changed();
    void cycleFinished();

private:
    void publishProviderHealth(const QMap<Provider, ProviderHealth>& health);
    void cycleApplied();
    void registerHistoryCallback();
    void startHistoryScans();
    // The completion of a transcript scan: one more cycle.
    std::function<void()> historyScanned();
    void notify(const ForecastBundle& bundle, const AppSettings& cycleSettings);

    Environment m_environment;
    const Clock& m_clock;
    std::shared_ptr<SnapshotStore> m_store;

    AppSettings m_settings;
    std::optional<ForecastBasis> m_viewBasis;
    QString m_viewAccount;
    std::optional<QDateTime> m_lastRefresh;
    QMap<Provider, ProviderHealth> m_providerHealth;
    // The published cycle: working snapshots with their series, forecasts, paces, calibrated projections,
    // recommendations and Claude's current settings.
    ForecastBundle m_published;

    std::unique_ptr<SettingsSaver> m_saver;
    std::unique_ptr<RetentionScheduler> m_retention;
    // Only ever used on the compute queue.
    std::shared_ptr<SeriesCache> m_seriesCache;
    QMap<Provider, std::shared_ptr<UsageProvider>> m_liveProviders;
    struct AccountRun
    {
        AccountFolders::Account account;
        std::shared_ptr<UsageProvider> provider;
    };
    // The other accounts' providers, each kind's in the order of its account folders.
    QList<AccountRun> m_accountProviders;
    // Whether providers run: not in demo mode, and only while this state collects.
    bool m_collecting = false;
    QList<AccountSettings::Entry> m_accountFolders;
    // accounts.json as last read; a change of another file in the data folder is not one of it.
    std::optional<QByteArray> m_accountsFile;
    std::unique_ptr<QFileSystemWatcher> m_accountsWatcher;
    void watchLog();
    void watchAccounts();
    // Starts the providers of the accounts now switched on and stops those of the ones gone.
    void syncAccountProviders();
    // A provider's update: one more cycle, from whatever thread it reports on.
    UsageProvider::UpdateCallback providerUpdate();

    QTimer m_refreshTimer;
    std::unique_ptr<QFileSystemWatcher> m_logWatcher;
    QTimer m_logRefresh;
    QTimer m_historyTimer;
    QTimer m_collectorTimer;
    // Whether `codex` is on the search path, asked at most once a minute while no Codex provider runs.
    mutable std::optional<std::pair<qint64, bool>> m_codexSearch;
    int m_requestedCycles = 0;
    bool m_cyclePending = false;
    bool m_refreshWanted = false;
    // Declared last so it is destroyed first: pending cycles finish before the store they read goes.
    std::unique_ptr<SerialQueue> m_computeQueue;
    std::shared_ptr<MachineMirrors> m_mirrors;
    std::unique_ptr<MachineCollector> m_machines;
};
