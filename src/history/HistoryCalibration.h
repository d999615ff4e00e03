#pragma once

#include "core/model/ForecastModels.h"
#include "core/model/UsageSnapshot.h"
#include "history/UsageTotals.h"

#include <QDateTime>

#include <optional>

// The long-window projection grounded in the user's own daily token volume: the percent each token of
// this window has cost so far, times an average day, over the (activity-weighted) days left.
namespace HistoryCalibration {

// Nothing unless the latest reading has a reset time, a positive length and a positive percentage, the
// window holds tokens, and the last 7 days have an average above 0. `effortScale` multiplies the burn.
[[nodiscard]] std::optional<CalibratedProjection> project(const UsageTotals& totals, Provider provider,
                                                          const UsageSnapshot& latest, double effortScale,
                                                          const QDateTime& now);

} // namespace HistoryCalibration
