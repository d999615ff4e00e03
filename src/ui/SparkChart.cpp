#include "ui/SparkChart.h"

#include "ui/PanelTheme.h"

#include <QPainter>

#include <algorithm>

SparkChart::SparkChart(Style style, QWidget* parent) : QWidget(parent), m_style(style)
{
    setFixedSize(sizeHint());
}

void SparkChart::setValues(const QList<qint64>& values, ColorRole role)
{
    m_values = values;
    m_role = role;
    update();
}

void SparkChart::paintEvent(QPaintEvent*)
{
    if (m_values.isEmpty())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qint64 highest = std::max<qint64>(1, *std::max_element(m_values.cbegin(), m_values.cend()));
    const QColor color = m_role == ColorRole::neutral ? palette().color(QPalette::Highlight)
                                                      : PanelTheme::color(m_role, palette());
    const QRectF area = QRectF(rect()).adjusted(2, 2, -2, -2);
    const auto count = static_cast<double>(m_values.size());
    const auto heightOf = [&](qint64 value) {
        return area.height() * static_cast<double>(std::max<qint64>(0, value)) / static_cast<double>(highest);
    };
    if (m_style == Style::bars) {
        const double slot = area.width() / count;
        const double barWidth = std::max(2.0, slot - 3);
        for (qsizetype i = 0; i < m_values.size(); ++i) {
            const double h = std::max(1.5, heightOf(m_values[i]));
            const QRectF bar(area.left() + static_cast<double>(i) * slot + (slot - barWidth) / 2,
                             area.bottom() - h, barWidth, h);
            painter.setPen(Qt::NoPen);
            painter.setBrush(i + 1 == m_values.size() ? color : PanelTheme::faded(color, 0.55));
            painter.drawRoundedRect(bar, 1.5, 1.5);
        }
        return;
    }
    QPolygonF line;
    const double step = m_values.size() > 1 ? area.width() / (count - 1) : 0;
    for (qsizetype i = 0; i < m_values.size(); ++i)
        line.append(
            QPointF(area.left() + static_cast<double>(i) * step, area.bottom() - heightOf(m_values[i])));
    painter.setPen(QPen(color, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPolyline(line);
    painter.setBrush(color);
    painter.drawEllipse(line.last(), 2, 2);
}
