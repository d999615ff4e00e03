#pragma once

#include "core/ProviderHealth.h"
#include "providers/UsageProvider.h"
#include "providers/codex/CodexAppServerClient.h"
#include "providers/codex/CodexProcessManager.h"

#include <chrono>
#include <memory>
#include <mutex>

class QTimer;
class SnapshotStore;

// The live Codex provider: runs `codex app-server`, polls its rate limits every minute, listens for pushed
// updates, and appends what it learns to the snapshot store before reporting it.
class CodexProvider : public UsageProvider
{
public:
    static constexpr std::chrono::milliseconds defaultPollInterval{60'000};

    explicit CodexProvider(SnapshotStore& store, CodexLaunchOptions launch = CodexLaunchOptions::standard(),
                           std::chrono::milliseconds pollInterval = defaultPollInterval);
    // Keeps the shared store alive for as long as the provider lives.
    explicit CodexProvider(std::shared_ptr<SnapshotStore> store,
                           CodexLaunchOptions launch = CodexLaunchOptions::standard(),
                           std::chrono::milliseconds pollInterval = defaultPollInterval);
    ~CodexProvider() override;
    CodexProvider(const CodexProvider&) = delete;
    CodexProvider& operator=(const CodexProvider&) = delete;

    Provider provider() const override { return Provider::codex; }
    ProviderHealth health() const override;
    // On the main thread: the poll timer lives there.
    void start(UpdateCallback onUpdate) override;
    void stop() override;

    // Turns one payload into snapshots enriched from the Codex configuration, appends them together (waiting
    // for the store) and then reports them; a payload without usable windows changes nothing.
    void ingest(const CodexRateLimitsPayload& payload);

    // Created on first use; the same client afterwards.
    std::shared_ptr<CodexAppServerClient> client();

private:
    void setHealth(ProviderHealth health);

    std::shared_ptr<SnapshotStore> m_storeOwner;
    SnapshotStore& m_store;
    std::shared_ptr<CodexProcessManager> m_manager;
    std::shared_ptr<CodexAppServerClient> m_client;
    std::unique_ptr<QTimer> m_timer;
    std::chrono::milliseconds m_pollInterval;
    // Set by start before the child runs; read on the reader thread afterwards.
    UpdateCallback m_onUpdate;

    mutable std::mutex m_healthMutex;
    ProviderHealth m_health{ProviderHealth::State::idle, QStringLiteral("Not started"), std::nullopt,
                            std::nullopt};
};
