#include "ui/PanelView.h"

#include "app/AppState.h"
#include "app/MenuBarTitleBuilder.h"
#include "core/TimeFormatting.h"
#include "platform/LoginItemManager.h"
#include "platform/Updater.h"
#include "ui/GaugeIcon.h"

#include <QApplication>
#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int contentInset = 12;

QToolButton* iconButton(const QString& themeIcon, const QString& fallbackText, const QString& toolTip)
{
    auto* button = new QToolButton;
    const QIcon icon = QIcon::fromTheme(themeIcon);
    if (icon.isNull())
        button->setText(fallbackText);
    else
        button->setIcon(icon);
    button->setToolTip(toolTip);
    button->setAccessibleName(toolTip);
    button->setAutoRaise(true);
    return button;
}

QFrame* divider()
{
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

void clearLayout(QLayout* layout)
{
    while (QLayoutItem* item = layout->takeAt(0)) {
        if (QWidget* widget = item->widget()) {
            widget->hide();
            widget->deleteLater();
        } else if (QLayout* child = item->layout())
            clearLayout(child);
        delete item;
    }
}

} // namespace

PanelView::PanelView(AppState& state, Options options, QWidget* parent)
    : QWidget(parent), m_state(state), m_options(options)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_pages = new QStackedWidget(this);
    m_pages->addWidget(buildMain());
    m_pages->addWidget(buildSettings());
    layout->addWidget(m_pages);
    connect(&m_state, &AppState::changed, this, &PanelView::redraw);
    showSettings(options.startOnSettings);
    redraw();
}

QWidget* PanelView::buildMain()
{
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(contentInset, contentInset, contentInset, contentInset);

    m_header = new QWidget;
    m_header->setObjectName(QStringLiteral("panelHeader"));
    auto* header = new QHBoxLayout(m_header);
    header->setContentsMargins(0, 0, 0, 0);
    m_icon = new QLabel;
    m_icon->setFixedSize(32, 32);
    header->addWidget(m_icon);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(0);
    auto* title = new QLabel(QStringLiteral("Tallyvane"));
    QFont titleFont = title->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.25);
    title->setFont(titleFont);
    auto* subtitle = new QLabel(QStringLiteral("AI coding range meter"));
    subtitle->setForegroundRole(QPalette::PlaceholderText);
    titles->addWidget(title);
    titles->addWidget(subtitle);
    header->addLayout(titles);
    header->addStretch();
    auto* refresh =
        iconButton(QStringLiteral("view-refresh"), QStringLiteral("↻"), QStringLiteral("Refresh"));
    connect(refresh, &QToolButton::clicked, this, [this] { m_state.refresh(); });
    auto* settings =
        iconButton(QStringLiteral("preferences-system"), QStringLiteral("⚙"), QStringLiteral("Settings"));
    connect(settings, &QToolButton::clicked, this, [this] { showSettings(true); });
    header->addWidget(refresh);
    header->addWidget(settings);
    layout->addWidget(m_header);
    layout->addWidget(divider());

    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* column = new QWidget;
    m_lines = new QVBoxLayout(column);
    m_lines->setContentsMargins(0, 4, 0, 4);
    scroll->setWidget(column);
    layout->addWidget(scroll, 1);

    layout->addWidget(divider());
    auto* footer = new QHBoxLayout;
    m_footer = new QLabel;
    m_footer->setForegroundRole(QPalette::PlaceholderText);
    footer->addWidget(m_footer);
    footer->addStretch();
    if (Updater::shared().isConfigured())
        footer->addWidget(new QPushButton(QStringLiteral("Check for updates")));
    auto* quit = new QPushButton(QStringLiteral("Quit"));
    connect(quit, &QPushButton::clicked, qApp, &QCoreApplication::quit);
    footer->addWidget(quit);
    layout->addLayout(footer);
    return page;
}

QWidget* PanelView::buildSettings()
{
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(contentInset, contentInset, contentInset, contentInset);
    auto* header = new QHBoxLayout;
    auto* back = new QPushButton(QStringLiteral("Back"));
    connect(back, &QPushButton::clicked, this, [this] { showSettings(false); });
    auto* title = new QLabel(QStringLiteral("Settings"));
    QFont font = title->font();
    font.setBold(true);
    title->setFont(font);
    header->addWidget(back);
    header->addWidget(title);
    header->addStretch();
    layout->addLayout(header);
    layout->addWidget(divider());

    m_startAtLogin = new QCheckBox(QStringLiteral("Start at login"));
    m_startAtLogin->setObjectName(QStringLiteral("startAtLogin"));
    connect(m_startAtLogin, &QCheckBox::toggled, this, [this](bool enabled) {
        if (enabled == m_state.settings().startAtLogin)
            return;
        if (!LoginItemManager::setEnabled(enabled)) {
            const QSignalBlocker block(m_startAtLogin);
            m_startAtLogin->setChecked(!enabled);
            return;
        }
        AppSettings settings = m_state.settings();
        settings.startAtLogin = enabled;
        m_state.setSettings(settings);
    });
    layout->addWidget(m_startAtLogin);

    auto* dataHeading = new QLabel(QStringLiteral("Data"));
    QFont headingFont = dataHeading->font();
    headingFont.setBold(true);
    dataHeading->setFont(headingFont);
    layout->addSpacing(8);
    layout->addWidget(dataHeading);
    m_demoMode = new QCheckBox(QStringLiteral("Demo mode"));
    m_demoMode->setObjectName(QStringLiteral("demoMode"));
    connect(m_demoMode, &QCheckBox::toggled, this, [this](bool enabled) { setDemoMode(enabled); });
    layout->addWidget(m_demoMode);
    layout->addStretch();
    return page;
}

