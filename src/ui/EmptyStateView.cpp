#include "ui/EmptyStateView.h"

#include "ui/GaugeIcon.h"
#include "ui/PanelTheme.h"
#include "ui/PillButton.h"
#include "ui/PlainText.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

EmptyStateView::EmptyStateView(QWidget* parent)
    : QWidget(parent), m_title(PlainText::label()), m_line(PlainText::label()), m_states(PlainText::label()),
      m_message(PlainText::label())
{
    setObjectName(QStringLiteral("emptyState"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(PanelTheme::cardPadding, 32, PanelTheme::cardPadding, 16);
    layout->setSpacing(10);
    auto* icon = PlainText::label();
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
    m_states->setWordWrap(true);
    m_states->setAlignment(Qt::AlignCenter);
    m_states->setObjectName(QStringLiteral("emptyProviderStates"));
    layout->addWidget(m_states);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    buttons->addStretch();
    auto* connectClaude = new PillButton(QStringLiteral("Connect Claude"), true);
    connectClaude->setObjectName(QStringLiteral("emptyConnectClaude"));
    m_connectClaude = connectClaude;
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
    setInput({});
}

void EmptyStateView::setInput(const Input& input)
{
    m_title->setText(input.title);
    m_line->setText(input.line);
    QStringList states;
    if (input.codexHealth) {
        const ProviderHealth& health = *input.codexHealth;
        switch (health.state) {
        case ProviderHealth::State::connected:
            states << QStringLiteral("Codex connected — waiting for its first reading");
            break;
        case ProviderHealth::State::error:
            states << QStringLiteral("Codex: ") + health.lastError.value_or(health.detail.isEmpty()
                                                                                ? QStringLiteral("error")
                                                                                : health.detail);
            break;
        case ProviderHealth::State::unavailable:
            states << QStringLiteral("Codex not found");
            break;
        case ProviderHealth::State::idle:
        case ProviderHealth::State::demo:
            break;
        }
    }
    if (input.claudeBridge)
        states << QStringLiteral("Claude Code bridge installed — waiting for Claude Code's first reply");
    m_states->setText(states.join(QLatin1Char('\n')));
    m_states->setVisible(!states.isEmpty());
    m_connectClaude->setVisible(!input.claudeBridge);
}

QString EmptyStateView::providerStates() const
{
    return m_states->isHidden() ? QString() : m_states->text();
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
