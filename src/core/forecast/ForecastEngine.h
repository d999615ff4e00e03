#pragma once

#include "core/forecast/SleepSchedule.h"
#include "core/model/Enums.h"
#include "core/model/ForecastModels.h"
#include "core/model/UsageSnapshot.h"

#include <QDateTime>
#include <QList>

#include <optional>

namespace ForecastEngine {

// Rates at or below this many points per hour count as idle.
inline constexpr double idleRatePercentPerHour = 0.01;
// Projections are clamped to 0...this.
inline constexpr double maximumProjectedPercent = 140;

// One provider's window: `snapshots` in any order; `sleep` is honoured only when present and enabled.
[[nodiscard]] ForecastResult forecast(Provider provider, WindowKind window,
                                      const QList<UsageSnapshot>& snapshots, ForecastBasis basis,
                                      const std::optional<SleepSchedule>& sleep, const QDateTime& now);

// n >= 24 high, 5...23 medium, otherwise low.
[[nodiscard]] SourceConfidence confidenceForSampleCount(qint64 sampleCount);

// Where the straight line from (from, current) to (resetAt, projected) crosses 100 %; absent unless
// projected > 100, current < 100 and current < projected.
[[nodiscard]] std::optional<QDateTime> runOutAt(double current, double projected, const QDateTime& from,
                                                const QDateTime& resetAt);

} // namespace ForecastEngine
