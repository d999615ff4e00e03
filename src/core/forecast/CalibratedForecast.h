#pragma once

#include "core/model/Enums.h"
#include "core/model/ForecastModels.h"

#include <QDateTime>
#include <QString>

#include <optional>

// The long-window rules that need no usage history: applying a calibrated projection, the weekly
// status rule, the headroom label and the confidence texts.
namespace CalibratedForecast {

// Replaces the projection of a long-window forecast made with the `smart` basis; any other forecast
// comes back unchanged. The run-out lies where the line from the current figure at `now` to the projection
// at the reset crosses 100 %.
[[nodiscard]] ForecastResult apply(const ForecastResult& forecast, const CalibratedProjection& projection,
                                   const QDateTime& now);

// The status of a long window: limited at 100 % used, otherwise by the projection (or current usage):
// >= 100 risky, >= 95 watch, else safe.
[[nodiscard]] ForecastStatus weeklyStatus(const ForecastResult& forecast);
// The forecast with its status replaced by weeklyStatus.
[[nodiscard]] ForecastResult applyWeeklyStatus(const ForecastResult& forecast);

// "~2.2 days of your usual usage left", "~12h of your usual usage left"; absent unless the daily
// burn exceeds 0.1 % and the headroom is finite.
[[nodiscard]] std::optional<QString> headroomLabel(const CalibratedProjection& projection);

// "low confidence", "medium confidence", "high confidence".
[[nodiscard]] QString confidenceLabel(SourceConfidence confidence);
[[nodiscard]] QString confidenceExplanation(SourceConfidence confidence);

} // namespace CalibratedForecast
