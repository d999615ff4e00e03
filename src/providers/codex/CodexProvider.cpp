#include "providers/codex/CodexProvider.h"

#include "core/io/AppLogger.h"
#include "core/io/SnapshotStore.h"
#include "providers/StoredReading.h"
#include "providers/codex/CodexConfigReader.h"
#include "providers/codex/CodexParsing.h"

#include <QDateTime>
#include <QTimer>

#include <algorithm>

namespace {

constexpr std::chrono::seconds firstRestartDelay{60};
constexpr std::chrono::seconds longestRestartDelay{30 * 60};

} // namespace

CodexProvider::CodexProvider(SnapshotStore& store, CodexLaunchOptions launch,
                             std::chrono::milliseconds pollInterval, const Clock& clock)
    : m_store(store), m_manager(std::make_shared<CodexProcessManager>(std::move(launch))),
      m_pollInterval(pollInterval), m_clock(clock)
{}

CodexProvider::CodexProvider(std::shared_ptr<SnapshotStore> store, CodexLaunchOptions launch,
                             std::chrono::milliseconds pollInterval, const Clock& clock)
    : CodexProvider(*store, std::move(launch), pollInterval, clock)
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

QString CodexProvider::executablePath() const
{
    return m_manager ? m_manager->lastLocated() : QString();
}

std::optional<QDateTime> CodexProvider::nextRestart() const
{
    std::lock_guard lock(m_healthMutex);
    return m_restartAt;
}

std::chrono::seconds CodexProvider::restartDelay(int failures)
{
    std::chrono::seconds delay = firstRestartDelay;
    for (int i = 1; i < failures && delay < longestRestartDelay; ++i)
        delay *= 2;
    return std::min(delay, longestRestartDelay);
}

void CodexProvider::start(UpdateCallback onUpdate)
{
    m_onUpdate = std::move(onUpdate);
    {
        std::lock_guard lock(m_healthMutex);
        m_failures = 0;
        m_restartAt.reset();
    }
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
    // Likewise the exit watcher: stop() waits for it.
    m_manager->setOnTerminate([this](const CodexExit& exit) { onExit(exit); });

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
    QObject::connect(m_timer.get(), &QTimer::timeout, m_timer.get(), [this] { poll(); });
    m_timer->start();
}

void CodexProvider::poll()
{
    if (!m_client)
        return;
    if (m_manager->isRunning()) {
        m_client->requestRateLimits();
        return;
    }
    {
        std::lock_guard lock(m_healthMutex);
        if (!m_restartAt || m_clock.now() < *m_restartAt)
            return;
        m_restartAt.reset();
    }
    restart();
}

void CodexProvider::restart()
{
    AppLogger::shared().info(QStringLiteral("Starting codex app-server again"));
    if (m_client->start()) {
        std::lock_guard lock(m_healthMutex);
        m_health = {ProviderHealth::State::connected, QStringLiteral("app-server running"),
                    m_health.lastUpdate, std::nullopt};
        return;
    }
    std::lock_guard lock(m_healthMutex);
    m_health = {ProviderHealth::State::error, QStringLiteral("failed to start app-server"),
                m_health.lastUpdate, AppLogger::shared().lastError()};
    scheduleRestartLocked();
}

void CodexProvider::onExit(const CodexExit& exit)
{
    if (exit.requested)
        return;
    AppLogger::shared().warn(QStringLiteral("codex app-server exited (") + exit.reason + QLatin1Char(')'));
    std::lock_guard lock(m_healthMutex);
    m_health = {ProviderHealth::State::error, QStringLiteral("app-server exited"), m_health.lastUpdate,
                exit.reason};
    scheduleRestartLocked();
}

void CodexProvider::scheduleRestartLocked()
{
    ++m_failures;
    m_restartAt = m_clock.now().addSecs(restartDelay(m_failures).count());
}

void CodexProvider::stop()
{
    m_timer.reset();
    m_manager->stop();
    std::lock_guard lock(m_healthMutex);
    m_restartAt.reset();
}

bool CodexProvider::takeForStoring(const QList<UsageSnapshot>& push, const QDateTime& now)
{
    const auto keyOf = [](const UsageSnapshot& s) {
        return s.limitId.value_or(QString()) + rawValue(s.windowKind);
    };
    std::lock_guard lock(m_healthMutex);
    const bool news = std::any_of(push.cbegin(), push.cend(), [&](const UsageSnapshot& s) {
        const auto previous = m_lastStored.constFind(keyOf(s));
        return StoredReading::isNews(s, previous == m_lastStored.cend() ? std::nullopt
                                                                        : std::optional(previous.value()));
    });
    const bool tooSoon = m_lastStoredAt && m_lastStoredAt->msecsTo(now) < minPushSpacingMs;
    if (!news || tooSoon)
        return false;
    m_lastStoredAt = now;
    for (const UsageSnapshot& s : push)
        m_lastStored.insert(keyOf(s), s);
    return true;
}

void CodexProvider::ingest(const CodexRateLimitsPayload& payload)
{
    const QString& home = m_manager->options().codexHome;
    const CodexConfig config = home.isEmpty()
                                   ? CodexConfigReader::read()
                                   : CodexConfigReader::read(home + QStringLiteral("/config.toml"));
    const QDateTime now = m_clock.now();
    QList<UsageSnapshot> stored;
    for (const CodexRateLimitBucket& bucket : payload.allBuckets()) {
        for (UsageSnapshot snapshot : CodexParsing::snapshots(bucket, now)) {
            snapshot.modelId = config.model;
            snapshot.modelDisplayName = config.model;
            snapshot.effortLevel = config.modelReasoningEffort;
            snapshot.speedMode = config.fastMode;
            if (!m_manager->options().account.isEmpty())
                snapshot.account = m_manager->options().account;
            stored.append(std::move(snapshot));
        }
    }
    if (stored.isEmpty())
        return;
    const bool news = takeForStoring(stored, now);
    // All windows of one push in one write: a crash between two appends would leave one without the other.
    // A failed append keeps them in the store for its next write, so they are still reported.
    if (news)
        m_store.append(stored);
    {
        std::lock_guard lock(m_healthMutex);
        m_failures = 0;
        // A child that ended right after its last answer stays reported as ended.
        if (m_restartAt)
            m_health.lastUpdate = now;
        else
            m_health = {ProviderHealth::State::connected,
                        QString::number(stored.size()) + QStringLiteral(" windows"), now, std::nullopt};
    }
    if (news && m_onUpdate)
        m_onUpdate(stored);
}
