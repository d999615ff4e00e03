#include "ui/PanelView.h"

#include "app/AppState.h"
#include "ui/DailyUsageView.h"
#include "ui/EmptyStateView.h"
#include "ui/ExtraUsageView.h"
#include "ui/FooterView.h"
#include "ui/ForecastCard.h"
#include "ui/HeaderView.h"
#include "ui/OnboardingView.h"
#include "ui/PanelTheme.h"
#include "ui/ProviderSummaryCard.h"
#include "ui/RecommendationView.h"
#include "ui/ScenarioCard.h"
#include "ui/SettingsView.h"
#include "ui/TrendsView.h"

#include <QApplication>

#include <QFrame>
#include <QScrollArea>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <algorithm>

PanelView::PanelView(AppState& state, Options options, QWidget* parent)
    : PanelView(state, options, PanelFeeds::fromState(state), parent)
{}

PanelView::PanelView(AppState& state, Options options, PanelFeeds feeds, QWidget* parent)
    : QWidget(parent), m_state(state), m_options(options), m_feeds(std::move(feeds)),
      m_settingsFlag(options.startOnSettings)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_screens = new QStackedWidget;
    layout->addWidget(m_screens);

    m_onboarding = new OnboardingView;
    connect(m_onboarding, &OnboardingView::connectClaudeRequested, this, [this] {
        m_onboarding->setMessage(m_state.installClaudeBridge());
        Q_EMIT fittedHeightChanged(); // the message adds lines
    });
    connect(m_onboarding, &OnboardingView::doneRequested, this, [this] {
        AppSettings next = m_state.settings();
        next.hasOnboarded = true;
        m_state.setSettings(next);
    });
    m_screens->addWidget(m_onboarding);

    m_settings = new SettingsView(m_state, m_feeds);
    connect(m_settings, &SettingsView::backRequested, this, [this] { showSettings(false); });
    m_screens->addWidget(m_settings);

    m_main = buildMain();
    m_screens->addWidget(m_main);

    m_redrawTimer.setSingleShot(true);
    m_redrawTimer.setInterval(0);
    connect(&m_redrawTimer, &QTimer::timeout, this, &PanelView::redraw);
    connect(&m_state, &AppState::changed, this, &PanelView::scheduleRedraw);
    applyMutedText();
    redraw();
}

void PanelView::applyMutedText()
{
    const QColor muted = PanelTheme::mutedText(palette());
    if (palette().color(QPalette::PlaceholderText) == muted)
        return;
    QPalette own = palette();
    own.setColor(QPalette::PlaceholderText, muted);
    setPalette(own);
    // Icons drawn in the muted colour are drawn again.
    scheduleRedraw();
}

void PanelView::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyMutedText();
}

PanelView::~PanelView() = default;

QWidget* PanelView::buildMain()
{
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    m_header = new HeaderView;
    connect(m_header, &HeaderView::refreshRequested, &m_state, &AppState::refresh);
    connect(m_header, &HeaderView::settingsRequested, this, [this] { showSettings(true); });
    layout->addWidget(m_header);
    auto* divider = new QFrame;
    divider->setFrameShape(QFrame::HLine);
    divider->setFixedHeight(1);
    divider->setStyleSheet(QStringLiteral("background: palette(mid); border: none;"));
    layout->addWidget(divider);

    auto* scroll = new QScrollArea;
    scroll->setObjectName(QStringLiteral("cardColumn"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* column = new QWidget;
    m_columnWidget = column;
    m_column = new QVBoxLayout(column);
    m_column->setContentsMargins(PanelTheme::inset, PanelTheme::inset, PanelTheme::inset, PanelTheme::inset);
    m_column->setSpacing(PanelTheme::cardSpacing);

    m_empty = new EmptyStateView;
    connect(m_empty, &EmptyStateView::connectClaudeRequested, this, [this] {
        m_empty->setMessage(m_state.installClaudeBridge());
        Q_EMIT fittedHeightChanged(); // the message adds lines
    });
    connect(m_empty, &EmptyStateView::demoModeRequested, this, &PanelView::turnOnDemoMode);
    m_column->addWidget(m_empty);
    m_forecast = new ForecastCard(m_state);
    m_scenarios = new ScenarioCard;
    m_recommendations = new RecommendationView;
    m_extra = new ExtraUsageView;
    m_trends = new TrendsView;
    m_daily = new DailyUsageView;
    for (QWidget* card : std::initializer_list<QWidget*>{m_forecast, m_scenarios, m_recommendations, m_extra,
                                                         m_trends, m_daily})
        m_column->addWidget(card);
    m_column->addStretch();
    scroll->setWidget(column);
    layout->addWidget(scroll, 1);

    m_footer = new FooterView;
    connect(m_footer, &FooterView::quitRequested, qApp, &QCoreApplication::quit);
    layout->addWidget(m_footer);
    return page;
}

PanelView::Screen PanelView::screen() const
{
    if (m_screens->currentWidget() == m_onboarding)
        return Screen::onboarding;
    return m_screens->currentWidget() == m_settings ? Screen::settings : Screen::main;
}

QWidget* PanelView::dragHandle() const
{
    return m_header;
}

QList<ProviderSummaryCard*> PanelView::providerCards() const
{
    QList<ProviderSummaryCard*> cards;
    for (const Provider provider : m_state.sortedEnabledProviders()) {
        if (ProviderSummaryCard* card = m_providerCards.value(provider); card && !card->isHidden())
            cards.append(card);
    }
    return cards;
}

bool PanelView::showsEmptyState() const
{
    return !m_empty->isHidden();
}

QString PanelView::footerText() const
{
    return m_footer->statusText();
}

std::optional<int> PanelView::fittedHeight(int width) const
{
    // Style and fonts set the heights: asked before the first showing, they must already be in place.
    ensurePolished();
    const auto heightOf = [](const QWidget* widget, int atWidth) {
        return widget->hasHeightForWidth() ? widget->heightForWidth(atWidth) : widget->sizeHint().height();
    };
    if (screen() == Screen::onboarding)
        return heightOf(m_onboarding, width);
    if (screen() == Screen::main && showsEmptyState())
        // Header and footer have fixed heights, which their size hints do not tell.
        return std::max(m_header->sizeHint().height(), m_header->minimumHeight()) + 1 +
               std::max(heightOf(m_columnWidget, width), m_columnWidget->sizeHint().height()) +
               std::max(m_footer->sizeHint().height(), m_footer->minimumHeight());
    return std::nullopt;
}

void PanelView::showSettings(bool show)
{
    m_settingsFlag = show;
    redraw();
}

void PanelView::scheduleRedraw()
{
    m_dirty = true;
    // A hidden panel catches up when it is shown: no work while nobody looks.
    if (isVisible())
        m_redrawTimer.start();
}

void PanelView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_dirty)
        redraw();
    if (screen() == Screen::onboarding)
        m_onboarding->fadeIn();
}

