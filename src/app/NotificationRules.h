#pragma once

#include "app/ForecastBundle.h"
#include "core/model/AppSettings.h"
#include "core/model/Enums.h"
#include "core/model/ForecastModels.h"
#include "providers/claude/ClaudeUsageAnswer.h"

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QString>
#include <QTimeZone>

#include <optional>
#include <utility>

// Which alerts a cycle's results call for, with their keys, cooldowns and texts. Pure: the notification
// manager adds the memory of what already fired and the delivery.
namespace NotificationRules {

inline constexpr double runOutCooldownSeconds = 64'800;
inline constexpr double budgetCooldownSeconds = 64'800;
inline constexpr double recapCooldownSeconds = 21'600;

struct Alert
{
    QString key;
    double cooldownSeconds = 0;
    QString title;
    QString body;
    bool critical = false;

    friend bool operator==(const Alert&, const Alert&) = default;
};

// No alert while alerts are off, in demo mode, or snoozed at `now`.
[[nodiscard]] bool silenced(const AppSettings& settings, const QDateTime& now);

// The 5-hour usage, burn-rate and time-to-limit alerts of every five-hour forecast (in list order), then
// those of the other accounts of enabled assistants, named as their cards are ("Claude Code · work"); then
// the weekly projection and pace alerts of every pace.
[[nodiscard]] QList<Alert> forecastAlerts(const QList<ForecastResult>& forecasts,
                                          const QList<std::pair<Provider, PaceResult>>& paces,
                                          const AppSettings& settings,
                                          const QList<AccountForecasts>& accounts = {});
// Providers whose usual daily usage uses the long window up well before it resets; dates in `zone`.
[[nodiscard]] QList<Alert> runOutAlerts(const QMap<Provider, CalibratedProjection>& calibrated,
                                        const QDateTime& now, const QTimeZone& zone);
// At most one: spend at 100 % of the budget, else at 80 %.
[[nodiscard]] std::optional<Alert> budgetAlert(const std::optional<ClaudeExtraUsage>& extra,
                                               const AppSettings& settings, const QDateTime& now);
// Only on Sunday from 18:00 to 21:59 in `zone`.
[[nodiscard]] std::optional<Alert> recapAlert(const QString& text, const QDateTime& now,
                                              const QTimeZone& zone);

// "Until tomorrow": 09:00 on the next calendar day in `zone`, whatever the length of the days between.
[[nodiscard]] QDateTime snoozeUntilTomorrow(const QDateTime& now, const QTimeZone& zone);

} // namespace NotificationRules
