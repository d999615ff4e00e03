#include "app/ProviderSummary.h"

#include "app/StateQueries.h"
#include "core/text/NumberFormatting.h"
#include "core/text/TimeFormatting.h"

#include <cmath>

namespace {

// The newest working snapshot of the provider that names a model, an effort, thinking or a speed.
std::optional<UsageSnapshot> metaSnapshot(const ForecastBundle& bundle, Provider provider)
{
    return StateQueries::newestWhere(
        bundle.snapshots, bundle.series, provider, [](const UsageSnapshot& snapshot) {
            return snapshot.modelDisplayName || snapshot.modelId || snapshot.effortLevel ||
                   snapshot.thinkingEnabled.value_or(false) || snapshot.speedMode;
        });
}

QString windowKindLabel(WindowKind window)
{
    switch (window) {
    case WindowKind::weekly:
        return QStringLiteral("Weekly");
    case WindowKind::monthly:
        return QStringLiteral("Monthly");
    default:
        return QStringLiteral("Window");
    }
}

UsageRowText row(const ForecastResult* forecast, const UsageSnapshot* snapshot, const QString& label,
                 const ProviderSummaryInput& input)
{
    UsageRowText result;
    result.label = label;
    const double used = forecast ? forecast->currentUsedPercent : snapshot->usedPercent;
    const double shown = input.showRemaining ? 100 - used : used;
    result.barFraction = std::isfinite(shown) ? std::clamp(shown / 100, 0.0, 1.0) : 0.0;
    result.role = forecast ? colorRole(forecast->status) : ColorRole::neutral;
    result.percent = ProviderSummary::percentText(used, input.showRemaining);
    std::optional<QDateTime> resetAt = forecast ? forecast->resetAt : std::nullopt;
    if (!resetAt && snapshot)
        resetAt = snapshot->resetAt;
    result.reset = ProviderSummary::resetText(resetAt, input.now);
    if (resetAt && snapshot && snapshot->windowDurationMins && *snapshot->windowDurationMins > 0 &&
        isLongWindow(snapshot->windowKind)) {
        const double window = *snapshot->windowDurationMins * 60;
        const double elapsed =
            std::clamp(1 - static_cast<double>(input.now.secsTo(*resetAt)) / window, 0.0, 1.0);
        result.idealTick = input.showRemaining ? 1 - elapsed : elapsed;
    }
    return result;
}

QString runOutTail(const ForecastResult& forecast, const QDateTime& now)
{
    // The forecast's own run-out, never one worked out from its projection.
    const std::optional<QDateTime>& runOut = forecast.runOutAt;
    if (!runOut || !(*runOut > now))
        return {};
    return QStringLiteral(" · runs out ") + TimeFormatting::clock(runOut, now) + QStringLiteral(" (") +
           TimeFormatting::countdown(static_cast<double>(now.msecsTo(*runOut)) / 1000.0) + QLatin1Char(')');
}

QString onTrack(ForecastStatus status)
{
    return status == ForecastStatus::safe ? QStringLiteral("On track: ") : QString();
}

// The card's windows: the five-hour one, the seven-day one else the weekly one, and beside a seven-day
// window Claude's Sonnet limit (carried under weekly), each with its newest reading.
template <typename Forecast, typename Latest>
void fillWindows(ProviderSummaryInput& input, const Forecast& forecast, const Latest& latest)
{
    input.fiveHour = forecast(WindowKind::fiveHour);
    input.fiveHourSnapshot = latest(WindowKind::fiveHour);
    input.longWindow = forecast(WindowKind::sevenDay);
    const bool sevenDay = input.longWindow.has_value();
    if (!sevenDay)
        input.longWindow = forecast(WindowKind::weekly);
    if (input.longWindow)
        input.longSnapshot = latest(input.longWindow->windowKind);
    if (input.provider == Provider::claude && sevenDay) {
        input.sonnet = forecast(WindowKind::weekly);
        input.sonnetSnapshot = latest(WindowKind::weekly);
    }
}

} // namespace

