#pragma once

#include "app/AccountSettings.h"
#include "app/ForecastBundle.h"
#include "app/ProviderSummary.h"
#include "app/StateReports.h"
#include "core/model/AppSettings.h"
#include "core/model/ProviderHealth.h"
#include "history/UsageTotals.h"
#include "providers/claude/ClaudeUsageAnswer.h"

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QString>

#include <memory>
#include <optional>

// One provider's transcript totals for the trend and daily-usage cards and the terminal's spend lines.
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

// What a published state is made from: a cycle's results and what the application knows beside them.
struct PublishInputs
{
    ForecastBundle bundle;
    // What the cycle ran with; the basis is the one shown.
    AppSettings settings;
    QMap<Provider, ProviderHealth> health;
    // When the last refresh finished; absent before the first.
    std::optional<QDateTime> lastRefresh;
    // The transcript totals; none: no spend, trend, usage or busy hours.
    std::shared_ptr<const UsageTotals> history;
    // Claude's overage figures of the last usage answer.
    std::optional<ClaudeExtraUsage> extraUsage;
    // Whether a `codex` program can be run: the empty state's hint depends on it.
    bool codexFound = false;
    // Whether Claude Code's status line runs the bridge (installed, or wrapping another status line).
    bool claudeBridge = false;
    // Every account folder (AccountSettings::list) for Settings; empty where nothing shows them.
    QList<AccountSettings::Entry> accountFolders;
    // The other accounts' providers that run in this process, by account key.
    QMap<QString, ProviderHealth> accountProviderHealth;
    // The instant every countdown and clock counts from.
    QDateTime now;
    // The other account whose windows the forecast card shows, by its key; empty: the default account's.
    // Made empty when the focused assistant has no such account with a forecast.
    QString focusedAccount;
};

// One account folder as Settings shows it.
struct AccountRowText
{
    Provider provider = Provider::claude;
    // As accounts.json names it.
    QString folder;
    // "Claude Code · ~/.claude-work"
    QString title;
    QString label;
    // "a1b2c3d4 · ok, read 2m ago", or "not signed in".
    QString detail;
    bool enabled = true;
    // A default folder goes on and off with its assistant, not here.
    bool isDefault = false;

    friend bool operator==(const AccountRowText&, const AccountRowText&) = default;
};

// One immutable value that every face renders: the panel's cards and chart, the tray, `top`, `status` in
// its three forms and the status-line summary. Each figure and text is made here once, so no two faces
// can show one window differently.
struct PublishedState : PublishInputs
{
    // Enabled providers in display order.
    QList<Provider> providers;
    ForecastStatus globalStatus = ForecastStatus::noData;
    // The window every face follows until the viewer picks another.
    SeriesKey focused{Provider::codex, WindowKind::fiveHour};
    // The tray's title under the display mode (may be empty), and the same with icon-only read as compact
    // for bars that always show text.
    QString title;
    QString textTitle;
    // What --headless logs: "Safe | Codex 30% left · Claude Code 90% left".
    QString statusLine;
    // The leading window's figure, as the tray icon and waybar show it.
    std::optional<qint64> leadingFigure;
    // The figure drawn into the tray icon: empty in the modes that show no number.
    QString iconFigure;
    QMap<Provider, ProviderCardText> cards;
    // The cards of the accounts other than each assistant's default one, after that assistant's card.
    QList<ProviderCardText> accountCards;
    // How pulling from each other machine goes ("devbox: updated 2 min ago"), and each machine's part of the
    // last seven days' tokens and spend, this machine first ("This machine: 1.2M tokens · $3.40"); both
    // empty without other machines.
    QStringList machineHealth;
    QStringList machineUsage;
    // One per account folder, each assistant's in the order of its folders.
    QList<AccountRowText> accountRows;
    // How the reading of each account of `bundle.accounts` goes (AccountHealth::text), by key.
    QMap<QString, QString> accountHealth;
    // What to do when no enabled provider has a single reading yet.
    std::optional<QString> firstRunHint;
    // The what-ifs of every window with a forecast, keyed by ForecastResult::id().
    QMap<QString, QList<ScenarioResult>> scenarios;
    std::optional<StateReports::OverageReport> overage;
    // What goes before the overage budget: the currency Claude bills the overage in, once known, else the
    // one spend is shown in.
    QString budgetPrefix;
    // Every enabled provider's transcript totals; empty without a history.
    QList<ProviderUsage> usage;
    QString spendToday;
    QString spendThisWeekTotal;
    std::optional<QString> peakWindow;
    std::optional<double> timeUntilBedtime;
    // "Updated 14:05", or "Nothing read yet" while no reading came in; empty before the first refresh.
    QString updated;
    // The welcome's line on Claude, and its button's label: empty once the bridge runs (nothing to connect).
    QString welcomeClaudeLine;
    QString connectClaudeLabel;
    // What the panel and `top` say before a single reading: a title and a line, after what is set up.
    QString emptyTitle;
    QString emptyLine;

    [[nodiscard]] static PublishedState make(PublishInputs inputs);
    // The same results as of a later instant: every countdown and clock text made anew.
    [[nodiscard]] PublishedState at(const QDateTime& later) const;

    [[nodiscard]] std::optional<ForecastResult> forecast(Provider provider, WindowKind window) const;
    // Each enabled assistant's card, then the cards of its other accounts.
    [[nodiscard]] QList<ProviderCardText> cardsInOrder() const;
    [[nodiscard]] QList<ScenarioResult> scenariosOf(Provider provider, WindowKind window) const;
    // "limit in 56m" or "no limit before reset": from the time to limit, the run-out being now plus it.
    [[nodiscard]] static QString limitPhrase(const ForecastResult& forecast);
};