void PanelView::redraw()
{
    m_redrawTimer.stop();
    m_dirty = false;
    QWidget* target = !m_state.settings().hasOnboarded ? static_cast<QWidget*>(m_onboarding)
                      : m_settingsFlag                 ? static_cast<QWidget*>(m_settings)
                                                       : m_main;
    if (target == m_onboarding && m_screens->currentWidget() != m_onboarding && isVisible())
        m_onboarding->fadeIn();
    m_screens->setCurrentWidget(target);
    // The settings screen asks the disk and the search path: only while it shows.
    if (target == m_settings)
        m_settings->redraw();
    redrawMain();
    const int fittedKind = target == m_onboarding ? 1 : target == m_main && showsEmptyState() ? 2 : 0;
    if (fittedKind != m_fittedKind) {
        m_fittedKind = fittedKind;
        Q_EMIT fittedHeightChanged();
    }
}

void PanelView::redrawMain()
{
    m_header->setStatus(m_state.globalStatus());
    const AppSettings& settings = m_state.settings();

    FooterView::Input footer;
    footer.demoMode = settings.demoMode;
    footer.capture = m_options.capture;
    footer.lastRefresh = m_state.lastRefresh();
    footer.timeUntilBedtime = m_feeds.timeUntilBedtime ? m_feeds.timeUntilBedtime() : std::nullopt;
    m_footer->setInput(footer);

    const bool empty = m_state.workingSnapshots().isEmpty();
    m_empty->setVisible(empty);
    if (empty)
        m_empty->setCodexFound(m_feeds.codexFound && m_feeds.codexFound());

    const QList<Provider> providers = m_state.sortedEnabledProviders();
    for (auto it = m_providerCards.begin(); it != m_providerCards.end();) {
        if (!providers.contains(it.key())) {
            delete it.value();
            it = m_providerCards.erase(it);
        } else {
            ++it;
        }
    }
    for (qsizetype i = 0; i < providers.size(); ++i) {
        ProviderSummaryCard*& card = m_providerCards[providers[i]];
        if (!card) {
            card = new ProviderSummaryCard;
            card->setObjectName(QStringLiteral("provider-") + rawValue(providers[i]));
            // After the empty state, in display order.
            m_column->insertWidget(static_cast<int>(i) + 1, card);
        }
        card->setVisible(!empty);
        if (!empty)
            card->setInput(ProviderSummaryInput::fromState(m_state, m_feeds, providers[i]));
    }

    m_forecast->setVisible(!empty);
    if (empty) {
        for (QWidget* card :
             std::initializer_list<QWidget*>{m_scenarios, m_recommendations, m_extra, m_trends, m_daily})
            card->hide();
        return;
    }
    const ForecastCardInput forecast = ForecastCardInput::fromState(m_state);
    m_forecast->setInput(forecast);

    ScenarioCard::Input scenarios;
    scenarios.window = forecast.window;
    scenarios.showRemaining = settings.showRemaining;
    if (m_feeds.scenarios && forecast.forecast)
        scenarios.scenarios = m_feeds.scenarios(forecast.provider, forecast.window);
    m_scenarios->setInput(scenarios);
    m_recommendations->setRecommendations(m_state.recommendations());
    m_extra->setReport(m_feeds.overage ? m_feeds.overage() : std::nullopt);
    const QList<ProviderUsage> usage = m_feeds.usage ? m_feeds.usage() : QList<ProviderUsage>();
    m_trends->setUsage(usage);
    DailyUsageView::Input daily;
    daily.usage = usage;
    daily.spendThisWeekTotal = m_feeds.spendThisWeekTotal ? m_feeds.spendThisWeekTotal() : QString();
    daily.peakWindow = m_feeds.peakUsageWindowLabel ? m_feeds.peakUsageWindowLabel() : std::nullopt;
    m_daily->setInput(daily);
}

void PanelView::turnOnDemoMode()
{
    if (m_state.settings().demoMode)
        return;
    AppSettings next = m_state.settings();
    next.demoMode = true;
    m_state.setSettings(next);
    m_state.startProviders();
    m_state.refresh();
}
