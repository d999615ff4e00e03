#pragma once

#include "tui/ScreenLine.h"

#include <QDateTime>
#include <QList>

#include <optional>

// The focused window's range chart in character cells: the readings solid, the projection to the reset
// dotted, the 100 % line, the reset and run-out markers, percent labels on the left and times below.
namespace RangeChart {

struct Point
{
    qint64 ms = 0;
    double percent = 0;
};

struct Data
{
    // Ascending by time.
    QList<Point> points;
    std::optional<QDateTime> resetAt;
    std::optional<double> projectedAtReset;
    std::optional<QDateTime> runOutAt;
    // Long windows: where an even pace starts at 0 %.
    std::optional<QDateTime> windowStart;
    ForecastStatus status = ForecastStatus::noData;
};

// `rows` lines of exactly `columns` characters (the last one the time labels); braille dots in UTF-8,
// one character per point in ASCII. Nothing for fewer than 3 rows or 20 columns, or without points.
[[nodiscard]] QList<ScreenLine> render(const Data& data, int columns, int rows, Glyphs glyphs);

} // namespace RangeChart
