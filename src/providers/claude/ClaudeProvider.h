#pragma once

#include "core/runtime/Clock.h"
#include "providers/UsageProvider.h"

#include <chrono>
#include <memory>
#include <optional>

class ClaudeOAuthUsage;
class QTimer;
class SnapshotStore;

// The live Claude Code provider. Readings reach the snapshot store by two roads: the status-line bridge
// that Claude Code runs appends them itself, and this provider fetches the OAuth usage endpoint once a
// minute and appends what is new. Every tick it looks at the newest stored Claude readings and reports them
// when something newer than last time is there. Main thread only.
class ClaudeProvider : public UsageProvider
{
public:
    static constexpr std::chrono::milliseconds defaultTickInterval{15'000};
    // Every this many ticks (and at start) the OAuth usage is fetched.
    static constexpr int ticksPerFetch = 4;

    explicit ClaudeProvider(std::shared_ptr<SnapshotStore> store);
    ClaudeProvider(std::shared_ptr<SnapshotStore> store, ClaudeOAuthUsage& oauth, const Clock& clock,
                   std::chrono::milliseconds tickInterval = defaultTickInterval);
    // Another account than the default one (`account`: its key), read through its own credential's OAuth
    // usage; its readings carry the key.
    ClaudeProvider(std::shared_ptr<SnapshotStore> store, QString account, ClaudeOAuthUsage& oauth,
                   const Clock& clock, std::chrono::milliseconds tickInterval = defaultTickInterval);
    ~ClaudeProvider() override;
    ClaudeProvider(const ClaudeProvider&) = delete;
    ClaudeProvider& operator=(const ClaudeProvider&) = delete;

    Provider provider() const override { return Provider::claude; }
    // Empty for the default account.
    const QString& account() const { return m_account; }
    // From the bridge's installation state and the newest stored reading; OAuth failures do not show here.
    ProviderHealth health() const override;
    void start(UpdateCallback onUpdate) override;
    // A fetch under way still stores its readings, but nothing is reported any more.
    void stop() override;

    // What the timer does: counts the tick, fetches on every fourth, then checks the store.
    void tick();
    // The newest stored Claude five-hour reading, then the newest seven-day one, each when there is one.
    QList<UsageSnapshot> currentSnapshots() const;
    // Stores the OAuth readings that tell something new: a changed figure or reset time, a newer reading
    // of another source, or five minutes since the last OAuth one.
    void ingest(const QList<UsageSnapshot>& snapshots);

private:
    ProviderHealth bridgeHealth() const;
    std::optional<UsageSnapshot> newestStored(WindowKind window) const;
    void startFetch();
    void checkForUpdates();

    std::shared_ptr<SnapshotStore> m_store;
    QString m_account;
    ClaudeOAuthUsage& m_oauth;
    const Clock& m_clock;
    std::chrono::milliseconds m_tickInterval;
    std::unique_ptr<QTimer> m_timer;
    UpdateCallback m_onUpdate;
    std::optional<QDateTime> m_lastSeen;
    int m_ticks = 0;
    // Fetch completions hold it weakly: one that arrives after the provider is gone does nothing.
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};
