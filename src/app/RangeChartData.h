#pragma once

#include "app/ForecastBundle.h"
#include "core/model/Enums.h"
#include "core/model/ForecastModels.h"

#include <QDateTime>
#include <QList>

#include <optional>

// What the range chart draws: one window's usage so far and where it heads.
struct RangeChartData
{
    struct Point
    {
        qint64 ms = 0;
        double percent = 0;
        friend bool operator==(const Point&, const Point&) = default;
    };
    // Ascending by time.
    QList<Point> points;
    std::optional<QDateTime> resetAt;
    std::optional<double> projectedAtReset;
    std::optional<QDateTime> runOutAt;
    // Long windows with a known duration: the ideal-pace line starts here at 0 % and ends at the reset at 100
    // %.
    std::optional<QDateTime> windowStart;
    ForecastStatus status = ForecastStatus::noData;
    // The clock labels say their day when it is not this one.
    QDateTime now;

    // The window of `forecast` as the published cycle holds it: the readings of its current window (or at
    // least the latest one) and the forecast's reset, projection and run-out.
    [[nodiscard]] static RangeChartData of(const ForecastBundle& bundle, const ForecastResult& forecast,
                                           const QDateTime& now);
    // The same for another account's window, from its readings (AccountForecasts::readings).
    [[nodiscard]] static RangeChartData of(const QList<UsageSnapshot>& readings,
                                           const ForecastResult& forecast, const QDateTime& now);
    // Where the window of `forecast` began, as its newest reading's duration tells; absent without one.
    [[nodiscard]] static std::optional<QDateTime>
    currentWindowStart(const ForecastResult& forecast, const std::optional<UsageSnapshot>& latest);

    friend bool operator==(const RangeChartData&, const RangeChartData&) = default;
};
