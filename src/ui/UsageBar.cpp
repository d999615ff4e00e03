#include "ui/UsageBar.h"

#include "ui/PanelTheme.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

double clamp01(double value)
{
    return std::isfinite(value) ? std::clamp(value, 0.0, 1.0) : 0.0;
}

} // namespace

UsageBar::UsageBar(QWidget* parent) : QWidget(parent)
{
    setFixedHeight(8);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void UsageBar::setValue(double fraction, ColorRole role, std::optional<double> tick)
{
    m_fraction = clamp01(fraction);
    m_role = role;
    m_tick = tick ? std::optional<double>(clamp01(*tick)) : std::nullopt;
    update();
}

void UsageBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track(0, 1, width(), 6);
    const QColor neutral = PanelTheme::color(ColorRole::neutral, palette());
    painter.setPen(Qt::NoPen);
    painter.setBrush(PanelTheme::faded(neutral, 0.18));
    painter.drawRoundedRect(track, 3, 3);
    if (m_fraction > 0) {
        QRectF fill = track;
        fill.setWidth(std::max(6.0, track.width() * m_fraction));
        painter.setBrush(PanelTheme::color(m_role, palette()));
        painter.drawRoundedRect(fill, 3, 3);
    }
    if (m_tick) {
        const double x = std::clamp(track.width() * *m_tick, 1.0, track.width() - 1.0);
        painter.setBrush(palette().color(QPalette::Text));
        painter.drawRect(QRectF(x - 1, 0, 2, 8));
    }
}
