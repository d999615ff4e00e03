#include "ui/PillButton.h"

#include "ui/PanelTheme.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>

PillButton::PillButton(const QString& text, bool filled, QWidget* parent)
    : QPushButton(text, parent), m_filled(filled)
{
    setCursor(Qt::PointingHandCursor);
    setFont(PanelTheme::font(font(), 1.0, true));
}

QSize PillButton::sizeHint() const
{
    return {fontMetrics().horizontalAdvance(text()) + 32, fontMetrics().height() + 14};
}

void PillButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette& pal = palette();
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const double radius = box.height() / 2;
    QColor fill = m_filled ? pal.color(QPalette::Highlight) : PanelTheme::cardBackground(pal);
    if (isDown())
        fill = fill.darker(115);
    else if (underMouse())
        fill = fill.lighter(m_filled ? 110 : 104);
    painter.setPen(m_filled ? QPen(Qt::NoPen) : QPen(pal.color(QPalette::Mid), 1));
    painter.setBrush(fill);
    painter.drawRoundedRect(box, radius, radius);
    if (hasFocus()) {
        painter.setPen(
            QPen(m_filled ? pal.color(QPalette::HighlightedText) : pal.color(QPalette::Highlight), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(box.adjusted(2, 2, -2, -2), radius - 2, radius - 2);
    }
    painter.setPen(m_filled ? pal.color(QPalette::HighlightedText) : pal.color(QPalette::ButtonText));
    painter.drawText(box, Qt::AlignCenter, text());
}