void PanelView::setDemoMode(bool enabled)
{
    if (enabled == m_state.settings().demoMode)
        return;
    AppSettings settings = m_state.settings();
    settings.demoMode = enabled;
    m_state.setSettings(settings);
    // Live providers stop in demo mode and start again when it ends.
    m_state.startProviders();
    m_state.refresh();
}

bool PanelView::isShowingSettings() const
{
    return m_pages->currentIndex() == 1;
}

void PanelView::showSettings(bool show)
{
    m_pages->setCurrentIndex(show ? 1 : 0);
}

void PanelView::redraw()
{
    const ForecastStatus status = m_state.globalStatus();
    m_icon->setPixmap(QPixmap::fromImage(GaugeIcon::render(status, 32)));
    m_icon->setToolTip(MenuBarTitleBuilder::statusWord(status));

    clearLayout(m_lines);
    if (m_state.workingSnapshots().isEmpty()) {
        // The provider searches more than PATH (~/.local/bin, npm and nvm folders): ask it, not PATH.
        const auto codex = m_state.providerHealth().constFind(Provider::codex);
        const bool codexFound =
            codex != m_state.providerHealth().cend() && codex->state != ProviderHealth::State::unavailable;
        auto* title = new QLabel(codexFound ? QStringLiteral("Connecting to Codex…")
                                            : QStringLiteral("Nothing connected yet"));
        QFont font = title->font();
        font.setBold(true);
        title->setFont(font);
        auto* line =
            new QLabel(codexFound ? QStringLiteral("Codex usage should appear in a few seconds. Connect "
                                                   "Claude to add its quota too.")
                                  : QStringLiteral("Install the Codex CLI for live usage, or connect "
                                                   "Claude below."));
        line->setWordWrap(true);
        auto* demo = new QPushButton(QStringLiteral("Demo mode"));
        connect(demo, &QPushButton::clicked, this, [this] { setDemoMode(true); });
        m_lines->addWidget(title);
        m_lines->addWidget(line);
        m_lines->addWidget(demo, 0, Qt::AlignLeft);
    } else {
        for (const Provider provider : m_state.sortedEnabledProviders()) {
            QList<ForecastResult> forecasts;
            for (const ForecastResult& forecast : m_state.forecasts()) {
                if (forecast.provider == provider)
                    forecasts.append(forecast);
            }
            if (forecasts.isEmpty())
                continue;
            std::stable_sort(forecasts.begin(), forecasts.end(), [](const auto& a, const auto& b) {
                return displayRank(a.windowKind) < displayRank(b.windowKind);
            });
            auto* name = new QLabel(displayName(provider));
            QFont font = name->font();
            font.setBold(true);
            name->setFont(font);
            m_lines->addWidget(name);
            for (const ForecastResult& forecast : std::as_const(forecasts)) {
                auto* line = new QLabel(QStringLiteral("<span style=\"color:%1\">●</span> <b>%2</b> %3")
                                            .arg(GaugeIcon::statusColor(forecast.status).name(),
                                                 shortLabel(forecast.windowKind),
                                                 forecast.humanSummary.toHtmlEscaped()));
                line->setWordWrap(true);
                line->setTextFormat(Qt::RichText);
                line->setProperty("plainLine", displayName(provider) + QLatin1Char(' ') +
                                                   shortLabel(forecast.windowKind) + QStringLiteral(": ") +
                                                   forecast.humanSummary);
                m_lines->addWidget(line);
            }
        }
    }
    m_lines->addStretch();

    if (m_state.settings().demoMode)
        m_footer->setText(m_options.capture ? QString() : QStringLiteral("Demo data"));
    else if (m_state.lastRefresh())
        m_footer->setText(QStringLiteral("Updated ") + TimeFormatting::clock(m_state.lastRefresh()));
    else
        m_footer->clear();

    const QSignalBlocker blockLogin(m_startAtLogin);
    m_startAtLogin->setChecked(m_state.settings().startAtLogin);
    const QSignalBlocker blockDemo(m_demoMode);
    m_demoMode->setChecked(m_state.settings().demoMode);
}

QStringList PanelView::lines() const
{
    QStringList result;
    for (int i = 0; i < m_lines->count(); ++i) {
        if (auto* label = qobject_cast<QLabel*>(m_lines->itemAt(i)->widget())) {
            const QVariant plain = label->property("plainLine");
            if (plain.isValid())
                result.append(plain.toString());
        }
    }
    return result;
}

QString PanelView::footerText() const
{
    return m_footer->text();
}
