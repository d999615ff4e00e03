#include "ui/PanelFeeds.h"

#include "app/AppState.h"
#include "core/CalibratedForecast.h"
#include "core/LocalFileStore.h"
#include "core/ScenarioEngine.h"
#include "core/SnapshotStore.h"
#include "core/TimeFormatting.h"
#include "platform/LoginItemManager.h"
#include "providers/claude/ClaudeOAuthUsage.h"
#include "providers/claude/ClaudeStatusLineBridgeInstaller.h"
#include "providers/codex/Shell.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace {

std::optional<QString> freshness(const AppState& state, Provider provider)
{
    if (state.settings().demoMode)
        return QStringLiteral("demo");
    const bool claude = provider == Provider::claude;
    const std::optional<UsageSnapshot> latest =
        state.newestSnapshotWhere(provider, [claude](const UsageSnapshot& snapshot) {
            return !claude || snapshot.source == QLatin1String("claude.statusline") ||
                   snapshot.source == QLatin1String("claude.oauth");
        });
    if (!latest) {
        // Claude without a live reading: only estimates, if anything.
        const bool any =
            claude && state.newestSnapshotWhere(provider, [](const UsageSnapshot&) { return true; });
        return any ? std::optional<QString>(QStringLiteral("estimated")) : std::nullopt;
    }
    const double age = static_cast<double>(latest->timestamp.secsTo(state.now()));
    if (age < (claude ? 1200 : 120))
        return QStringLiteral("live");
    return (claude ? QStringLiteral("synced ") : QStringLiteral("as of ")) + TimeFormatting::countdown(age) +
           QStringLiteral(" ago");
}

} // namespace

PanelFeeds PanelFeeds::fromState(AppState& state)
{
    PanelFeeds feeds;
    feeds.freshnessLabel = [&state](Provider provider) { return freshness(state, provider); };
    feeds.headroomLabel = [&state](Provider provider) -> std::optional<QString> {
        const auto found = state.calibrated().constFind(provider);
        if (found == state.calibrated().cend())
            return std::nullopt;
        return CalibratedForecast::headroomLabel(*found);
    };
    feeds.scenarios = [&state](Provider provider, WindowKind window) -> QList<ScenarioResult> {
        const std::optional<ForecastResult> f = state.forecast(provider, window);
        const std::optional<UsageSnapshot> latest = state.latestSnapshot(provider, window);
        if (!f || !f->projectedUsedAtReset || !latest)
            return {};
        return ScenarioEngine::scenarios(provider, f->currentUsedPercent,
                                         std::max(0.0, *f->projectedUsedAtReset - f->currentUsedPercent),
                                         *latest, f->confidence);
    };
    feeds.extraUsage = [&state]() -> std::optional<ClaudeExtraUsage> {
        // Only the live Claude provider fetches the account's figures.
        if (state.settings().demoMode || !state.liveProvider(Provider::claude))
            return std::nullopt;
        return ClaudeOAuthUsage::shared().lastExtra();
    };
    feeds.timeUntilBedtime = [&state]() -> std::optional<double> {
        const AppSettings& settings = state.settings();
        if (!settings.sleep.enabled)
            return std::nullopt;
        const QDateTime now = state.now();
        const std::optional<QDateTime> bedtime = settings.sleep.nextBedtime(now);
        if (!bedtime)
            return std::nullopt;
        return static_cast<double>(now.msecsTo(*bedtime)) / 1000.0;
    };
    feeds.codexFound = [&state] {
        // The provider searches more folders than PATH and knows best; without one, search as it would.
        const auto codex = state.providerHealth().constFind(Provider::codex);
        if (codex != state.providerHealth().cend())
            return codex->state != ProviderHealth::State::unavailable;
        return !Shell::which(QStringLiteral("codex")).isEmpty();
    };
    feeds.bridgeStatus = [] { return ClaudeStatusLineBridgeInstaller::currentStatus(); };
    feeds.repairBridge = [&state] {
        const QString message = ClaudeStatusLineBridgeInstaller::install().message;
        state.refresh();
        return message;
    };
    feeds.exportCSV = [&state]() -> std::optional<QString> {
        std::optional<QString> path = state.store()->exportCSV();
        if (path)
            QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(*path).absolutePath()));
        return path;
    };
    feeds.openDataFolder = [] {
        QDesktopServices::openUrl(QUrl::fromLocalFile(LocalFileStore::baseDirectory()));
    };
    feeds.setStartAtLogin = [](bool enabled) { return LoginItemManager::setEnabled(enabled); };
    return feeds;
}