ProviderSummaryInput ProviderSummaryInput::fromAccount(const AccountForecasts& account,
                                                       const AppSettings& settings, const QDateTime& now)
{
    const auto forecast = [&](WindowKind window) -> std::optional<ForecastResult> {
        for (const ForecastResult& f : account.forecasts)
            if (f.windowKind == window)
                return f;
        return std::nullopt;
    };
    const auto latest = [&](WindowKind window) -> std::optional<UsageSnapshot> {
        for (const UsageSnapshot& s : account.latest)
            if (s.windowKind == window)
                return s;
        return std::nullopt;
    };
    ProviderSummaryInput input;
    input.provider = account.provider;
    input.now = now;
    input.showRemaining = settings.showRemaining;
    fillWindows(input, forecast, latest);
    return input;
}

ProviderSummaryInput ProviderSummaryInput::fromBundle(const ForecastBundle& bundle,
                                                      const AppSettings& settings, Provider provider,
                                                      const QDateTime& now)
{
    const auto forecast = [&](WindowKind window) {
        return StateQueries::forecast(bundle.forecasts, provider, window);
    };
    const auto latest = [&](WindowKind window) {
        return StateQueries::latestSnapshot(bundle.snapshots, bundle.series, provider, window);
    };
    ProviderSummaryInput input;
    input.provider = provider;
    input.now = now;
    input.showRemaining = settings.showRemaining;
    input.demo = settings.demoMode;
    fillWindows(input, forecast, latest);
    if (const std::optional<UsageSnapshot> meta = metaSnapshot(bundle, provider))
        input.chips = ProviderSummary::chips(meta->modelDisplayName, meta->modelId, meta->effortLevel,
                                             meta->speedMode, meta->thinkingEnabled);
    return input;
}

