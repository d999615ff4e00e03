#pragma once

#include "core/model/Enums.h"
#include "core/model/UsageSnapshot.h"

#include <QDateTime>
#include <QList>

#include <optional>
#include <span>

namespace BurnRateCalculator {

struct BurnRate
{
    // Points of the window per hour; may be zero or negative.
    double percentPerHour = 0;
    qint64 sampleCount = 0;
    double spanHours = 0;
    // The concrete look-back that produced the rate (for `smart`, the one that succeeded).
    ForecastBasis basisUsed = ForecastBasis::last1h;

    friend bool operator==(const BurnRate& a, const BurnRate& b);
};

// Below this span (hours) two samples are too close to give a rate.
inline constexpr double minimumSpanHours = 0.01;
// A fall of more than this many points between neighbours is a reset.
inline constexpr double resetDropPoints = 12;
// A reset time that moves by more than this many seconds belongs to a new window.
inline constexpr double resetShiftSeconds = 600;

// The suffix of an ascending-by-time series that belongs to the current quota window.
[[nodiscard]] QList<UsageSnapshot> latestSeries(const QList<UsageSnapshot>& series);

// The look-back of a fixed basis in seconds; absent for `sinceWindowStart` and `smart`.
[[nodiscard]] std::optional<double> lookBackSeconds(ForecastBasis basis);

// The rate over `basis`, anchored on the latest snapshot's time (not on `now`). The series must be
// ascending and already cut by latestSeries. Absent when no rate can be measured.
[[nodiscard]] std::optional<BurnRate> burnRate(const QList<UsageSnapshot>& series, ForecastBasis basis,
                                               const QDateTime& now);

// The same two operations over a view of snapshots owned elsewhere, so that a long series is never
// copied: the index where the current window starts, and the rate over an ascending view.
[[nodiscard]] qsizetype latestSeriesStart(std::span<const UsageSnapshot* const> series);
[[nodiscard]] std::optional<BurnRate> burnRate(std::span<const UsageSnapshot* const> series,
                                               ForecastBasis basis);

} // namespace BurnRateCalculator
