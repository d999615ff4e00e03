#pragma once

#include "app/RangeChartData.h"
#include "core/model/Enums.h"
#include "ui/ChartMapping.h"

#include <QDateTime>
#include <QList>
#include <QWidget>

#include <optional>

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
