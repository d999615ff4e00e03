#include "providers/claude/ClaudeProvider.h"

#include "core/io/SnapshotStore.h"
#include "providers/StoredReading.h"
#include "providers/claude/ClaudeOAuthUsage.h"
#include "providers/claude/ClaudeStatusLineBridgeInstaller.h"

#include <QTimer>

#include <algorithm>

ClaudeProvider::ClaudeProvider(std::shared_ptr<SnapshotStore> store)
    : ClaudeProvider(std::move(store), ClaudeOAuthUsage::shared(), Clock::system())
{}

ClaudeProvider::ClaudeProvider(std::shared_ptr<SnapshotStore> store, ClaudeOAuthUsage& oauth,
                               const Clock& clock, std::chrono::milliseconds tickInterval)
    : ClaudeProvider(std::move(store), QString(), oauth, clock, tickInterval)
{}

ClaudeProvider::ClaudeProvider(std::shared_ptr<SnapshotStore> store, QString account, ClaudeOAuthUsage& oauth,
                               const Clock& clock, std::chrono::milliseconds tickInterval)
    : m_store(std::move(store)), m_account(std::move(account)), m_oauth(oauth), m_clock(clock),
      m_tickInterval(tickInterval)
{}

ClaudeProvider::~ClaudeProvider()
{
    stop();
}

std::optional<UsageSnapshot> ClaudeProvider::newestStored(WindowKind window) const
{
    return m_store->newest(Provider::claude, window, m_account);
}

QList<UsageSnapshot> ClaudeProvider::currentSnapshots() const
{
    QList<UsageSnapshot> current;
    for (const WindowKind window : {WindowKind::fiveHour, WindowKind::sevenDay}) {
        if (std::optional<UsageSnapshot> newest = newestStored(window))
            current.append(std::move(*newest));
    }
    return current;
}

ProviderHealth ClaudeProvider::health() const
{
    ProviderHealth health = bridgeHealth();
    // A refresh not sent because its result could not have been kept is worth the user's eye: the
    // credential runs out meanwhile.
    if (const std::optional<QString> heldBack = m_oauth.refreshHeldBack())
        health.detail += QStringLiteral("; token refresh held back: ") + *heldBack;
    return health;
}

ProviderHealth ClaudeProvider::bridgeHealth() const
{
    std::optional<UsageSnapshot> last = newestStored(WindowKind::fiveHour);
    if (!last)
        last = newestStored(WindowKind::sevenDay);
    const std::optional<QDateTime> lastUpdate = last ? std::optional(last->timestamp) : std::nullopt;
    // The bridge writes the default account's readings; another account's come from its own credential.
    if (!m_account.isEmpty()) {
        if (lastUpdate)
            return {ProviderHealth::State::connected, QStringLiteral("account usage"), lastUpdate,
                    std::nullopt};
        return {ProviderHealth::State::idle, QStringLiteral("awaiting the account's first reading"),
                std::nullopt, std::nullopt};
    }
    switch (ClaudeStatusLineBridgeInstaller::currentStatus().state) {
    case ClaudeBridgeStatus::State::installed:
    case ClaudeBridgeStatus::State::wrapping:
        if (lastUpdate)
            return {ProviderHealth::State::connected, QStringLiteral("bridge active"), lastUpdate,
                    std::nullopt};
        return {ProviderHealth::State::idle, QStringLiteral("bridge installed, awaiting first response"),
                std::nullopt, std::nullopt};
    case ClaudeBridgeStatus::State::foreign:
        return {ProviderHealth::State::unavailable, QStringLiteral("another status line is installed"),
                lastUpdate, std::nullopt};
    case ClaudeBridgeStatus::State::notInstalled:
    case ClaudeBridgeStatus::State::error:
        break;
    }
    return {ProviderHealth::State::unavailable, QStringLiteral("bridge not installed"), std::nullopt,
            std::nullopt};
}

void ClaudeProvider::start(UpdateCallback onUpdate)
{
    m_onUpdate = std::move(onUpdate);
    m_ticks = 0;
    m_timer = std::make_unique<QTimer>();
    m_timer->setInterval(m_tickInterval);
    QObject::connect(m_timer.get(), &QTimer::timeout, m_timer.get(), [this] { tick(); });
    m_timer->start();
    startFetch();
    checkForUpdates();
}

void ClaudeProvider::stop()
{
    m_timer.reset();
    m_onUpdate = nullptr;
}

void ClaudeProvider::tick()
{
    ++m_ticks;
    if (m_ticks % ticksPerFetch == 0)
        startFetch();
    checkForUpdates();
}

void ClaudeProvider::startFetch()
{
    m_oauth.fetch(m_clock.now(),
                  [this, alive = std::weak_ptr<int>(m_alive)](const QList<UsageSnapshot>& snapshots) {
                      if (alive.lock())
                          ingest(snapshots);
                  });
}

void ClaudeProvider::ingest(const QList<UsageSnapshot>& snapshots)
{
    QList<UsageSnapshot> kept;
    for (UsageSnapshot s : snapshots) {
        if (!m_account.isEmpty())
            s.account = m_account;
        if (StoredReading::isNews(s, newestStored(s.windowKind)))
            kept.append(s);
    }
    if (kept.isEmpty())
        return;
    m_store->append(kept);
    checkForUpdates();
}

void ClaudeProvider::checkForUpdates()
{
    const QList<UsageSnapshot> current = currentSnapshots();
    if (current.isEmpty())
        return;
    const auto newest = std::max_element(current.cbegin(), current.cend(), [](const auto& a, const auto& b) {
                            return a.timestamp < b.timestamp;
                        })->timestamp;
    if (m_lastSeen && newest <= *m_lastSeen)
        return;
    m_lastSeen = newest;
    if (m_onUpdate)
        m_onUpdate(current);
}
