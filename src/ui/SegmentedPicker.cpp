#include "ui/SegmentedPicker.h"

#include "ui/PanelTheme.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>

SegmentedPicker::SegmentedPicker(QStringList labels, QWidget* parent)
    : QWidget(parent), m_labels(std::move(labels))
{
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAttribute(Qt::WA_Hover);
}

QSize SegmentedPicker::sizeHint() const
{
    int widest = 0;
    for (const QString& label : m_labels)
        widest = std::max(widest, fontMetrics().horizontalAdvance(label));
    return {static_cast<int>(m_labels.size()) * (widest + 14), fontMetrics().height() + 10};
}

QSize SegmentedPicker::minimumSizeHint() const
{
    // Tighter than the preferred size, so that a larger font still fits the panel's width.
    int widest = 0;
    for (const QString& label : m_labels)
        widest = std::max(widest, fontMetrics().horizontalAdvance(label));
    return {static_cast<int>(m_labels.size()) * (widest + 6), fontMetrics().height() + 10};
}

void SegmentedPicker::setCurrent(int index)
{
    if (index < 0 || index >= m_labels.size() || index == m_current)
        return;
    m_current = index;
    setAccessibleDescription(m_labels[index]);
    update();
}

void SegmentedPicker::pick(int index)
{
    if (index < 0 || index >= m_labels.size() || index == m_current)
        return;
    setCurrent(index);
    Q_EMIT picked(index);
}

QRectF SegmentedPicker::segment(int index) const
{
    const double w =
        static_cast<double>(width() - 1) / static_cast<double>(std::max<qsizetype>(1, m_labels.size()));
    return QRectF(0.5 + index * w, 0.5, w, height() - 1);
}

void SegmentedPicker::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette& pal = palette();
    const QRectF outer = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(PanelTheme::faded(pal.color(QPalette::Mid), 0.8), 1));
    painter.setBrush(pal.color(QPalette::Base));
    painter.drawRoundedRect(outer, 6, 6);
    for (int i = 0; i < m_labels.size(); ++i) {
        const QRectF box = segment(i);
        if (i == m_current) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(pal.color(QPalette::Highlight));
            painter.drawRoundedRect(box.adjusted(2, 2, -2, -2), 4, 4);
            painter.setPen(pal.color(QPalette::HighlightedText));
        } else {
            if (i > 0 && i != m_current + 1) {
                painter.setPen(QPen(PanelTheme::faded(pal.color(QPalette::Mid), 0.5), 1));
                painter.drawLine(QPointF(box.left(), box.top() + 5), QPointF(box.left(), box.bottom() - 5));
            }
            painter.setPen(pal.color(QPalette::Text));
        }
        painter.drawText(box, Qt::AlignCenter, m_labels[i]);
    }
    if (hasFocus()) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = segment(m_current).toRect().adjusted(1, 1, -1, -1);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
}

void SegmentedPicker::mousePressEvent(QMouseEvent* event)
{
    for (int i = 0; i < m_labels.size(); ++i) {
        if (segment(i).contains(event->position())) {
            pick(i);
            return;
        }
    }
}

void SegmentedPicker::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Left:
        pick(m_current - 1);
        break;
    case Qt::Key_Right:
        pick(m_current + 1);
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}
