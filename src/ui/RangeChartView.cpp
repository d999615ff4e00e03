#include "ui/RangeChartView.h"

#include "core/text/NumberFormatting.h"
#include "core/text/TimeFormatting.h"
#include "ui/PanelTheme.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

constexpr double gutter = 30;
constexpr double topRoom = 16;
constexpr double bottomRoom = 18;

} // namespace

RangeChartView::RangeChartView(QWidget* parent) : QWidget(parent)
{
    setFixedHeight(170);
    setMouseTracking(true);
    setAccessibleName(QStringLiteral("Range chart"));
}

void RangeChartView::setData(const RangeChartData& data)
{
    if (data == m_data)
        return;
    m_data = data;
    update();
}

QRectF RangeChartView::plotRect() const
{
    return QRectF(gutter, topRoom, std::max(1.0, width() - gutter - 6),
                  std::max(1.0, height() - topRoom - bottomRoom));
}

ChartMapping RangeChartView::mapping() const
{
    qint64 first = 0;
    qint64 last = 0;
    double highest = 100;
    if (!m_data.points.isEmpty()) {
        first = m_data.points.first().ms;
        last = m_data.points.last().ms;
        for (const auto& point : m_data.points)
            highest = std::max(highest, point.percent);
    } else if (m_data.resetAt) {
        first = last = m_data.resetAt->toMSecsSinceEpoch();
    }
    if (m_data.projectedAtReset)
        highest = std::max(highest, *m_data.projectedAtReset);
    const auto ms = [](const std::optional<QDateTime>& date) {
        return date ? std::optional<qint64>(date->toMSecsSinceEpoch()) : std::nullopt;
    };
    return ChartMapping::make(plotRect(), first, last, ms(m_data.windowStart), ms(m_data.resetAt),
                              ms(m_data.runOutAt), highest);
}

qsizetype RangeChartView::nearestIndex(double pixelX) const
{
    if (m_data.points.isEmpty())
        return -1;
    const qint64 at = mapping().timeAt(pixelX);
    const auto it = std::lower_bound(m_data.points.cbegin(), m_data.points.cend(), at,
                                     [](const RangeChartData::Point& p, qint64 t) { return p.ms < t; });
    qsizetype index = it - m_data.points.cbegin();
    if (index == m_data.points.size() ||
        (index > 0 && at - m_data.points[index - 1].ms <= m_data.points[index].ms - at))
        --index;
    return index;
}

QString RangeChartView::readoutAt(double pixelX) const
{
    const qsizetype index = nearestIndex(pixelX);
    if (index < 0)
        return {};
    const auto& point = m_data.points[index];
    return mapping().timeLabel(point.ms) + QStringLiteral(" · ") + NumberFormatting::percent(point.percent) +
           QStringLiteral(" used");
}

bool RangeChartView::drawsForecast() const
{
    // A projection continues real readings and never heads down: used quota does not come back before the
    // reset.
    return !m_data.points.isEmpty() && m_data.resetAt && m_data.projectedAtReset &&
           std::isfinite(*m_data.projectedAtReset) &&
           *m_data.projectedAtReset >= m_data.points.last().percent;
}

void RangeChartView::mouseMoveEvent(QMouseEvent* event)
{
    m_hoverX = event->position().x();
    update();
}

void RangeChartView::leaveEvent(QEvent*)
{
    if (m_hoverX) {
        m_hoverX.reset();
        update();
    }
}

