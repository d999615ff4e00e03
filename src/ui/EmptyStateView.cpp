#include "ui/EmptyStateView.h"

#include "ui/GaugeIcon.h"
#include "ui/PanelTheme.h"
#include "ui/PillButton.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

EmptyStateView::EmptyStateView(QWidget* parent)
    : QWidget(parent), m_title(new QLabel), m_line(new QLabel), m_message(new QLabel)
{
    setObjectName(QStringLiteral("emptyState"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(PanelTheme::cardPadding, 32, PanelTheme::cardPadding, 16);
    layout->setSpacing(10);
    auto* icon = new QLabel;
    const qreal dpr = devicePixelRatioF();
    QPixmap gauge =
        QPixmap::fromImage(GaugeIcon::render(ForecastStatus::noData, qBound(16, qRound(48 * dpr), 64)));
    gauge.setDevicePixelRatio(dpr);
    icon->setPixmap(gauge);
    icon->setAlignment(Qt::AlignCenter);
    layout->addWidget(icon);
    m_title->setFont(PanelTheme::font(m_title->font(), 1.15, true));
    m_title->setAlignment(Qt::AlignCenter);
    m_title->setObjectName(QStringLiteral("emptyTitle"));
    layout->addWidget(m_title);
    m_line->setWordWrap(true);
    m_line->setAlignment(Qt::AlignCenter);
    m_line->setForegroundRole(QPalette::PlaceholderText);
    m_line->setObjectName(QStringLiteral("emptyLine"));
    layout->addWidget(m_line);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    buttons->addStretch();
    auto* connectClaude = new PillButton(QStringLiteral("Connect Claude"), true);
    connectClaude->setObjectName(QStringLiteral("emptyConnectClaude"));
    auto* demo = new PillButton(QStringLiteral("Demo mode"));
    demo->setObjectName(QStringLiteral("emptyDemoMode"));
    buttons->addWidget(connectClaude);
    buttons->addWidget(demo);
    buttons->addStretch();
    layout->addLayout(buttons);
    m_message->setWordWrap(true);
    m_message->setAlignment(Qt::AlignCenter);
    m_message->setObjectName(QStringLiteral("emptyMessage"));
    m_message->hide();
    layout->addWidget(m_message);
    layout->addStretch();
    connect(connectClaude, &QPushButton::clicked, this, &EmptyStateView::connectClaudeRequested);
    connect(demo, &QPushButton::clicked, this, &EmptyStateView::demoModeRequested);
    setCodexFound(false);
}

void EmptyStateView::setCodexFound(bool found)
{
    m_title->setText(found ? QStringLiteral("Connecting to Codex…")
                           : QStringLiteral("Nothing connected yet"));
    m_line->setText(
        found ? QStringLiteral("Codex usage should appear in a few seconds. Connect Claude to add its "
                               "quota too.")
              : QStringLiteral("Install the Codex CLI for live usage, or connect Claude below."));
}

void EmptyStateView::setMessage(const QString& message)
{
    m_message->setText(message);
    m_message->setVisible(!message.isEmpty());
}

QString EmptyStateView::title() const
{
    return m_title->text();
}

QString EmptyStateView::line() const
{
    return m_line->text();
}
