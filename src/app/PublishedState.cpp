#include "app/PublishedState.h"

#include "app/AccountHealth.h"
#include "app/MenuBarTitleBuilder.h"
#include "app/StateQueries.h"
#include "core/text/NumberFormatting.h"
#include "core/text/TimeFormatting.h"
#include "history/UsageQueries.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace {

// The tray's number in the modes that show one.
QString iconFigureOf(const std::optional<MenuBarTitleBuilder::Leading>& leading, std::optional<qint64> value)
{
    if (!leading || !value)
        return {};
    switch (leading->mode) {
    case MenuBarDisplayMode::providerFocus:
    case MenuBarDisplayMode::compact:
    case MenuBarDisplayMode::minimal:
        return QString::number(*value);
    case MenuBarDisplayMode::iconOnly:
    case MenuBarDisplayMode::forecast:
    case MenuBarDisplayMode::autoMode:
        break;
    }
    return {};
}

} // namespace

namespace {

// The newest reading of an account this cycle: the working log holds the default accounts', each other
// account its newest of every window.
std::optional<QDateTime> newestOf(const ForecastBundle& bundle, Provider provider, const QString& key,
                                  bool isDefault)
{
    if (isDefault)
        return AccountHealth::newestReading(bundle.snapshots, provider, key, true);
    std::optional<QDateTime> newest;
    for (const AccountForecasts& account : bundle.accounts)
        if (account.provider == provider && account.key == key)
            for (const UsageSnapshot& s : account.latest)
                if (s.source != QLatin1StringView("claude.transcript") && (!newest || *newest < s.timestamp))
                    newest = s.timestamp;
    return newest;
}

std::optional<ProviderHealth> liveHealth(const PublishInputs& inputs, Provider provider, const QString& key,
                                         bool isDefault)
{
    const auto& map = inputs.accountProviderHealth;
    if (isDefault) {
        const auto it = inputs.health.constFind(provider);
        return it == inputs.health.cend() ? std::nullopt : std::optional(*it);
    }
    const auto it = map.constFind(key);
    return it == map.cend() ? std::nullopt : std::optional(*it);
}

void describeAccounts(PublishedState& state)
{
    const ForecastBundle& bundle = state.bundle;
    for (const AccountForecasts& account : bundle.accounts) {
        AccountHealth::Facts facts;
        facts.enabled = !account.folder.isEmpty();
        facts.newestReading = newestOf(bundle, account.provider, account.key, account.isDefault);
        facts.live = liveHealth(state, account.provider, account.key, account.isDefault);
        state.accountHealth.insert(account.key, AccountHealth::text(facts, state.now));
    }
    for (const AccountSettings::Entry& entry : state.accountFolders) {
        const AccountFolder& f = entry.folder;
        AccountHealth::Facts facts;
        facts.enabled = f.enabled && state.settings.enabledProviders.contains(f.provider);
        facts.signedIn = !entry.key.isEmpty();
        const QString key = AccountSettings::readingKey(entry);
        facts.newestReading = newestOf(bundle, f.provider, key, f.isDefault);
        facts.live = liveHealth(state, f.provider, key, f.isDefault);
        const QString health = AccountHealth::text(facts, state.now);
        AccountRowText row;
        row.provider = f.provider;
        row.folder = f.folder;
        row.title = displayName(f.provider) + QStringLiteral(" \u00b7 ") + AccountSettings::shown(f.folder);
        row.label = entry.label;
        row.detail = entry.key.isEmpty() ? health : entry.key + QStringLiteral(" \u00b7 ") + health;
        row.enabled = f.enabled;
        row.isDefault = f.isDefault;
        state.accountRows.append(row);
    }
}

} // namespace