void RangeChartView::paintEvent(QPaintEvent*)
{
    ++m_paints;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette& pal = palette();
    const ChartMapping map = mapping();
    const QRectF plot = map.plot;
    const qreal dpr = devicePixelRatioF();
    // A 1-px line centred on a device pixel stays sharp at any scale factor.
    const auto crisp = [dpr](double v) { return (std::floor(v * dpr) + 0.5) / dpr; };
    const QColor text = pal.color(QPalette::Text);
    const QColor muted = pal.color(QPalette::PlaceholderText);
    const QColor neutral = PanelTheme::color(ColorRole::neutral, pal);
    const QColor status = PanelTheme::statusColor(m_data.status, pal);
    const QColor limited = PanelTheme::color(ColorRole::limited, pal);
    QFont small = PanelTheme::font(font(), 0.8);
    painter.setFont(small);
    const QFontMetricsF metrics(small);

    // Grid and whole-number ticks.
    for (const int tick : {0, 50, 100}) {
        const double y = crisp(map.y(tick));
        if (tick != 100) {
            painter.setPen(QPen(PanelTheme::faded(pal.color(QPalette::Mid), 0.35), 1));
            painter.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
        }
        painter.setPen(muted);
        painter.drawText(QRectF(0, y - metrics.height() / 2, gutter - 6, metrics.height()),
                         Qt::AlignRight | Qt::AlignVCenter, QString::number(tick));
    }
    // The limit.
    painter.setPen(QPen(limited, 1, Qt::DashLine));
    painter.drawLine(QPointF(plot.left(), crisp(map.y(100))), QPointF(plot.right(), crisp(map.y(100))));

    // The axis says what it plots, whichever way the numbers around it read.
    painter.setPen(muted);
    painter.drawText(QRectF(0, 0, gutter + 40, topRoom - 2), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("% used"));

    // Time labels under the plot, spread over the span: as many as fit side by side.
    if (!m_data.points.isEmpty() || m_data.resetAt) {
        painter.setPen(muted);
        const double widest = metrics.horizontalAdvance(map.timeLabel(map.startMs)) + 16;
        const int fit = std::clamp(static_cast<int>(plot.width() / widest), 2, 5);
        const QList<qint64> ticks = map.timeTicks(fit);
        for (qsizetype i = 0; i < ticks.size(); ++i) {
            const double x = map.x(ticks[i]);
            const QString label = map.timeLabel(ticks[i]);
            const double w = metrics.horizontalAdvance(label);
            const double left = i == 0 ? plot.left() : i + 1 == ticks.size() ? plot.right() - w : x - w / 2;
            painter.drawText(QRectF(left, plot.bottom() + 3, w, metrics.height()), Qt::AlignCenter, label);
        }
    }

    // Ideal pace.
    if (m_data.windowStart && m_data.resetAt) {
        painter.setPen(QPen(neutral, 1, Qt::DotLine));
        painter.drawLine(map.map(m_data.windowStart->toMSecsSinceEpoch(), 0),
                         map.map(m_data.resetAt->toMSecsSinceEpoch(), 100));
    }

    // Actual usage, one vertex per device pixel column at most.
    if (!m_data.points.isEmpty()) {
        QPolygonF line;
        line.reserve(
            std::min<qsizetype>(m_data.points.size(), static_cast<qsizetype>(plot.width() * dpr) + 2));
        for (const auto& point : m_data.points) {
            const QPointF p = map.map(point.ms, point.percent);
            if (!line.isEmpty() && std::abs(line.last().x() - p.x()) * dpr < 0.5)
                line.last() = p;
            else
                line.append(p);
        }
        if (line.size() > 1) {
            QPolygonF area = line;
            area.append(QPointF(line.last().x(), plot.bottom()));
            area.append(QPointF(line.first().x(), plot.bottom()));
            painter.setPen(Qt::NoPen);
            painter.setBrush(PanelTheme::faded(status, 0.12));
            painter.drawPolygon(area);
        }
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(status, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        if (line.size() > 1)
            painter.drawPolyline(line);
        painter.setBrush(status);
        painter.drawEllipse(line.last(), 2.5, 2.5);
        painter.setBrush(Qt::NoBrush);

        // Forecast to the reset.
        if (drawsForecast()) {
            painter.setPen(QPen(status, 2, Qt::DashLine, Qt::RoundCap));
            painter.drawLine(line.last(),
                             map.map(m_data.resetAt->toMSecsSinceEpoch(), *m_data.projectedAtReset));
        }
    }

    // Markers: a 1-px vertical line with a small label above the plot.
    std::optional<QRectF> resetLabel;
    if (m_data.resetAt) {
        const double x = crisp(map.x(m_data.resetAt->toMSecsSinceEpoch()));
        painter.setPen(QPen(neutral, 1));
        painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        const QString label = QStringLiteral("reset");
        const double w = metrics.horizontalAdvance(label);
        QRectF box(std::clamp(x - w / 2, 0.0, width() - w), 0, w, topRoom - 2);
        painter.setPen(muted);
        painter.drawText(box, Qt::AlignCenter, label);
        resetLabel = box;
    }
    if (m_data.runOutAt) {
        const double x = crisp(map.x(m_data.runOutAt->toMSecsSinceEpoch()));
        painter.setPen(QPen(limited, 1));
        painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        const QString label = QStringLiteral("out ") + TimeFormatting::clock(m_data.runOutAt, m_data.now);
        const double w = metrics.horizontalAdvance(label);
        QRectF box(std::clamp(x - w / 2, 0.0, width() - w), 0, w, topRoom - 2);
        // Keep clear of the reset label.
        if (resetLabel && box.intersects(*resetLabel))
            box.moveRight(resetLabel->left() - 6);
        painter.setPen(limited);
        painter.drawText(box, Qt::AlignCenter, label);
    }

    // Hover readout.
    if (m_hoverX) {
        const qsizetype index = nearestIndex(*m_hoverX);
        if (index >= 0) {
            const auto& point = m_data.points[index];
            const QPointF p = map.map(point.ms, point.percent);
            painter.setPen(QPen(PanelTheme::faded(text, 0.4), 1));
            painter.drawLine(QPointF(crisp(p.x()), plot.top()), QPointF(crisp(p.x()), plot.bottom()));
            painter.setBrush(status);
            painter.setPen(QPen(pal.color(QPalette::Base), 1.5));
            painter.drawEllipse(p, 3.5, 3.5);
            const QString readout = readoutAt(*m_hoverX);
            const double w = metrics.horizontalAdvance(readout) + 10;
            const QRectF box(plot.left() + 4, plot.top() + 4, w, metrics.height() + 4);
            painter.setPen(Qt::NoPen);
            painter.setBrush(PanelTheme::faded(pal.color(QPalette::Base), 0.92));
            painter.drawRoundedRect(box, 4, 4);
            painter.setPen(text);
            painter.drawText(box, Qt::AlignCenter, readout);
        }
    }
}
