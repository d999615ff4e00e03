#pragma once

#include <QList>
#include <QPointF>
#include <QRectF>
#include <QString>

#include <optional>

// Where a (time, percent used) point lands in the range chart's plot rectangle. Times are milliseconds since
// the epoch; percent 0 sits on the bottom edge and `maxPercent` on the top.
struct ChartMapping
{
    qint64 startMs = 0;
    qint64 endMs = 0;
    double maxPercent = 120;
    QRectF plot;

    // The span from the first of the window start and the first point to the last of the reset, the run-out
    // and the last point; the height from 0 to max(120, the highest value + 10), rounded up to tens.
    static ChartMapping make(const QRectF& plot, qint64 firstPointMs, qint64 lastPointMs,
                             std::optional<qint64> windowStartMs, std::optional<qint64> resetMs,
                             std::optional<qint64> runOutMs, double highestPercent);

    // A zero-length span puts every time in the middle; percents outside 0..maxPercent are clamped to the
    // plot's edges so that nothing is drawn outside it.
    [[nodiscard]] double x(qint64 ms) const;
    [[nodiscard]] double y(double percent) const;
    [[nodiscard]] QPointF map(qint64 ms, double percent) const { return {x(ms), y(percent)}; }
    // The time under a horizontal pixel position (the start for a zero-length span).
    [[nodiscard]] qint64 timeAt(double pixelX) const;

    // Whether the span covers more than a day: times then carry the day.
    [[nodiscard]] bool spansDays() const { return endMs - startMs > 24LL * 3600 * 1000; }
    // `count` times spread evenly from the start to the end (only the start for a zero-length span).
    [[nodiscard]] QList<qint64> timeTicks(int count) const;
    // A local time as the axis and the readout show it: "14:05", or "Fri 4, 14:05" over several days.
    [[nodiscard]] QString timeLabel(qint64 ms) const;
};
