#pragma once

#include "app/RangeChartData.h"
#include "tui/ScreenLine.h"

#include <QDateTime>
#include <QList>

#include <optional>

// The focused window's range chart in character cells: the readings solid, the projection to the reset
// dotted, the 100 % line, the reset and run-out markers, percent labels on the left and times below.
namespace RangeChart {

using Data = RangeChartData;
using Point = RangeChartData::Point;

// `rows` lines of exactly `columns` characters (the last one the time labels); braille dots in UTF-8,
// one character per point in ASCII. Nothing for fewer than 3 rows or 20 columns, or without points.
[[nodiscard]] QList<ScreenLine> render(const Data& data, int columns, int rows, Glyphs glyphs);

} // namespace RangeChart
