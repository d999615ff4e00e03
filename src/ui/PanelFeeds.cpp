#include "ui/PanelFeeds.h"

#include "app/AppState.h"
#include "core/LocalFileStore.h"
#include "core/SnapshotStore.h"
#include "history/UsageHistory.h"
#include "platform/LoginItemManager.h"
#include "providers/claude/ClaudeStatusLineBridgeInstaller.h"
#include "providers/codex/Shell.h"

#include <QDesktopServices>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QUrl>

#include <memory>
#include <utility>

namespace {

QStringList chipsOf(const ClaudeEstimator::CurrentSettings& current)
{
    QStringList chips;
    if (current.modelDisplayName)
        chips.append(*current.modelDisplayName);
    else if (current.modelId)
        chips.append(*current.modelId);
    if (current.effortLevel)
        chips.append(QStringLiteral("effort: ") + *current.effortLevel);
    if (current.thinkingEnabled.value_or(false))
        chips.append(QStringLiteral("thinking"));
    return chips;
}

} // namespace

PanelFeeds PanelFeeds::fromState(AppState& state)
{
    PanelFeeds feeds;
    feeds.freshnessLabel = [&state](Provider provider) { return state.freshnessLabel(provider); };
    feeds.headroomLabel = [&state](Provider provider) { return state.headroomLabel(provider); };
    feeds.claudeCurrentChips = [&state]() -> std::optional<QStringList> {
        if (!state.claudeCurrent())
            return std::nullopt;
        return chipsOf(*state.claudeCurrent());
    };
    feeds.scenarios = [&state](Provider provider, WindowKind window) {
        return state.scenarios(provider, window);
    };
    feeds.overage = [&state] { return state.overage(); };
    feeds.usage = [&state] {
        QList<ProviderUsage> rows;
        const std::shared_ptr<UsageHistory>& history = state.usageHistory();
        if (!history)
            return rows;
        const QDateTime now = state.now();
        for (const Provider provider : state.sortedEnabledProviders()) {
            ProviderUsage row;
            row.provider = provider;
            for (const UsageQueries::DayTokens& day : history->recentSeries(provider, 7, now))
                row.days.append(day.tokens);
            const StateReports::WeekTrend trend = state.weekTrend(provider);
            row.thisWeek = trend.thisWeek;
            row.deltaPct = trend.deltaPct;
            row.averageDailyTokens = history->averageDailyTokens(provider, 7, now);
            row.spendThisWeek = state.spendThisWeek(provider);
            rows.append(row);
        }
        return rows;
    };
    feeds.spendThisWeekTotal = [&state] { return state.spendThisWeekTotal(); };
    feeds.peakUsageWindowLabel = [&state] { return state.peakUsageWindowLabel(); };
    feeds.timeUntilBedtime = [&state] { return state.timeUntilBedtime(); };
    feeds.diagnosticsText = [&state] { return state.diagnosticsText(); };
    // Asking `which` runs a program: at most once a minute, not on every redraw.
    auto searched = std::make_shared<std::pair<QElapsedTimer, bool>>();
    feeds.codexFound = [&state, searched] {
        // The provider searches more folders than PATH and knows best; without one, search as it would.
        const auto codex = state.providerHealth().constFind(Provider::codex);
        if (codex != state.providerHealth().cend())
            return codex->state != ProviderHealth::State::unavailable;
        if (!searched->first.isValid() || searched->first.hasExpired(60'000)) {
            searched->second = !Shell::which(QStringLiteral("codex")).isEmpty();
            searched->first.start();
        }
        return searched->second;
    };
    feeds.bridgeStatus = [] { return ClaudeStatusLineBridgeInstaller::currentStatus(); };
    feeds.repairBridge = [&state] {
        const QString message = ClaudeStatusLineBridgeInstaller::install().message;
        state.refresh();
        return message;
    };
    feeds.revealExport = [](const QString& path) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
    };
    feeds.openDataFolder = [] {
        return QDesktopServices::openUrl(QUrl::fromLocalFile(LocalFileStore::baseDirectory()));
    };
    feeds.setStartAtLogin = [](bool enabled) { return LoginItemManager::setEnabled(enabled); };
    return feeds;
}

ProviderSummaryInput summaryInput(const AppState& state, const PanelFeeds& feeds, Provider provider)
{
    ProviderSummaryInput input =
        ProviderSummaryInput::fromBundle(state.published(), state.settings(), provider, state.now());
    if (feeds.freshnessLabel)
        input.freshness = feeds.freshnessLabel(provider);
    if (feeds.headroomLabel)
        input.headroom = feeds.headroomLabel(provider);
    if (provider == Provider::claude && feeds.claudeCurrentChips) {
        if (std::optional<QStringList> current = feeds.claudeCurrentChips())
            input.chips = *current;
    }
    return input;
}
