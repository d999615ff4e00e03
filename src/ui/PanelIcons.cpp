#include "ui/PanelIcons.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace PanelIcons {
namespace {

// Every symbol is drawn on a 16 × 16 grid and scaled.
void draw(QPainter& p, Symbol symbol, const QColor& color)
{
    QPen pen(color, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    switch (symbol) {
    case Symbol::gauge: {
        p.drawArc(QRectF(1.5, 3, 13, 13), 0, 180 * 16);
        p.drawLine(QPointF(8, 9.5), QPointF(11.5, 5.5));
        p.setBrush(color);
        p.drawEllipse(QPointF(8, 9.5), 1.2, 1.2);
        break;
    }
    case Symbol::refresh: {
        p.drawArc(QRectF(2.5, 2.5, 11, 11), 60 * 16, 300 * 16);
        QPainterPath head;
        head.moveTo(10.2, 1.2);
        head.lineTo(11.3, 3.7);
        head.lineTo(8.6, 4.4);
        p.drawPath(head);
        break;
    }
    case Symbol::sliders:
        for (int i = 0; i < 3; ++i) {
            const double y = 3.5 + i * 4.5;
            const double knob = i == 1 ? 10.5 : 5.5;
            p.drawLine(QPointF(1.5, y), QPointF(14.5, y));
            p.setBrush(color);
            p.drawEllipse(QPointF(knob, y), 1.6, 1.6);
            p.setBrush(Qt::NoBrush);
        }
        break;
    case Symbol::moon: {
        QPainterPath moon;
        moon.addEllipse(QRectF(2, 2, 12, 12));
        QPainterPath bite;
        bite.addEllipse(QRectF(6, 0, 11, 11));
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        p.drawPath(moon.subtracted(bite));
        break;
    }
    case Symbol::wand:
        p.drawLine(QPointF(2, 14), QPointF(10, 6));
        p.drawLine(QPointF(12, 1.5), QPointF(12, 4.5));
        p.drawLine(QPointF(10.5, 3), QPointF(13.5, 3));
        p.drawLine(QPointF(5, 2), QPointF(5, 4));
        p.drawLine(QPointF(4, 3), QPointF(6, 3));
        p.drawLine(QPointF(13, 9), QPointF(13, 11));
        p.drawLine(QPointF(12, 10), QPointF(14, 10));
        break;
    case Symbol::check: {
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        p.drawEllipse(QRectF(1, 1, 14, 14));
        p.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        QPainterPath tick;
        tick.moveTo(4.8, 8.2);
        tick.lineTo(7, 10.4);
        tick.lineTo(11.2, 5.8);
        p.setBrush(Qt::NoBrush);
        p.drawPath(tick);
        break;
    }
    case Symbol::warning: {
        QPainterPath triangle;
        triangle.moveTo(8, 1.5);
        triangle.lineTo(15, 14);
        triangle.lineTo(1, 14);
        triangle.closeSubpath();
        p.setPen(QPen(color, 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(color);
        p.drawPath(triangle);
        p.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(8, 6), QPointF(8, 9.5));
        p.drawPoint(QPointF(8, 11.8));
        break;
    }
    case Symbol::link:
        p.drawRoundedRect(QRectF(1.5, 5.5, 7.5, 5), 2.5, 2.5);
        p.drawRoundedRect(QRectF(7, 5.5, 7.5, 5), 2.5, 2.5);
        break;
    case Symbol::clock:
        p.drawEllipse(QRectF(1.75, 1.75, 12.5, 12.5));
        p.drawLine(QPointF(8, 4.5), QPointF(8, 8));
        p.drawLine(QPointF(8, 8), QPointF(10.5, 9.5));
        break;
    case Symbol::chevronLeft:
        p.drawLine(QPointF(10, 2.5), QPointF(4.5, 8));
        p.drawLine(QPointF(4.5, 8), QPointF(10, 13.5));
        break;
    case Symbol::eye: {
        QPainterPath eye;
        eye.moveTo(1, 8);
        eye.quadTo(8, 0.5, 15, 8);
        eye.quadTo(8, 15.5, 1, 8);
        p.drawPath(eye);
        p.setBrush(color);
        p.drawEllipse(QPointF(8, 8), 2.2, 2.2);
        break;
    }
    case Symbol::xmark: {
        QPolygonF octagon;
        for (int i = 0; i < 8; ++i) {
            const double angle = (22.5 + 45.0 * i) * M_PI / 180.0;
            octagon << QPointF(8 + 7 * std::cos(angle), 8 + 7 * std::sin(angle));
        }
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        p.drawPolygon(octagon);
        p.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(5.5, 5.5), QPointF(10.5, 10.5));
        p.drawLine(QPointF(10.5, 5.5), QPointF(5.5, 10.5));
        break;
    }
    case Symbol::info:
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        p.drawEllipse(QRectF(1, 1, 14, 14));
        p.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(8, 7.2), QPointF(8, 11.5));
        p.drawPoint(QPointF(8, 4.6));
        break;
    case Symbol::arrowUpRight:
        p.drawLine(QPointF(3, 13), QPointF(13, 3));
        p.drawLine(QPointF(6, 3), QPointF(13, 3));
        p.drawLine(QPointF(13, 3), QPointF(13, 10));
        break;
    case Symbol::arrowDownRight:
        p.drawLine(QPointF(3, 3), QPointF(13, 13));
        p.drawLine(QPointF(6, 13), QPointF(13, 13));
        p.drawLine(QPointF(13, 13), QPointF(13, 6));
        break;
    case Symbol::plusCircle:
        p.drawEllipse(QRectF(1.75, 1.75, 12.5, 12.5));
        p.drawLine(QPointF(8, 5), QPointF(8, 11));
        p.drawLine(QPointF(5, 8), QPointF(11, 8));
        break;
    case Symbol::swap:
        p.drawRoundedRect(QRectF(1.5, 2.5, 9, 6), 1.5, 1.5);
        p.drawRoundedRect(QRectF(5.5, 7.5, 9, 6), 1.5, 1.5);
        break;
    }
}

} // namespace

QPixmap pixmap(Symbol symbol, const QColor& color, int size, qreal devicePixelRatio)
{
    const int device = qMax(1, qRound(size * devicePixelRatio));
    QPixmap result(device, device);
    result.fill(Qt::transparent);
    result.setDevicePixelRatio(devicePixelRatio);
    QPainter painter(&result);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 16.0, size / 16.0);
    draw(painter, symbol, color);
    return result;
}

QIcon icon(Symbol symbol, const QColor& color, int size)
{
    QIcon result;
    result.addPixmap(pixmap(symbol, color, size, 1.0));
    result.addPixmap(pixmap(symbol, color, size, 2.0));
    return result;
}

} // namespace PanelIcons
