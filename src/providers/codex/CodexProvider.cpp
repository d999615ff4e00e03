#include "providers/codex/CodexProvider.h"

#include "core/AppLogger.h"
#include "core/SnapshotStore.h"
#include "providers/codex/CodexConfigReader.h"
#include "providers/codex/CodexParsing.h"

#include <QDateTime>
#include <QTimer>

CodexProvider::CodexProvider(SnapshotStore& store, CodexLaunchOptions launch,
                             std::chrono::milliseconds pollInterval)
    : m_store(store), m_manager(std::make_shared<CodexProcessManager>(std::move(launch))),
      m_pollInterval(pollInterval)
{}

CodexProvider::CodexProvider(std::shared_ptr<SnapshotStore> store, CodexLaunchOptions launch,
                             std::chrono::milliseconds pollInterval)
    : CodexProvider(*store, std::move(launch), pollInterval)
{
    m_storeOwner = std::move(store);
}

CodexProvider::~CodexProvider()
{
    stop();
}

ProviderHealth CodexProvider::health() const
{
    std::lock_guard lock(m_healthMutex);
    return m_health;
}

void CodexProvider::setHealth(ProviderHealth health)
{
    std::lock_guard lock(m_healthMutex);
    m_health = std::move(health);
}

std::shared_ptr<CodexAppServerClient> CodexProvider::client()
{
    if (!m_client)
        m_client = CodexAppServerClient::create(m_manager);
    return m_client;
}

void CodexProvider::start(UpdateCallback onUpdate)
{
    m_onUpdate = std::move(onUpdate);
    if (m_manager->locateExecutable().isEmpty()) {
        setHealth({ProviderHealth::State::unavailable, QStringLiteral("codex not found in PATH"),
                   std::nullopt, std::nullopt});
        return;
    }

    const auto appServer = client();
    // The client never outlives a running reader thread of ours: stop() joins it before we go.
    appServer->onRateLimits = [this](const CodexRateLimitsPayload& payload) { ingest(payload); };
    appServer->onLoginCompleted = [this] {
        if (m_client)
            m_client->requestRateLimits();
    };

    if (!appServer->start()) {
        setHealth({ProviderHealth::State::error, QStringLiteral("failed to start app-server"), std::nullopt,
                   AppLogger::shared().lastError()});
        return;
    }
    setHealth(
        {ProviderHealth::State::connected, QStringLiteral("app-server running"), std::nullopt, std::nullopt});
    if (appServer->isInitialized())
        appServer->sendRequest(QStringLiteral("account/read"));
    appServer->requestRateLimits();

    m_timer = std::make_unique<QTimer>();
    m_timer->setInterval(m_pollInterval);
    QObject::connect(m_timer.get(), &QTimer::timeout, m_timer.get(), [this] {
        if (m_client)
            m_client->requestRateLimits();
    });
    m_timer->start();
}

void CodexProvider::stop()
{
    m_timer.reset();
    m_manager->stop();
}

void CodexProvider::ingest(const CodexRateLimitsPayload& payload)
{
    const CodexConfig config = CodexConfigReader::read();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QList<UsageSnapshot> stored;
    for (const CodexRateLimitBucket& bucket : payload.allBuckets()) {
        for (UsageSnapshot snapshot : CodexParsing::snapshots(bucket, now)) {
            snapshot.modelId = config.model;
            snapshot.modelDisplayName = config.model;
            snapshot.effortLevel = config.modelReasoningEffort;
            snapshot.speedMode = config.fastMode;
            stored.append(std::move(snapshot));
        }
    }
    if (stored.isEmpty())
        return;
    // All windows of one push in one write: a crash between two appends would leave one without the other.
    // A failed append keeps them in the store for its next write, so they are still reported.
    m_store.append(stored);
    setHealth({ProviderHealth::State::connected, QString::number(stored.size()) + QStringLiteral(" windows"),
               now, std::nullopt});
    if (m_onUpdate)
        m_onUpdate(stored);
}
