#include "ui/FooterView.h"

#include "core/text/TimeFormatting.h"
#include "ui/PanelIcons.h"
#include "ui/PanelTheme.h"
#include "ui/PlainText.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTimer>

FooterView::FooterView(QWidget* parent)
    : QWidget(parent), m_statusIcon(PlainText::label()), m_status(PlainText::label()),
      m_bedtimeIcon(PlainText::label()), m_bedtime(PlainText::label()), m_notice(PlainText::label()),
      m_noticeTimer(new QTimer(this))
{
    setObjectName(QStringLiteral("footer"));
    setFixedHeight(36);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(PanelTheme::inset, 1, PanelTheme::inset - 2, 0);
    layout->setSpacing(6);
    const QFont small = PanelTheme::font(font(), 0.9);
    for (QLabel* label : {m_status, m_bedtime, m_notice}) {
        label->setForegroundRole(QPalette::PlaceholderText);
        label->setFont(small);
    }
    m_status->setObjectName(QStringLiteral("footerStatus"));
    m_bedtime->setObjectName(QStringLiteral("footerBedtime"));
    layout->addWidget(m_statusIcon);
    layout->addWidget(m_status);
    m_notice->setObjectName(QStringLiteral("footerNotice"));
    m_notice->hide();
    layout->addWidget(m_notice);
    m_noticeTimer->setSingleShot(true);
    m_noticeTimer->setInterval(4000);
    connect(m_noticeTimer, &QTimer::timeout, this, [this] {
        m_notice->hide();
        m_status->setVisible(!m_status->text().isEmpty());
    });
    layout->addSpacing(8);
    layout->addWidget(m_bedtimeIcon);
    layout->addWidget(m_bedtime);
    layout->addStretch();
    auto* quit = new QPushButton(QStringLiteral("Quit"));
    quit->setObjectName(QStringLiteral("quit"));
    quit->setFlat(true);
    connect(quit, &QPushButton::clicked, this, &FooterView::quitRequested);
    layout->addWidget(quit);
}

void FooterView::setInput(const Input& input)
{
    const QColor muted = palette().color(QPalette::PlaceholderText);
    const qreal dpr = devicePixelRatioF();
    QString status;
    if (input.demoMode)
        status = input.capture ? QString() : QStringLiteral("Demo data");
    else
        status = input.updated;
    m_status->setText(status);
    m_status->setVisible(!status.isEmpty() && m_notice->isHidden());
    const bool demoLabel = input.demoMode && !status.isEmpty();
    m_statusIcon->setVisible(demoLabel);
    if (demoLabel)
        m_statusIcon->setPixmap(PanelIcons::pixmap(PanelIcons::Symbol::wand, muted, 12, dpr));

    const bool bedtime = input.timeUntilBedtime.has_value();
    m_bedtime->setVisible(bedtime);
    m_bedtimeIcon->setVisible(bedtime);
    if (bedtime) {
        m_bedtime->setText(QStringLiteral("Bedtime in ") + TimeFormatting::countdown(input.timeUntilBedtime));
        m_bedtimeIcon->setPixmap(PanelIcons::pixmap(PanelIcons::Symbol::moon, muted, 12, dpr));
    }
}

QString FooterView::statusText() const
{
    return m_status->text();
}

void FooterView::showNotice(const QString& text)
{
    m_notice->setText(text);
    m_notice->show();
    m_status->hide();
    m_noticeTimer->start();
}

QString FooterView::noticeText() const
{
    return m_notice->isHidden() ? QString() : m_notice->text();
}

QString FooterView::bedtimeText() const
{
    return m_bedtime->isVisibleTo(this) ? m_bedtime->text() : QString();
}

void FooterView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawLine(0, 0, width(), 0);
}
