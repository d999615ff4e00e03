#include "ui/HeaderView.h"

#include "app/MenuBarTitleBuilder.h"
#include "ui/GaugeIcon.h"
#include "ui/PanelIcons.h"
#include "ui/PanelTheme.h"
#include "ui/PlainText.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

QToolButton* iconButton(const QString& name)
{
    auto* button = new QToolButton;
    button->setObjectName(name.toLower());
    button->setToolTip(name);
    button->setAccessibleName(name);
    button->setAutoRaise(true);
    button->setFixedSize(28, 28);
    button->setIconSize(QSize(16, 16));
    button->setFocusPolicy(Qt::StrongFocus);
    return button;
}

} // namespace

HeaderView::HeaderView(QWidget* parent)
    : QWidget(parent), m_icon(PlainText::label()), m_refresh(iconButton(QStringLiteral("Refresh"))),
      m_settings(iconButton(QStringLiteral("Settings")))
{
    setObjectName(QStringLiteral("panelHeader"));
    setFixedHeight(52);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(PanelTheme::inset, 0, PanelTheme::inset - 4, 0);
    layout->setSpacing(10);
    m_icon->setFixedSize(28, 28);
    layout->addWidget(m_icon);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(0);
    auto* title = PlainText::label(QStringLiteral("Tallyvane"));
    title->setFont(PanelTheme::font(title->font(), 1.15, true));
    auto* subtitle = PlainText::label(QStringLiteral("AI coding range meter"));
    subtitle->setForegroundRole(QPalette::PlaceholderText);
    titles->addStretch();
    titles->addWidget(title);
    titles->addWidget(subtitle);
    titles->addStretch();
    layout->addLayout(titles, 1);
    layout->addWidget(m_refresh);
    layout->addWidget(m_settings);
    connect(m_refresh, &QToolButton::clicked, this, &HeaderView::refreshRequested);
    connect(m_settings, &QToolButton::clicked, this, &HeaderView::settingsRequested);
    applyIcons();
}

void HeaderView::setStatus(ForecastStatus status)
{
    if (status == m_status && !m_icon->pixmap().isNull())
        return;
    m_status = status;
    applyIcons();
}

void HeaderView::applyIcons()
{
    const qreal dpr = devicePixelRatioF();
    QPixmap gauge = QPixmap::fromImage(GaugeIcon::render(m_status, qBound(16, qRound(28 * dpr), 64)));
    gauge.setDevicePixelRatio(dpr);
    m_icon->setPixmap(gauge);
    m_icon->setToolTip(MenuBarTitleBuilder::statusWord(m_status));
    const QColor color = palette().color(QPalette::ButtonText);
    m_refresh->setIcon(PanelIcons::icon(PanelIcons::Symbol::refresh, color));
    m_settings->setIcon(PanelIcons::icon(PanelIcons::Symbol::sliders, color));
}

void HeaderView::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyIcons();
}
