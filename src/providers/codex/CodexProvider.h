#pragma once

#include "core/model/ProviderHealth.h"
#include "core/runtime/Clock.h"
#include "providers/UsageProvider.h"
#include "providers/codex/CodexAppServerClient.h"
#include "providers/codex/CodexProcessManager.h"

#include <QHash>

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>

class QTimer;
class SnapshotStore;

// The live Codex provider: runs `codex app-server`, polls its rate limits every minute, listens for pushed
// updates, and appends what it learns to the snapshot store before reporting it. An app-server that ends by
// itself is reported as an error and started again on a later poll, waiting longer after each failure.
class CodexProvider : public UsageProvider
{
public:
    static constexpr std::chrono::milliseconds defaultPollInterval{60'000};

    // The clock decides when a restart is due; `clock` must outlive the provider.
    explicit CodexProvider(SnapshotStore& store, CodexLaunchOptions launch = CodexLaunchOptions::standard(),
                           std::chrono::milliseconds pollInterval = defaultPollInterval,
                           const Clock& clock = Clock::system());
    // Keeps the shared store alive for as long as the provider lives.
    explicit CodexProvider(std::shared_ptr<SnapshotStore> store,
                           CodexLaunchOptions launch = CodexLaunchOptions::standard(),
                           std::chrono::milliseconds pollInterval = defaultPollInterval,
                           const Clock& clock = Clock::system());
    ~CodexProvider() override;
    CodexProvider(const CodexProvider&) = delete;
    CodexProvider& operator=(const CodexProvider&) = delete;

    Provider provider() const override { return Provider::codex; }
    ProviderHealth health() const override;
    // On the main thread: the poll timer lives there.
    void start(UpdateCallback onUpdate) override;
    void stop() override;
    // One tick of the poll timer: asks for the rate limits, or starts an app-server that has ended again
    // once its back-off has passed.
    void poll();
    // When an ended app-server is started again; absent while none is waiting.
    std::optional<QDateTime> nextRestart() const;
    // The wait before restarting after this many failures in a row (ends or failed starts without a
    // successful read between them): 60 s, doubling up to 30 minutes.
    static std::chrono::seconds restartDelay(int failures);

    // Changed pushes closer together than this are not stored: the next poll brings the figures again.
    static constexpr qint64 minPushSpacingMs = 1000;

    // Turns one payload into snapshots enriched from the Codex configuration, appends them together (waiting
    // for the store) and then reports them; a payload without usable windows changes nothing, and neither
    // does one that tells nothing new (see StoredReading) or follows the last stored one too closely.
    void ingest(const CodexRateLimitsPayload& payload);

    // The Codex program the provider last started (or tried to), without searching again; empty when none.
    QString executablePath() const;

    // Created on first use; the same client afterwards.
    std::shared_ptr<CodexAppServerClient> client();

private:
    void setHealth(ProviderHealth health);
    void onExit(const CodexExit& exit);
    void restart();
    // With m_healthMutex held.
    void scheduleRestartLocked();
    // Whether `push` goes into the log; remembers it when it does.
    bool takeForStoring(const QList<UsageSnapshot>& push, const QDateTime& now);

    std::shared_ptr<SnapshotStore> m_storeOwner;
    SnapshotStore& m_store;
    std::shared_ptr<CodexProcessManager> m_manager;
    std::shared_ptr<CodexAppServerClient> m_client;
    std::unique_ptr<QTimer> m_timer;
    std::chrono::milliseconds m_pollInterval;
    const Clock& m_clock;
    // Set by start before the child runs; read on the reader thread afterwards.
    UpdateCallback m_onUpdate;

    mutable std::mutex m_healthMutex;
    ProviderHealth m_health{ProviderHealth::State::idle, QStringLiteral("Not started"), std::nullopt,
                            std::nullopt};
    // Guarded by m_healthMutex, like the health they explain.
    int m_failures = 0;
    std::optional<QDateTime> m_restartAt;
    // The last stored reading of each window (by limit and window kind), and when it was stored.
    QHash<QString, UsageSnapshot> m_lastStored;
    std::optional<QDateTime> m_lastStoredAt;
};
