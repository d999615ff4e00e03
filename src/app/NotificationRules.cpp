#include "app/NotificationRules.h"

#include "core/text/NumberFormatting.h"
#include "core/text/TimeFormatting.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace NotificationRules {
namespace {

using NumberFormatting::dash;
using NumberFormatting::fixed;

// The value truncated toward zero, then the unit; "—" alone for a value that is not finite.
QString truncated(double value, const QString& unit)
{
    if (!std::isfinite(value))
        return dash;
    const double whole = std::trunc(value);
    return fixed(whole == 0 ? 0.0 : whole, 0) + unit;
}

QString percent(double value)
{
    return truncated(value, QStringLiteral("%"));
}

// Days since 1970 in UTC: the run-out and budget keys change at most once a day.
QString dayNumber(const QDateTime& now)
{
    return QString::number(now.toSecsSinceEpoch() / 86'400);
}

QString timeToLimitBody(double seconds)
{
    // A limit already passed is "now", never "in ~-3m".
    if (std::isfinite(seconds) && seconds <= 0)
        return QStringLiteral("You may hit the 5h limit now.");
    return QStringLiteral("You may hit the 5h limit in ~") + TimeFormatting::countdown(seconds) +
           QLatin1Char('.');
}

QString paceBody(double delta)
{
    if (!std::isfinite(delta))
        return QStringLiteral("You are ") + dash + QStringLiteral(" above ideal pace.");
    return QStringLiteral("You are ") + (delta >= 0 ? QStringLiteral("+") : QString()) +
           truncated(delta, QStringLiteral("pp")) + QStringLiteral(" above ideal pace.");
}

// The usage, burn-rate and time-to-limit alerts of one 5-hour window; `key` leads their keys, `name` their
// titles.
void fiveHourAlerts(const ForecastResult& f, const QString& key, const QString& name,
                    const AppSettings& settings, QList<Alert>& alerts)
{
    const NotificationThresholds& limits = settings.notificationThresholds;
    const double cooldown = settings.notificationCooldownMinutes * 60;
    if (f.windowKind != WindowKind::fiveHour)
        return;
    if (f.currentUsedPercent >= limits.fiveHourUsageAbove)
        alerts.append({key + QStringLiteral("-5h-usage"), cooldown, name + QStringLiteral(" 5h usage high"),
                       QStringLiteral("5h usage is above ") + percent(limits.fiveHourUsageAbove) +
                           QStringLiteral(" (now ") + percent(f.currentUsedPercent) + QStringLiteral(").")});
    if (f.projectedUsedAtReset && *f.projectedUsedAtReset >= limits.fiveHourForecastAbove)
        alerts.append(
            {key + QStringLiteral("-5h-forecast"), cooldown, name + QStringLiteral(" burn rate high"),
             QStringLiteral("At your ") + shortLabel(f.basis) + QStringLiteral(" pace, projected ") +
                 percent(*f.projectedUsedAtReset) + QStringLiteral(" by reset.")});
    if (f.estimatedTimeToLimit && *f.estimatedTimeToLimit < limits.timeToLimitUnderMinutes * 60)
        alerts.append({key + QStringLiteral("-5h-ttl"), cooldown, name + QStringLiteral(" close to limit"),
                       timeToLimitBody(*f.estimatedTimeToLimit), true});
}

} // namespace

bool silenced(const AppSettings& settings, const QDateTime& now)
{
    if (!settings.notificationsEnabled || settings.demoMode)
        return true;
    return settings.notificationsSnoozedUntil && now < *settings.notificationsSnoozedUntil;
}

QList<Alert> forecastAlerts(const QList<ForecastResult>& forecasts,
                            const QList<std::pair<Provider, PaceResult>>& paces, const AppSettings& settings,
                            const QList<AccountForecasts>& accounts)
{
    const NotificationThresholds& limits = settings.notificationThresholds;
    const double cooldown = settings.notificationCooldownMinutes * 60;
    QList<Alert> alerts;
    for (const ForecastResult& f : forecasts)
        fiveHourAlerts(f, rawValue(f.provider), displayName(f.provider), settings, alerts);
    // Keyed by the account as well: one account's alert never holds back another's.
    for (const AccountForecasts& account : accounts) {
        if (account.isDefault || !settings.enabledProviders.contains(account.provider))
            continue;
        for (const ForecastResult& f : account.forecasts)
            fiveHourAlerts(f, rawValue(account.provider) + QLatin1Char('-') + account.key, account.name(),
                           settings, alerts);
    }
    for (const auto& [provider, pace] : paces) {
        const QString raw = rawValue(provider);
        const QString name = displayName(provider);
        if (pace.projectedEnd && *pace.projectedEnd >= limits.weeklyProjectedAbove)
            alerts.append(
                {raw + QStringLiteral("-weekly-proj"), cooldown,
                 name + QStringLiteral(" weekly pace warning"),
                 QStringLiteral("Projected finish ") + percent(*pace.projectedEnd) + QLatin1Char('.')});
        if (pace.paceDelta >= limits.weeklyPaceAbovePoints)
            alerts.append({raw + QStringLiteral("-weekly-pace"), cooldown,
                           name + QStringLiteral(" above weekly pace"), paceBody(pace.paceDelta)});
    }
    return alerts;
}

QList<Alert> runOutAlerts(const QMap<Provider, CalibratedProjection>& calibrated, const QDateTime& now,
                          const QTimeZone& zone)
{
    QList<Alert> alerts;
    for (auto it = calibrated.cbegin(); it != calibrated.cend(); ++it) {
        const CalibratedProjection& p = it.value();
        if (!std::isfinite(p.daysOfHeadroom) || !(p.projectedUsedAtReset >= 100) ||
            !(p.daysOfHeadroom < p.daysRemaining - 0.75))
            continue;
        // Bounded so that the date arithmetic stays in range; such a window never resets in time anyway.
        const double headroomMs = std::clamp(p.daysOfHeadroom, 0.0, 3650.0) * 86'400'000.0;
        const QDateTime runsOut = now.addMSecs(qint64(headroomMs)).toTimeZone(zone);
        const double early = std::max(0.0, p.daysRemaining - p.daysOfHeadroom);
        alerts.append({rawValue(it.key()) + QStringLiteral("-runout-") + dayNumber(now),
                       runOutCooldownSeconds, displayName(it.key()) + QStringLiteral(" will run out early"),
                       QStringLiteral("At your usual pace it runs out ") +
                           QLocale::c().toString(runsOut, QStringLiteral("ddd")) + QStringLiteral(" (~") +
                           (std::isfinite(early) ? fixed(early, 0) + QLatin1Char('d') : dash) +
                           QStringLiteral(" before reset)."),
                       true});
    }
    return alerts;
}

std::optional<Alert> budgetAlert(const std::optional<ClaudeExtraUsage>& extra, const AppSettings& settings,
                                 const QDateTime& now)
{
    const double budget = settings.extraUsageBudgetGBP;
    if (!extra || !extra->enabled || !(budget > 0))
        return std::nullopt;
    const double ratio = extra->usedGBP / budget;
    // The account's own currency: the budget is read as an amount in it too.
    const QString prefix = NumberFormatting::currencyPrefix(extra->currency);
    const QString spent = std::isfinite(extra->usedGBP) ? prefix + fixed(extra->usedGBP, 2) : dash;
    const QString budgetText = prefix + truncated(budget, QString());
    if (ratio >= 1)
        return Alert{QStringLiteral("overage-100-") + dayNumber(now), budgetCooldownSeconds,
                     QStringLiteral("Overage budget reached"),
                     QStringLiteral("Claude overage spend is ") + spent +
                         QStringLiteral(" \u2014 at/over your ") + budgetText + QStringLiteral(" budget.")};
    if (ratio >= 0.8)
        return Alert{QStringLiteral("overage-80-") + dayNumber(now), budgetCooldownSeconds,
                     QStringLiteral("Overage budget at ") + percent(ratio * 100),
                     QStringLiteral("Claude overage spend is ") + spent + QStringLiteral(" of your ") +
                         budgetText + QStringLiteral(" budget.")};
    return std::nullopt;
}

std::optional<Alert> recapAlert(const QString& text, const QDateTime& now, const QTimeZone& zone)
{
    const QDateTime local = now.toTimeZone(zone);
    const int hour = local.time().hour();
    if (text.isEmpty() || local.date().dayOfWeek() != Qt::Sunday || hour < 18 || hour > 21)
        return std::nullopt;
    return Alert{QStringLiteral("weekly-recap-") + QString::number(local.date().weekNumber()),
                 recapCooldownSeconds, QStringLiteral("Your week in AI usage"), text};
}

QDateTime snoozeUntilTomorrow(const QDateTime& now, const QTimeZone& zone)
{
    // Calendar days, not 24 hours: on a 25-hour day "now + 1 day" lands late enough to skip a whole 09:00.
    const QDate tomorrow = now.toTimeZone(zone).date().addDays(1);
    QDateTime at(tomorrow, QTime(9, 0), zone);
    if (!at.isValid())
        at = tomorrow.startOfDay(zone).addSecs(9 * 3600);
    return at.toUTC();
}

} // namespace NotificationRules
