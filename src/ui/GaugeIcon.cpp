#include "ui/GaugeIcon.h"

#include <QFont>
#include <QFontMetricsF>
#include <QLinearGradient>
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
const QColor ink(0xf2, 0xf5, 0xfa);
// The tile's colours, those of the application icon.
const QColor tileTop(0x2b, 0x3a, 0x55);
const QColor tileBottom(0x14, 0x1c, 0x2b);

QPointF onDial(const QPointF& centre, double radius, double fraction)
{
    const double radians = (dialStartDegrees - fraction * dialSpanDegrees) * std::numbers::pi / 180.0;
    return {centre.x() + radius * std::cos(radians), centre.y() - radius * std::sin(radians)};
}

// Whatever the tray's colour, the marks sit on a dark tile of their own: the tile stands out on a light bar,
// the light and coloured marks on a dark one.
void drawTile(QPainter& painter, double size)
{
    QLinearGradient face(0, 0, 0, size);
    face.setColorAt(0, tileTop);
    face.setColorAt(1, tileBottom);
    painter.setPen(Qt::NoPen);
    painter.setBrush(face);
    const double radius = size * 0.22;
    painter.drawRoundedRect(QRectF(0, 0, size, size), radius, radius);
}

void drawGauge(QPainter& painter, double size, ForecastStatus status, bool compact)
{
    const QPointF centre(size / 2, compact ? size * 0.38 : size * 0.52);
    const double radius = compact ? size * 0.25 : size * 0.34;
    const double line = std::max(1.5, size * (compact ? 0.075 : 0.09));

    QPainterPath dial;
    const QRectF bounds(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    dial.arcMoveTo(bounds, dialStartDegrees);
    dial.arcTo(bounds, dialStartDegrees, -dialSpanDegrees);
    painter.strokePath(dial, QPen(ink, line, Qt::SolidLine, Qt::RoundCap));

    // Dots inside the rim at 0, 25, 50, 75 and 100 %, where they stay distinct.
    if (!compact && size >= 22) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(ink);
        for (int i = 0; i <= 4; ++i)
            painter.drawEllipse(onDial(centre, radius * 0.6, i / 4.0), line * 0.4, line * 0.4);
    }

    const double fraction = needleFraction(status).value_or(0);
    QPainterPath needle;
    needle.moveTo(centre);
    needle.lineTo(onDial(centre, radius * 0.85, fraction));
    painter.strokePath(needle, QPen(statusColor(status), line * 1.1, Qt::SolidLine, Qt::RoundCap));
    painter.setPen(Qt::NoPen);
    painter.setBrush(ink);
    painter.drawEllipse(centre, line * 0.85, line * 0.85);
}

void drawTriangle(QPainter& painter, double size, bool compact)
{
    const double pad = size * 0.12;
    const double top = pad;
    const double bottom = compact ? size * 0.56 : size - pad;
    const double height = bottom - top;
    const double halfWidth = std::min(size / 2 - pad, height / std::sqrt(3.0));
    QPainterPath triangle;
    triangle.moveTo(size / 2, top);
    triangle.lineTo(size / 2 + halfWidth, bottom);
    triangle.lineTo(size / 2 - halfWidth, bottom);
    triangle.closeSubpath();
    painter.setPen(QPen(statusColor(ForecastStatus::limited), std::max(1.0, size / 20), Qt::SolidLine,
                        Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(statusColor(ForecastStatus::limited));
    painter.drawPath(triangle);

    const double bar = std::max(1.5, size / 12);
    painter.setPen(Qt::NoPen);
    painter.setBrush(ink);
    const double x = size / 2 - bar / 2;
    painter.drawRoundedRect(QRectF(x, top + height * 0.3, bar, height * 0.38), bar / 2, bar / 2);
    painter.drawEllipse(QPointF(size / 2, top + height * 0.82), bar * 0.6, bar * 0.6);
}

// Solid light digits across the lower part of the tile.
void drawFigure(QPainter& painter, double size, const QString& figure)
{
    QFont font;
    font.setBold(true);
    font.setPixelSize(std::max(7, int(size * 0.46)));
    QFontMetricsF metrics(font);
    const double room = size - std::max(2.0, size * 0.1);
    // Shrink until the figure fits the tile's width.
    while (metrics.horizontalAdvance(figure) > room && font.pixelSize() > 6) {
        font.setPixelSize(font.pixelSize() - 1);
        metrics = QFontMetricsF(font);
    }
    const QRectF band(0, size * 0.6, size, size * 0.4);
    QPainterPath text;
    const double width = metrics.horizontalAdvance(figure);
    const double baseline = band.center().y() + (metrics.ascent() - metrics.descent()) / 2;
    text.addText(QPointF((size - width) / 2, baseline), font, figure);
    painter.fillPath(text, ink);
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
    drawTile(painter, edge);
    if (shape(status) == Shape::warningTriangle)
        drawTriangle(painter, edge, withFigure);
    else
        drawGauge(painter, edge, status, withFigure);
    if (withFigure)
        drawFigure(painter, edge, shown);
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