namespace ProviderSummary {

QStringList chips(const OptionalText& name, const OptionalText& id, const OptionalText& effort,
                  const OptionalText& speed, std::optional<bool> thinking)
{
    QStringList shown;
    if (name)
        shown.append(*name);
    else if (id)
        shown.append(*id);
    if (effort)
        shown.append(QStringLiteral("effort: ") + *effort);
    if (speed && *speed != QLatin1String("standard"))
        shown.append(QStringLiteral("fast"));
    if (thinking.value_or(false))
        shown.append(QStringLiteral("thinking"));
    return shown;
}

ProviderCardText card(const ProviderSummaryInput& input)
{
    ProviderCardText card;
    card.provider = input.provider;
    card.title = displayName(input.provider);
    card.demo = input.demo;
    card.sourceTag = input.demo ? QStringLiteral("demo") : sourceTag(input.provider);
    card.sourceSentence = sourceSentence(input.provider);
    card.freshness = input.freshness;
    card.headroom = input.headroom;
    card.chips = input.chips;
    card.status = cardStatus(input);
    card.whatBringsReadings = whatBringsReadings(input.provider, input.programFound);
    const auto resetOf = [](const std::optional<ForecastResult>& f, const std::optional<UsageSnapshot>& s) {
        std::optional<QDateTime> reset = f ? f->resetAt : std::nullopt;
        return reset ? reset : (s ? s->resetAt : std::nullopt);
    };
    if (const auto text = fiveHourRow(input))
        card.rows.append({WindowKind::fiveHour, QStringLiteral("fiveHour"), *text,
                          resetOf(input.fiveHour, input.fiveHourSnapshot), fiveHourOutlook(input),
                          input.fiveHour});
    if (const auto text = longRow(input))
        card.rows.append({input.longWindow->windowKind, QStringLiteral("long"), *text,
                          resetOf(input.longWindow, input.longSnapshot), weeklyOutlook(input),
                          input.longWindow});
    if (const auto text = sonnetRow(input))
        card.rows.append({WindowKind::weekly, QStringLiteral("sonnet"), *text,
                          resetOf(input.sonnet, input.sonnetSnapshot), std::nullopt, input.sonnet});
    return card;
}

std::optional<ForecastStatus> cardStatus(const ProviderSummaryInput& input)
{
    std::optional<ForecastStatus> kept;
    for (const auto* forecast : {&input.fiveHour, &input.longWindow, &input.sonnet}) {
        if (!*forecast)
            continue;
        if (!kept || severityRank((*forecast)->status) > severityRank(*kept))
            kept = (*forecast)->status;
    }
    return kept;
}

std::optional<UsageRowText> fiveHourRow(const ProviderSummaryInput& input)
{
    if (!input.fiveHour && !input.fiveHourSnapshot)
        return std::nullopt;
    const QString label =
        input.fiveHourSnapshot ? input.fiveHourSnapshot->windowLabel() : QStringLiteral("5h");
    return row(input.fiveHour ? &*input.fiveHour : nullptr,
               input.fiveHourSnapshot ? &*input.fiveHourSnapshot : nullptr, label, input);
}

std::optional<UsageRowText> longRow(const ProviderSummaryInput& input)
{
    if (!input.longWindow)
        return std::nullopt;
    const QString label = input.longSnapshot ? input.longSnapshot->windowLabel()
                                             : windowKindLabel(input.longWindow->windowKind);
    UsageRowText result =
        row(&*input.longWindow, input.longSnapshot ? &*input.longSnapshot : nullptr, label, input);
    result.trailing = input.headroom;
    return result;
}

std::optional<UsageRowText> sonnetRow(const ProviderSummaryInput& input)
{
    if (input.provider != Provider::claude || !input.sonnet)
        return std::nullopt;
    return row(&*input.sonnet, input.sonnetSnapshot ? &*input.sonnetSnapshot : nullptr,
               QStringLiteral("Sonnet"), input);
}

QString whatBringsReadings(Provider provider, bool programFound)
{
    if (provider == Provider::codex && !programFound)
        return QStringLiteral("Codex is not installed. Install the Codex CLI (npm install -g @openai/codex) "
                              "and its readings appear here.");
    return provider == Provider::codex
               ? QStringLiteral(
                     "Codex readings arrive while the Codex CLI runs; use Codex and they appear here.")
               : QStringLiteral(
                     "Claude readings arrive with Claude Code's replies once the bridge is connected "
                     "(Settings › Claude bridge).");
}

std::optional<OutlookText> fiveHourOutlook(const ProviderSummaryInput& input)
{
    if (!input.fiveHour)
        return std::nullopt;
    const ForecastResult& f = *input.fiveHour;
    if (!(f.currentUsedPercent < 100) || !f.projectedUsedAtReset)
        return std::nullopt;
    const double projected = *f.projectedUsedAtReset;
    const bool quiet = f.status == ForecastStatus::noData || f.status == ForecastStatus::safe;
    const bool burning = f.burnRatePercentPerHour && *f.burnRatePercentPerHour > 0.5;
    if (quiet && (!burning || std::abs(projected - f.currentUsedPercent) < 3.0))
        return std::nullopt;
    OutlookText outlook;
    outlook.status = f.status;
    outlook.text = onTrack(f.status) + QLatin1Char('~') + percentText(projected, input.showRemaining) +
                   QStringLiteral(" by reset · at recent pace");
    outlook.runOut = runOutTail(f, input.now);
    return outlook;
}

std::optional<OutlookText> weeklyOutlook(const ProviderSummaryInput& input)
{
    if (!input.longWindow || !input.longWindow->projectedUsedAtReset)
        return std::nullopt;
    const ForecastResult& f = *input.longWindow;
    OutlookText outlook;
    outlook.status = f.status;
    // No burn rate at this basis: the projection merely holds the current figure, and no pace backs it. The
    // row beside the outlook already gives that figure, so the outlook says only that there is no pace.
    if (!f.burnRatePercentPerHour && f.basis != ForecastBasis::smart && !f.humanSummary.isEmpty()) {
        outlook.text = f.status == ForecastStatus::limited
                           ? f.humanSummary
                           : QStringLiteral("Not enough activity to forecast yet.");
        return outlook;
    }
    outlook.text = onTrack(f.status) + QLatin1Char('~') +
                   percentText(*f.projectedUsedAtReset, input.showRemaining) + QStringLiteral(" at reset") +
                   (f.basis == ForecastBasis::smart
                        ? QStringLiteral(" · from your history")
                        : QStringLiteral(" · at ") + shortLabel(f.basis) + QStringLiteral(" pace"));
    outlook.runOut = runOutTail(f, input.now);
    return outlook;
}

QString percentText(double used, bool showRemaining)
{
    const double shown = showRemaining ? 100 - used : used;
    return NumberFormatting::percent(shown < 0 ? 0.0 : shown) +
           (showRemaining ? QStringLiteral(" left") : QStringLiteral(" used"));
}

QString resetText(const std::optional<QDateTime>& resetAt, const QDateTime& now)
{
    if (!resetAt)
        return {};
    if (const std::optional<QString> phrase = TimeFormatting::resetPhrase(resetAt, now)) {
        // The phrase starts with its own lower-case "resets ".
        QString rest = *phrase;
        if (rest.startsWith(QLatin1String("resets ")))
            rest.remove(0, 7);
        return QStringLiteral("Resets ") + rest;
    }
    const QString countdown = TimeFormatting::countdown(static_cast<double>(now.msecsTo(*resetAt)) / 1000.0);
    if (countdown == QLatin1String("now"))
        return QStringLiteral("Resets now");
    return QStringLiteral("Resets ") + countdown + QStringLiteral(" from now");
}

QString sourceTag(Provider provider)
{
    return provider == Provider::codex ? QStringLiteral("live") : QStringLiteral("account");
}

QString sourceSentence(Provider provider)
{
    return provider == Provider::codex
               ? QStringLiteral("Live from the Codex app-server.")
               : QStringLiteral(
                     "Quota syncs from your Claude account (and the terminal status line); usage and "
                     "cost track continuously from transcripts.");
}

QString rangeTitle(WindowKind window)
{
    switch (window) {
    case WindowKind::fiveHour:
        return QStringLiteral("5-hour range");
    case WindowKind::sevenDay:
        return QStringLiteral("7-day range");
    case WindowKind::weekly:
        return QStringLiteral("Weekly range");
    case WindowKind::monthly:
        return QStringLiteral("Monthly range");
    case WindowKind::unknown:
        break;
    }
    return QStringLiteral("Range");
}

QString whatIfsTitle(WindowKind window)
{
    return QStringLiteral("What-ifs · ") +
           (isLongWindow(window) ? QStringLiteral("this week") : shortLabel(window));
}

QStringList whatIfLines(const ScenarioResult& scenario, bool showRemaining, const QDateTime& now)
{
    QStringList lines;
    if (scenario.runOutAt) {
        lines << QStringLiteral("runs out ~") + TimeFormatting::clock(scenario.runOutAt, now) << QString();
    } else {
        lines << (scenario.projectedUsedAtReset
                      ? QLatin1Char('~') + percentText(*scenario.projectedUsedAtReset, showRemaining)
                      : NumberFormatting::dash)
              << QStringLiteral("by reset (est.)");
    }
    const double saving = scenario.estimatedSavingPercent.value_or(0);
    if (saving > 0.5)
        lines << QStringLiteral("saves ~") + NumberFormatting::percent(saving);
    else if (saving < -0.5)
        lines << QStringLiteral("costs ~") + NumberFormatting::percent(-saving) + QStringLiteral(" more");
    else
        lines << QString();
    return lines;
}

} // namespace ProviderSummary
