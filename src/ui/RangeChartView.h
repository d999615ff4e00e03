#pragma once

#include "core/Enums.h"
#include "ui/ChartMapping.h"

#include <QDateTime>
#include <QList>
#include <QWidget>

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

    friend bool operator==(const RangeChartData&, const RangeChartData&) = default;
};

// Percent used over time: the actual line with a soft fill, the dashed forecast to the reset, the dotted
// ideal pace, the 100 % limit and the "out" and "reset" markers. Paints only when its data or size changes,
// or while the pointer moves over it (the readout of the nearest point).
class RangeChartView : public QWidget
{
    Q_OBJECT
public:
    explicit RangeChartView(QWidget* parent = nullptr);

    // Repaints only when the data differs.
    void setData(const RangeChartData& data);
    [[nodiscard]] const RangeChartData& data() const { return m_data; }
    // The text of the readout for the point nearest to a horizontal position, e.g. "14:05 · 42% used".
    [[nodiscard]] QString readoutAt(double pixelX) const;
    // Whether the dashed projection to the reset is drawn.
    [[nodiscard]] bool drawsForecast() const;
    [[nodiscard]] int paintCount() const { return m_paints; }

    QSize sizeHint() const override { return {400, 170}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    [[nodiscard]] QRectF plotRect() const;
    [[nodiscard]] ChartMapping mapping() const;
    [[nodiscard]] qsizetype nearestIndex(double pixelX) const;

    RangeChartData m_data;
    std::optional<double> m_hoverX;
    int m_paints = 0;
};