PublishedState PublishedState::make(PublishInputs inputs)
{
    PublishedState state;
    static_cast<PublishInputs&>(state) = std::move(inputs);
    const ForecastBundle& bundle = state.bundle;
    const QDateTime& now = state.now;
    state.providers = StateQueries::sortedEnabledProviders(state.settings);
    // The other accounts of the enabled assistants: the tray and the overall status follow them too.
    QList<AccountForecasts> accounts;
    std::copy_if(bundle.accounts.cbegin(), bundle.accounts.cend(), std::back_inserter(accounts),
                 [&](const AccountForecasts& a) { return state.providers.contains(a.provider); });
    state.globalStatus = StateQueries::globalStatus(bundle.forecasts, accounts);
    state.focused = StateQueries::focusedSeries(bundle.series, bundle.forecasts, state.settings, now);
    const bool accountShown = std::any_of(accounts.cbegin(), accounts.cend(), [&](const AccountForecasts& a) {
        return !a.isDefault && a.provider == state.focused.first && a.key == state.focusedAccount &&
               !a.forecasts.isEmpty();
    });
    if (!accountShown)
        state.focusedAccount.clear();
    // A face that reads the focus from the settings sees the window every face follows.
    state.settings.focusedProvider = state.focused.first;
    state.settings.focusedWindow = state.focused.second;

    state.title = MenuBarTitleBuilder::title(bundle.forecasts, state.settings, accounts);
    AppSettings textual = state.settings;
    if (textual.menuBarDisplayMode == MenuBarDisplayMode::iconOnly)
        textual.menuBarDisplayMode = MenuBarDisplayMode::compact;
    state.textTitle = MenuBarTitleBuilder::title(bundle.forecasts, textual, accounts);
    state.statusLine = MenuBarTitleBuilder::statusWord(state.globalStatus) + QStringLiteral(" | ") +
                       MenuBarTitleBuilder::spelledOut(bundle.forecasts, state.settings, accounts);
    if (const auto leading = MenuBarTitleBuilder::resolve(bundle.forecasts, textual, accounts))
        state.leadingFigure = MenuBarTitleBuilder::figure(*leading, state.settings.showRemaining);
    const auto shownLeading = MenuBarTitleBuilder::resolve(bundle.forecasts, state.settings, accounts);
    state.iconFigure = iconFigureOf(
        shownLeading, shownLeading ? MenuBarTitleBuilder::figure(*shownLeading, state.settings.showRemaining)
                                   : std::nullopt);

    for (const Provider provider : state.providers) {
        ProviderSummaryInput input = ProviderSummaryInput::fromBundle(bundle, state.settings, provider, now);
        input.freshness = StateReports::freshnessLabel(bundle, state.settings, provider, now);
        input.headroom = StateReports::headroomLabel(bundle, provider);
        // Claude Code's own word on its current model outranks the newest reading's.
        if (const auto& current = bundle.claudeCurrent; provider == Provider::claude && current)
            input.chips =
                ProviderSummary::chips(current->modelDisplayName, current->modelId, current->effortLevel,
                                       std::nullopt, current->thinkingEnabled);
        input.programFound = provider != Provider::codex || state.codexFound;
        state.cards.insert(provider, ProviderSummary::card(input));
    }
    for (const AccountForecasts& account : std::as_const(accounts)) {
        if (account.isDefault)
            continue;
        ProviderCardText card =
            ProviderSummary::card(ProviderSummaryInput::fromAccount(account, state.settings, now));
        card.title = account.name();
        card.account = account.key;
        state.accountCards.append(card);
    }
    describeAccounts(state);
    const bool anyReading = std::any_of(state.cards.cbegin(), state.cards.cend(),
                                        [](const ProviderCardText& card) { return !card.rows.isEmpty(); });
    if (!anyReading)
        state.firstRunHint = QStringLiteral(
            "No readings yet: use Claude Code or Codex, or start tallyvane (the tray) to collect them.");
    for (const ForecastResult& forecast : bundle.forecasts)
        state.scenarios.insert(forecast.id(),
                               StateReports::scenarios(bundle, forecast.provider, forecast.windowKind, now));

    if (!state.settings.demoMode && state.settings.enabledProviders.contains(Provider::claude))
        state.overage = StateReports::overage(state.extraUsage, state.settings);
    state.budgetPrefix = state.extraUsage
                             ? NumberFormatting::currencyPrefix(state.extraUsage->currency)
                             : (state.settings.currencyGBP ? QStringLiteral("£") : QStringLiteral("$"));
    state.timeUntilBedtime = StateReports::timeUntilBedtime(state.settings, now);
    if (state.lastRefresh)
        state.updated = bundle.snapshots.isEmpty()
                            ? QStringLiteral("Nothing read yet")
                            : QStringLiteral("Updated ") + TimeFormatting::clock(state.lastRefresh, now);
    if (state.claudeBridge) {
        state.welcomeClaudeLine =
            QStringLiteral("Claude's bridge is installed: its quota appears after Claude Code's next reply.");
    } else {
        state.welcomeClaudeLine = QStringLiteral(
            "Claude needs a one-tap bridge to read its quota (it edits ~/.claude/settings.json, safely "
            "backed up).");
        state.connectClaudeLabel = QStringLiteral("Connect Claude");
    }
    if (state.codexFound) {
        state.emptyTitle = QStringLiteral("Connecting to Codex…");
        state.emptyLine = state.claudeBridge ? QStringLiteral("Codex usage should appear in a few seconds.")
                                             : QStringLiteral("Codex usage should appear in a few seconds. "
                                                              "Connect Claude to add its quota too.");
    } else if (state.claudeBridge) {
        state.emptyTitle = QStringLiteral("Waiting for Claude Code");
        state.emptyLine = QStringLiteral(
            "Its quota appears after its next reply. Install the Codex CLI for live Codex usage too.");
    } else {
        state.emptyTitle = QStringLiteral("Nothing connected yet");
        state.emptyLine = QStringLiteral("Install the Codex CLI for live usage, or connect Claude below.");
    }

    const UsageTotals* history = state.history.get();
    state.spendThisWeekTotal = StateReports::spendThisWeekTotal(history, state.settings, now);
    state.peakWindow = StateReports::peakUsageWindowLabel(history);
    if (history) {
        const QDateTime dayStart = QDateTime(now.toLocalTime().date(), QTime(0, 0));
        double today = 0;
        for (const Provider provider : state.providers) {
            ProviderUsage row;
            row.provider = provider;
            for (const UsageQueries::DayTokens& day : UsageQueries::recentSeries(*history, provider, 7, now))
                row.days.append(day.tokens);
            const StateReports::WeekTrend trend = StateReports::weekTrend(history, provider, now);
            row.thisWeek = trend.thisWeek;
            row.deltaPct = trend.deltaPct;
            row.averageDailyTokens = UsageQueries::averageDailyTokens(*history, provider, 7, now);
            row.spendThisWeek = StateReports::spendThisWeek(history, state.settings, provider, now);
            state.usage.append(row);
            today += UsageQueries::costUSD(*history, provider, dayStart);
        }
        state.spendToday = NumberFormatting::money(state.settings.currencyGBP, today);
    }
    for (const MachineReport& report : bundle.machines)
        state.machineHealth.append(MachineHealth::line(report.machine, report.state, now));
    if (history && !bundle.machines.isEmpty()) {
        const QDateTime weekStart = QDateTime(now.toLocalTime().date().addDays(-6), QTime(0, 0));
        qint64 tokens = 0;
        double cost = 0;
        for (const Provider provider : allProviders) {
            tokens += UsageQueries::tokens(*history, provider, weekStart);
            cost += UsageQueries::costUSD(*history, provider, weekStart);
        }
        QStringList others;
        for (const MachineReport& report : bundle.machines) {
            if (!report.machine.enabled || !report.state.lastSuccess)
                continue;
            tokens -= report.tokensThisWeek;
            cost -= report.costThisWeekUSD;
            others.append(report.machine.name() + QStringLiteral(": ") +
                          NumberFormatting::tokens(report.tokensThisWeek) +
                          QStringLiteral(" tokens \u00b7 ") +
                          NumberFormatting::money(state.settings.currencyGBP, report.costThisWeekUSD));
        }
        state.machineUsage =
            QStringList{QStringLiteral("This machine: ") +
                        NumberFormatting::tokens(std::max<qint64>(0, tokens)) +
                        QStringLiteral(" tokens \u00b7 ") +
                        NumberFormatting::money(state.settings.currencyGBP, std::max(0.0, cost))} +
            others;
    }
    return state;
}

PublishedState PublishedState::at(const QDateTime& later) const
{
    PublishInputs inputs = *this;
    inputs.now = later;
    return make(std::move(inputs));
}

QList<ProviderCardText> PublishedState::cardsInOrder() const
{
    QList<ProviderCardText> ordered;
    for (const Provider provider : providers) {
        ordered.append(cards.value(provider));
        for (const ProviderCardText& account : accountCards)
            if (account.provider == provider)
                ordered.append(account);
    }
    return ordered;
}

std::optional<ForecastResult> PublishedState::forecast(Provider provider, WindowKind window) const
{
    return StateQueries::forecast(bundle.forecasts, provider, window);
}

QList<ScenarioResult> PublishedState::scenariosOf(Provider provider, WindowKind window) const
{
    return scenarios.value(ForecastResult::id(provider, window));
}

QString PublishedState::limitPhrase(const ForecastResult& forecast)
{
    if (forecast.estimatedTimeToLimit)
        return QStringLiteral("limit in ") + TimeFormatting::countdown(forecast.estimatedTimeToLimit);
    return QStringLiteral("no limit before reset");
}
