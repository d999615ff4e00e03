#include "ui/CardFrame.h"

#include "ui/PanelTheme.h"
#include "ui/PlainText.h"

#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

CardFrame::CardFrame(QWidget* parent) : QWidget(parent), m_layout(new QVBoxLayout(this))
{
    const int padding = PanelTheme::cardPadding;
    m_layout->setContentsMargins(padding, padding, padding, padding);
    m_layout->setSpacing(6);
}

QLabel* CardFrame::heading(const QString& text)
{
    auto* label = PlainText::label(text);
    label->setFont(PanelTheme::font(label->font(), 1.0, true));
    return label;
}

QLabel* CardFrame::note(const QString& text)
{
    auto* label = PlainText::label(text);
    label->setWordWrap(true);
    label->setForegroundRole(QPalette::PlaceholderText);
    label->setFont(PanelTheme::font(label->font(), 0.9));
    return label;
}

void CardFrame::setTint(std::optional<ColorRole> role)
{
    m_tint = role;
    update();
}

void CardFrame::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(PanelTheme::faded(palette().color(QPalette::Mid), 0.45), 1));
    QColor background = PanelTheme::cardBackground(palette());
    if (m_tint) {
        const QColor tint = PanelTheme::color(*m_tint, palette());
        const double share = 0.06;
        background =
            QColor::fromRgbF(static_cast<float>(background.redF() * (1 - share) + tint.redF() * share),
                             static_cast<float>(background.greenF() * (1 - share) + tint.greenF() * share),
                             static_cast<float>(background.blueF() * (1 - share) + tint.blueF() * share));
    }
    painter.setBrush(background);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), PanelTheme::cardRadius,
                            PanelTheme::cardRadius);
}
