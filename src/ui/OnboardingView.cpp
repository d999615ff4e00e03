#include "ui/OnboardingView.h"

#include "ui/GaugeIcon.h"
#include "ui/IconLine.h"
#include "ui/PanelTheme.h"
#include "ui/PillButton.h"
#include "ui/PlainText.h"

#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPropertyAnimation>
#include <QVBoxLayout>

OnboardingView::OnboardingView(QWidget* parent) : QWidget(parent), m_message(PlainText::label())
{
    setObjectName(QStringLiteral("onboarding"));
    auto* layout = new QVBoxLayout(this);
    const int side = PanelTheme::inset + 12;
    layout->setContentsMargins(side, 40, side, 24);
    layout->setSpacing(14);
    auto* icon = PlainText::label();
    const qreal dpr = devicePixelRatioF();
    QPixmap gauge =
        QPixmap::fromImage(GaugeIcon::render(ForecastStatus::safe, qBound(16, qRound(56 * dpr), 64)));
    gauge.setDevicePixelRatio(dpr);
    icon->setPixmap(gauge);
    layout->addWidget(icon);
    auto* heading = PlainText::label(QStringLiteral("Welcome to Tallyvane"));
    heading->setFont(PanelTheme::font(heading->font(), 1.4, true));
    layout->addWidget(heading);
    auto* intro = PlainText::label(
        QStringLiteral("Tallyvane is a range meter for your AI coding usage. It reads your real "
                       "usage: no demo data, and no account to set up."));
    intro->setWordWrap(true);
    layout->addWidget(intro);
    layout->addSpacing(4);
    m_codexFound = new IconLine(PanelIcons::Symbol::check, PanelTheme::color(ColorRole::safe, palette()),
                                QStringLiteral("Codex connects automatically."));
    m_codexFound->setObjectName(QStringLiteral("onboardingCodexFound"));
    layout->addWidget(m_codexFound);
    m_codexMissing = new IconLine(PanelIcons::Symbol::info, palette().color(QPalette::Text),
                                  QStringLiteral("Codex was not found. Install the Codex CLI (npm install -g "
                                                 "@openai/codex) and it connects automatically."));
    m_codexMissing->setObjectName(QStringLiteral("onboardingCodexMissing"));
    layout->addWidget(m_codexMissing);
    setCodexFound(false);
    m_claude = new IconLine(PanelIcons::Symbol::link, palette().color(QPalette::Text), {});
    layout->addWidget(m_claude);
    layout->addSpacing(8);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    auto* connectClaude = new PillButton({}, true);
    connectClaude->setObjectName(QStringLiteral("onboardingConnectClaude"));
    m_connectClaude = connectClaude;
    auto* done = new PillButton(QStringLiteral("Done"));
    done->setObjectName(QStringLiteral("onboardingDone"));
    buttons->addWidget(connectClaude);
    buttons->addWidget(done);
    buttons->addStretch();
    layout->addLayout(buttons);
    m_message->setWordWrap(true);
    m_message->setObjectName(QStringLiteral("onboardingMessage"));
    m_message->hide();
    layout->addWidget(m_message);
    layout->addStretch();
    connect(connectClaude, &QPushButton::clicked, this, &OnboardingView::connectClaudeRequested);
    connect(done, &QPushButton::clicked, this, &OnboardingView::doneRequested);
}

void OnboardingView::setCodexFound(bool found)
{
    m_codexFound->setVisible(found);
    m_codexMissing->setVisible(!found);
}

void OnboardingView::setClaude(const QString& line, const QString& connectLabel)
{
    m_claude->label()->setText(line);
    m_claude->label()->setAccessibleName(line);
    m_connectClaude->setText(connectLabel);
    m_connectClaude->setVisible(!connectLabel.isEmpty());
}

QString OnboardingView::claudeLine() const
{
    return m_claude->text();
}

QString OnboardingView::codexLine() const
{
    return (m_codexFound->isHidden() ? m_codexMissing : m_codexFound)->text();
}

void OnboardingView::setMessage(const QString& message)
{
    m_message->setText(message);
    m_message->setVisible(!message.isEmpty());
}

void OnboardingView::fadeIn()
{
    auto* effect = new QGraphicsOpacityEffect(this);
    setGraphicsEffect(effect);
    auto* animation = new QPropertyAnimation(effect, "opacity", this);
    animation->setDuration(250);
    animation->setStartValue(0.0);
    animation->setEndValue(1.0);
    // The effect costs a repaint of the whole view on every frame: drop it once the fade is done.
    connect(animation, &QPropertyAnimation::finished, this, [this] { setGraphicsEffect(nullptr); });
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}
