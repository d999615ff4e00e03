#pragma once

#include "core/forecast/SleepSchedule.h"
#include "core/model/ForecastModels.h"
#include "core/model/UsageSnapshot.h"

#include <QDateTime>

#include <optional>

namespace PaceCalculator {

// A delta within this many points either side (inclusive) is on pace.
inline constexpr double onPaceBandPoints = 5;
// Fewer days than this to reset are counted as this many for the daily allowance.
inline constexpr double minimumDaysRemaining = 0.1;

// `snapshot` is the latest of the provider's long window; `sleep` counts only when present and enabled.
[[nodiscard]] PaceResult pace(const UsageSnapshot& snapshot, double dailyTargetPercent,
                              const std::optional<SleepSchedule>& sleep, const QDateTime& now);

} // namespace PaceCalculator
