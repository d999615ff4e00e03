#include "ui/ChartMapping.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// A 200 × 100 plot at (30, 16): x runs 30..230, y 116 (0 %) up to 16 (the top of the range).
const QRectF plot(30, 16, 200, 100);
constexpr qint64 hour = 3'600'000;

TEST(ChartMapping, TimeAndPercentToPixels)
{
    struct Row
    {
        const char* name;
        qint64 first, last;
        std::optional<qint64> windowStart, reset, runOut;
        double highest;
        qint64 at;
        double percent;
        double maxPercent, x, y;
    };
    const Row rows[] = {
        // Points over the first 2 h of a 5-hour window: the reset sits on the right edge.
        {"reset marker", 0, 2 * hour, std::nullopt, 5 * hour, std::nullopt, 60, 5 * hour, 0, 120, 230, 116},
        {"last point", 0, 2 * hour, std::nullopt, 5 * hour, std::nullopt, 60, 2 * hour, 60, 120, 110, 66},
        {"run-out marker at 100 %", 0, 2 * hour, std::nullopt, 5 * hour, 4 * hour, 60, 4 * hour, 100, 120,
         190, 116 - 100.0 / 120 * 100},
        // A projection of 137 lifts the top to 150 (rounded up to tens), so it stays inside the plot.
        {"above 100", 0, 2 * hour, std::nullopt, 5 * hour, std::nullopt, 137, 5 * hour, 137, 150, 230,
         116 - 137.0 / 150 * 100},
        {"beyond the top is clamped", 0, 2 * hour, std::nullopt, 5 * hour, std::nullopt, 137, 5 * hour, 400,
         150, 230, 16},
        // A long window starts with the ideal-pace line at the window start, before the first point.
        {"window start", 2 * hour, 3 * hour, 0, 4 * hour, std::nullopt, 50, 0, 0, 120, 30, 116},
        // One point and no reset: a zero-length span puts it in the middle.
        {"single point", hour, hour, std::nullopt, std::nullopt, std::nullopt, 40, hour, 40, 120, 130,
         116 - 40.0 / 120 * 100},
        {"zero-length span", hour, hour, std::nullopt, hour, std::nullopt, 40, 9 * hour, 0, 120, 130, 116},
        // A run-out after the reset would still be on the chart (the span grows to hold it).
        {"run-out past reset", 0, hour, std::nullopt, 2 * hour, 4 * hour, 40, 2 * hour, 0, 120, 130, 116},
    };
    for (const Row& row : rows) {
        const ChartMapping m = ChartMapping::make(plot, row.first, row.last, row.windowStart, row.reset,
                                                  row.runOut, row.highest);
        EXPECT_DOUBLE_EQ(m.maxPercent, row.maxPercent) << row.name;
        EXPECT_NEAR(m.x(row.at), row.x, 1e-9) << row.name;
        EXPECT_NEAR(m.y(row.percent), row.y, 1e-9) << row.name;
    }
}

TEST(ChartMapping, PixelBackToTimeAndNonFiniteValues)
{
    const ChartMapping m = ChartMapping::make(plot, 0, 2 * hour, std::nullopt, 4 * hour, std::nullopt, 50);
    EXPECT_EQ(m.timeAt(130), 2 * hour);
    EXPECT_EQ(m.timeAt(-50), 0);
    EXPECT_EQ(m.timeAt(1000), 4 * hour);
    EXPECT_DOUBLE_EQ(m.y(std::nan("")), 116);
    EXPECT_DOUBLE_EQ(ChartMapping::make(plot, 0, 0, {}, {}, {}, std::nan("")).maxPercent, 120);
    EXPECT_EQ(ChartMapping::make(plot, hour, hour, {}, {}, {}, 0).timeAt(200), hour);
}

} // namespace
