#include "ui/StatusPill.h"

#include "ui/PanelTheme.h"

#include <QEvent>
#include <QPainter>

StatusPill::StatusPill(const QString& text, ColorRole role, QWidget* parent)
    : QLabel(text, parent), m_role(role)
{
    setTextFormat(Qt::PlainText);
    setFont(PanelTheme::font(font(), 0.85, role != ColorRole::neutral));
    setContentsMargins(8, 1, 8, 1);
    setAlignment(Qt::AlignCenter);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    applyColors();
}

StatusPill* StatusPill::forStatus(ForecastStatus status)
{
    auto* pill = new StatusPill(label(status), colorRole(status));
    pill->setObjectName(QStringLiteral("statusPill"));
    return pill;
}

void StatusPill::setRole(ColorRole role)
{
    m_role = role;
    applyColors();
    update();
}

void StatusPill::applyColors()
{
    QPalette colors = palette();
    colors.setColor(QPalette::WindowText, m_role == ColorRole::neutral ? colors.color(QPalette::Text)
                                                                       : PanelTheme::color(m_role, colors));
    setPalette(colors);
}

void StatusPill::changeEvent(QEvent* event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::ParentChange)
        applyColors();
}

void StatusPill::paintEvent(QPaintEvent* event)
{
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(PanelTheme::faded(PanelTheme::color(m_role, palette()),
                                           m_role == ColorRole::neutral ? 0.16 : 0.14));
        const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        const double radius = box.height() / 2;
        painter.drawRoundedRect(box, radius, radius);
    }
    QLabel::paintEvent(event);
}
