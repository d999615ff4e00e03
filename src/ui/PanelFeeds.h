#pragma once

#include "app/ProviderSummary.h"
#include "app/StateReports.h"
#include "core/Enums.h"
#include "core/ForecastModels.h"
#include "providers/claude/ClaudeBridgeStatus.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class AppState;

// One provider's transcript totals for the trend and daily-usage cards.
struct ProviderUsage
{
    Provider provider = Provider::codex;
    // The last seven local days' tokens, oldest first.
    QList<qint64> days;
    qint64 thisWeek = 0;
    // Change against last week in percent; absent when last week is too small to compare with.
    std::optional<double> deltaPct;
    double averageDailyTokens = 0;
    // Formatted, e.g. "£12.40".
    QString spendThisWeek;
};

// What the panel shows beyond the state's published fields (the state's reports and the usage history), and
// the outside actions it starts. Each member may be empty: the card or control it feeds is then left out.
// fromState() answers from the state; tests and screenshots replace members with crafted values.
struct PanelFeeds
{
    std::function<std::optional<QString>(Provider)> freshnessLabel;
    std::function<std::optional<QString>(Provider)> headroomLabel;
    // Claude's current model, effort and thinking as chips; absent while unknown.
    std::function<std::optional<QStringList>()> claudeCurrentChips;
    std::function<QList<ScenarioResult>(Provider, WindowKind)> scenarios;
    std::function<std::optional<StateReports::OverageReport>()> overage;
    // Providers with tokens in the last seven days, in display order.
    std::function<QList<ProviderUsage>()> usage;
    std::function<QString()> spendThisWeekTotal;
    std::function<std::optional<QString>()> peakUsageWindowLabel;
    std::function<std::optional<double>()> timeUntilBedtime;
    std::function<QString()> diagnosticsText;
    std::function<bool()> codexFound;
    std::function<ClaudeBridgeStatus()> bridgeStatus;
    // Deploys the bridge script again and installs it; the installer's message.
    std::function<QString()> repairBridge;
    // Shows a written CSV export in the file manager.
    std::function<void(const QString& path)> revealExport;
    // False when nothing could open a folder.
    std::function<bool()> openDataFolder;
    // False when the login item could not be changed.
    std::function<bool(bool)> setStartAtLogin;
    // Posts a sample notification; `done` gets the line to show.
    std::function<void(std::function<void(const QString&)> done)> sendTestNotification;

    // Everything the state and this machine can answer now.
    static PanelFeeds fromState(AppState& state);
};

// One provider's summary card from the state, with the labels and Claude's current model from the feeds.
[[nodiscard]] ProviderSummaryInput summaryInput(const AppState& state, const PanelFeeds& feeds,
                                                Provider provider);
