#include "app/StateReports.h"

#include "app/StateQueries.h"
#include "core/forecast/CalibratedForecast.h"
#include "core/forecast/ScenarioEngine.h"
#include "core/io/AppLogger.h"
#include "core/text/JsonLines.h"
#include "core/text/NumberFormatting.h"
#include "core/text/TimeFormatting.h"
#include "history/ClaudeEstimator.h"
#include "history/UsageQueries.h"
#include "providers/StoredReading.h"

#include <QRegularExpression>

#include <functional>

#include <cmath>

namespace StateReports {

namespace {

// The newest snapshot of a provider whose source passes `accept`, by timestamp.
std::optional<QDateTime> newestStamp(const ForecastBundle& bundle, Provider provider,
                                     const std::function<bool(const UsageSnapshot&)>& accept)
{
    std::optional<QDateTime> newest;
    for (const WorkingSeries& series : bundle.series) {
        if (series.key.first != provider)
            continue;
        // Positions run in time order: the first accepted one from the end is the series' newest.
        for (qsizetype i = series.positions.size() - 1; i >= 0; --i) {
            const UsageSnapshot& s = bundle.snapshots[series.positions[i]];
            if (!accept(s))
                continue;
            if (!newest || s.timestamp > *newest)
                newest = s.timestamp;
            break;
        }
    }
    return newest;
}

QString fixedWhole(double value)
{
    const double whole = std::trunc(value);
    return NumberFormatting::fixed(whole == 0 ? 0.0 : whole, 0);
}

} // namespace

QList<ScenarioResult> scenarios(const ForecastBundle& bundle, Provider provider, WindowKind window,
                                const QDateTime& now)
{
    const auto f = StateQueries::forecast(bundle.forecasts, provider, window);
    const auto latest = StateQueries::latestSnapshot(bundle.snapshots, bundle.series, provider, window);
    if (!f || !f->projectedUsedAtReset || !latest)
        return {};
    return ScenarioEngine::scenarios(provider, f->currentUsedPercent,
                                     std::max(0.0, *f->projectedUsedAtReset - f->currentUsedPercent), *latest,
                                     f->confidence, now);
}

std::optional<QString> freshnessLabel(const ForecastBundle& bundle, const AppSettings& settings,
                                      Provider provider, const QDateTime& now)
{
    if (settings.demoMode)
        return QStringLiteral("demo");
    const auto ageOf = [&](const QDateTime& at) { return double(at.msecsTo(now)) / 1000; };
    if (provider == Provider::codex) {
        const auto newest = newestStamp(bundle, provider, [](const UsageSnapshot&) { return true; });
        if (!newest)
            return std::nullopt;
        // An unchanged reading is stored only every few minutes; two minutes more cover the poll.
        const double age = ageOf(*newest);
        if (age < double(StoredReading::repeatSeconds + 120))
            return QStringLiteral("live");
        return QStringLiteral("as of ") + TimeFormatting::countdown(age) + QStringLiteral(" ago");
    }
    const auto live = newestStamp(
        bundle, provider, [](const UsageSnapshot& s) { return ClaudeEstimator::isLiveSource(s.source); });
    if (live) {
        const double age = ageOf(*live);
        if (age < double(ClaudeEstimator::freshSeconds))
            return QStringLiteral("live");
        return QStringLiteral("synced ") + TimeFormatting::countdown(age) + QStringLiteral(" ago");
    }
    if (newestStamp(bundle, provider, [](const UsageSnapshot&) { return true; }))
        return QStringLiteral("estimated");
    return std::nullopt;
}

std::optional<QString> headroomLabel(const ForecastBundle& bundle, Provider provider)
{
    const auto it = bundle.calibrated.constFind(provider);
    if (it == bundle.calibrated.cend())
        return std::nullopt;
    return CalibratedForecast::headroomLabel(*it);
}

namespace {

// Seven calendar days, today included, as the week's trend counts them.
double weekCostUSD(const UsageTotals* history, Provider provider, const QDateTime& now)
{
    double cost = 0;
    if (history)
        for (const qint64 day : UsageQueries::lastDays(*history, 7, now))
            cost += history->of(provider).costUSD(day);
    return cost;
}

} // namespace

QString spendThisWeek(const UsageTotals* history, const AppSettings& settings, Provider provider,
                      const QDateTime& now)
{
    return NumberFormatting::money(settings.currencyGBP, weekCostUSD(history, provider, now));
}

QString spendThisWeekTotal(const UsageTotals* history, const AppSettings& settings, const QDateTime& now)
{
    double total = 0;
    for (Provider provider : StateQueries::sortedEnabledProviders(settings))
        total += weekCostUSD(history, provider, now);
    return NumberFormatting::money(settings.currencyGBP, total);
}

WeekTrend weekTrend(const UsageTotals* history, Provider provider, const QDateTime& now)
{
    WeekTrend trend;
    if (!history)
        return trend;
    trend.weeks = UsageQueries::weeklyTotals(*history, provider, 4, now);
    if (trend.weeks.empty())
        return trend;
    trend.thisWeek = trend.weeks.back();
    if (trend.weeks.size() >= 2) {
        const qint64 previous = trend.weeks[trend.weeks.size() - 2];
        if (previous >= 100'000 && double(trend.thisWeek) * 0.05 <= double(previous))
            trend.deltaPct = double(trend.thisWeek - previous) / double(previous) * 100;
    }
    return trend;
}

std::optional<QString> peakUsageWindowLabel(const UsageTotals* history)
{
    if (!history)
        return std::nullopt;
    const auto span = UsageQueries::peakWindow(*history, 4);
    if (!span)
        return std::nullopt;
    return hourSpanLabel(span->start, span->end);
}

QString hourSpanLabel(int start, int end)
{
    const auto twoDigits = [](int hour) {
        return QStringLiteral("%1").arg(((hour % 24) + 24) % 24, 2, 10, QLatin1Char('0'));
    };
    return twoDigits(start) + QStringLiteral(":00\u2013") + twoDigits(end) + QStringLiteral(":00");
}

std::optional<double> timeUntilBedtime(const AppSettings& settings, const QDateTime& now)
{
    if (!settings.sleep.enabled)
        return std::nullopt;
    const auto bedtime = settings.sleep.nextBedtime(now);
    if (!bedtime)
        return std::nullopt;
    return double(now.msecsTo(*bedtime)) / 1000;
}

QString weeklyRecapText(const ForecastBundle& bundle, const UsageTotals* history, const AppSettings& settings,
                        const QDateTime& now)
{
    QStringList lines;
    for (Provider provider : StateQueries::sortedEnabledProviders(settings)) {
        auto f = StateQueries::forecast(bundle.forecasts, provider, WindowKind::sevenDay);
        if (!f)
            f = StateQueries::forecast(bundle.forecasts, provider, WindowKind::weekly);
        if (!f)
            continue;
        QString line = displayName(provider) + QStringLiteral(": ") +
                       NumberFormatting::percent(f->currentUsedPercent) + QStringLiteral(" of weekly used");
        if (history) {
            const UsageQueries::DayTokens* heaviest = nullptr;
            const auto days = UsageQueries::recentSeries(*history, provider, 7, now);
            for (const auto& day : days)
                if (day.tokens >= 1 && (!heaviest || day.tokens > heaviest->tokens))
                    heaviest = &day;
            if (heaviest)
                line += QStringLiteral(", heaviest ") + heaviest->day.right(5);
        }
        lines.append(line);
    }
    return lines.join(QStringLiteral(". "));
}

std::optional<OverageReport> overage(const std::optional<ClaudeExtraUsage>& extra,
                                     const AppSettings& settings)
{
    const double budget = settings.extraUsageBudgetGBP;
    if (!extra || !extra->enabled || !(extra->usedGBP > 0 || budget > 0))
        return std::nullopt;
    const QString prefix = NumberFormatting::currencyPrefix(extra->currency);
    const QString used = std::isfinite(extra->usedGBP) ? prefix + NumberFormatting::fixed(extra->usedGBP, 2)
                                                       : NumberFormatting::dash;
    OverageReport report;
    report.usedText = used + QStringLiteral(" used");
    if (budget > 0) {
        report.budgetShare = extra->usedGBP / budget;
        report.budgetLine = used + QStringLiteral(" of ") + prefix + fixedWhole(budget) +
                            QStringLiteral(" budget \u00b7 ") +
                            NumberFormatting::percent(*report.budgetShare * 100);
    } else {
        report.note = QStringLiteral("Real money beyond your plan. Set a budget in Settings to get warned.");
    }
    return report;
}

QString scrubbed(const QString& text, const QString& homePath)
{
    QString result = AppLogger::redact(text);
    // Only a whole path component: "/home/al" must not eat "/home/alex".
    if (homePath.size() > 1) {
        const QRegularExpression home(QRegularExpression::escape(homePath) +
                                      QStringLiteral("(?=/|\\s|$|[\"':,;)])"));
        result.replace(home, QStringLiteral("~"));
    }
    return result;
}

QString diagnosticsText(const DiagnosticsInputs& in)
{
    const bool demo = in.settings.demoMode;
    QStringList lines{QStringLiteral("Tallyvane diagnostics"),
                      QStringLiteral("mode: ") + (demo ? QStringLiteral("demo") : QStringLiteral("live"))};
    if (in.lastRefresh)
        lines.append(QStringLiteral("last update: ") +
                     in.lastRefresh->toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
                     QStringLiteral(" +0000"));
    for (Provider provider : StateQueries::sortedEnabledProviders(in.settings)) {
        const auto health = in.providerHealth.constFind(provider);
        if (health != in.providerHealth.cend())
            lines.append(displayName(provider) + QStringLiteral(": ") + rawValue(health->state) +
                         QStringLiteral(" \u2014 ") + health->detail);
        else
            lines.append(displayName(provider) + QStringLiteral(": ") +
                         (demo ? QStringLiteral("demo") : QStringLiteral("idle")));
        if (const auto f = StateQueries::forecast(in.forecasts, provider, WindowKind::fiveHour)) {
            const QString used =
                std::isfinite(f->currentUsedPercent)
                    ? NumberFormatting::fixed(std::round(f->currentUsedPercent), 0) + QLatin1Char('%')
                    : NumberFormatting::dash;
            const QString burn =
                f->burnRatePercentPerHour && std::isfinite(*f->burnRatePercentPerHour)
                    ? NumberFormatting::fixed(*f->burnRatePercentPerHour, 1) + QStringLiteral("%/h")
                    : NumberFormatting::dash;
            lines.append(QStringLiteral("  5h: used ") + used + QStringLiteral(", status ") +
                         label(f->status) + QStringLiteral(", burn ") + burn);
        }
    }
    lines.append(QStringLiteral("codex in PATH: ") +
                 (in.codexPath.isEmpty() ? QStringLiteral("no") : QStringLiteral("yes")));
    QString bridge = rawValue(in.bridge.state);
    if (in.bridge.state == ClaudeBridgeStatus::State::error)
        bridge += QStringLiteral(": ") + in.bridge.reason;
    lines.append(QStringLiteral("claude bridge: ") + bridge);
    if (in.lastError)
        lines.append(QStringLiteral("last error: ") + *in.lastError);
    return scrubbed(lines.join(QLatin1Char('\n')), in.homePath);
}

} // namespace StateReports
