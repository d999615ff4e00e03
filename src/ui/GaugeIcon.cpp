#include "platform/GaugeIcon.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace GaugeIcon {
namespace {

// The dial spans 270 degrees: from the lower left (0 %) over the top to the lower right (100 %).
constexpr double dialStartDegrees = 225;
constexpr double dialSpanDegrees = 270;
const QColor ink(0xf2, 0xf2, 0xf2);
const QColor outline(0x20, 0x20, 0x20, 200);

QPointF onDial(const QPointF& centre, double radius, double fraction)
{
    const double radians = (dialStartDegrees - fraction * dialSpanDegrees) * std::numbers::pi / 180.0;
    return {centre.x() + radius * std::cos(radians), centre.y() - radius * std::sin(radians)};
}

// Light strokes with a dark rim read on both dark and light panels.
void strokeTwice(QPainter& painter, const QPainterPath& path, double width, const QColor& colour)
{
    painter.strokePath(path, QPen(outline, width + std::max(1.5, width * 0.6), Qt::SolidLine, Qt::RoundCap));
    painter.strokePath(path, QPen(colour, width, Qt::SolidLine, Qt::RoundCap));
}

void drawGauge(QPainter& painter, double size, ForecastStatus status, bool compact)
{
    const double pad = size * 0.1;
    const QPointF centre(size / 2, compact ? size * 0.42 : size / 2);
    const double radius = (compact ? size * 0.4 : size / 2) - pad;
    const double line = std::max(1.2, size / 14);

    QPainterPath dial;
    const QRectF bounds(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    dial.arcMoveTo(bounds, dialStartDegrees);
    dial.arcTo(bounds, dialStartDegrees, -dialSpanDegrees);
    strokeTwice(painter, dial, line, ink);

    // Dots inside the rim at 0, 25, 50, 75 and 100 %, from size 22 up where they stay distinct.
    if (size >= 22) {
        for (int i = 0; i <= 4; ++i) {
            const QPointF dot = onDial(centre, radius * 0.68, i / 4.0);
            painter.setPen(Qt::NoPen);
            painter.setBrush(outline);
            painter.drawEllipse(dot, line * 0.75, line * 0.75);
            painter.setBrush(ink);
            painter.drawEllipse(dot, line * 0.45, line * 0.45);
        }
    }

    const double fraction = needleFraction(status).value_or(0);
    QPainterPath needle;
    needle.moveTo(centre);
    needle.lineTo(onDial(centre, radius * 0.78, fraction));
    strokeTwice(painter, needle, line * 1.1, statusColor(status));
    painter.setPen(QPen(outline, 1));
    painter.setBrush(ink);
    painter.drawEllipse(centre, line * 1.1, line * 1.1);
}

void drawTriangle(QPainter& painter, double size, bool compact)
{
    const double pad = size * 0.08;
    const double bottom = compact ? size * 0.62 : size - pad;
    const double height = bottom - pad;
    const double halfWidth = std::min(size / 2 - pad, height / std::sqrt(3.0));
    QPainterPath triangle;
    triangle.moveTo(size / 2, pad);
    triangle.lineTo(size / 2 + halfWidth, bottom);
    triangle.lineTo(size / 2 - halfWidth, bottom);
    triangle.closeSubpath();
    painter.setPen(QPen(outline, std::max(1.0, size / 24), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(statusColor(ForecastStatus::limited));
    painter.drawPath(triangle);

    const double bar = std::max(1.5, size / 12);
    painter.setPen(Qt::NoPen);
    painter.setBrush(ink);
    const double x = size / 2 - bar / 2;
    painter.drawRoundedRect(QRectF(x, pad + height * 0.3, bar, height * 0.38), bar / 2, bar / 2);
    painter.drawEllipse(QPointF(size / 2, pad + height * 0.82), bar * 0.6, bar * 0.6);
}

void drawFigure(QPainter& painter, double size, const QString& figure, ForecastStatus status)
{
    QFont font;
    font.setBold(true);
    font.setPixelSize(std::max(7, int(size * 0.5)));
    QFontMetricsF metrics(font);
    const QRectF band(0, size * 0.5, size, size * 0.5);
    // Shrink until the figure fits the icon's width.
    while (metrics.horizontalAdvance(figure) > size - 2 && font.pixelSize() > 6) {
        font.setPixelSize(font.pixelSize() - 1);
        metrics = QFontMetricsF(font);
    }
    QPainterPath text;
    const double width = metrics.horizontalAdvance(figure);
    const double baseline = band.center().y() + (metrics.ascent() - metrics.descent()) / 2;
    text.addText(QPointF((size - width) / 2, baseline), font, figure);
    painter.strokePath(text,
                       QPen(outline, std::max(1.5, size / 14), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.fillPath(
        text, status == ForecastStatus::noData || status == ForecastStatus::unknown ? ink : ink.lighter());
}

} // namespace

std::optional<double> needleFraction(ForecastStatus status)
{
    switch (status) {
    case ForecastStatus::noData:
    case ForecastStatus::unknown:
        return 0.0;
    case ForecastStatus::safe:
        return 0.67;
    case ForecastStatus::watch:
        return 0.5;
    case ForecastStatus::risky:
    case ForecastStatus::limitLikely:
        return 1.0;
    case ForecastStatus::limited:
        return std::nullopt;
    }
    return 0.0;
}

Shape shape(ForecastStatus status)
{
    return status == ForecastStatus::limited ? Shape::warningTriangle : Shape::gauge;
}

QColor statusColor(ForecastStatus status)
{
    switch (colorRole(status)) {
    case ColorRole::safe:
        return QColor(0x34, 0xc7, 0x59);
    case ColorRole::watch:
        return QColor(0xff, 0xcc, 0x00);
    case ColorRole::risky:
        return QColor(0xff, 0x95, 0x00);
    case ColorRole::limited:
        return QColor(0xff, 0x3b, 0x30);
    case ColorRole::neutral:
        break;
    }
    return QColor(0xb0, 0xb0, 0xb0);
}

QImage render(ForecastStatus status, int size, const QString& figure)
{
    const int edge = std::clamp(size, 16, 64);
    QImage image(edge, edge, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QString shown = figure.left(3);
    const bool withFigure = !shown.isEmpty();
    if (shape(status) == Shape::warningTriangle)
        drawTriangle(painter, edge, withFigure);
    else
        drawGauge(painter, edge, status, withFigure);
    if (withFigure)
        drawFigure(painter, edge, shown, status);
    painter.end();
    return image;
}

QIcon icon(ForecastStatus status, const QString& figure)
{
    QIcon result;
    for (int size : sizes)
        result.addPixmap(QPixmap::fromImage(render(status, size, figure)));
    return result;
}

} // namespace GaugeIcon
