#include "ui/PanelView.h"

#include "app/StateActions.h"

#include "app/AppState.h"
#include "core/text/TimeFormatting.h"
#include "ui/DailyUsageView.h"
#include "ui/EmptyStateView.h"
#include "ui/ExtraUsageView.h"
#include "ui/FocusRing.h"
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

#include <QAbstractButton>
#include <QApplication>
#include <QFrame>
#include <QKeyEvent>
#include <QPointer>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

namespace {

void collectFocusable(QWidget* widget, QList<QWidget*>& out);

void collectFocusable(QLayout* layout, QList<QWidget*>& out)
{
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem* item = layout->itemAt(i);
        if (item->widget())
            collectFocusable(item->widget(), out);
        else if (item->layout())
            collectFocusable(item->layout(), out);
    }
}

// The controls that Tab visits, in the order the layouts place them: top to bottom, left to right.
void collectFocusable(QWidget* widget, QList<QWidget*>& out)
{
    if (widget->isHidden())
        return;
    if (auto* area = qobject_cast<QScrollArea*>(widget)) {
        if (area->widget())
            collectFocusable(area->widget(), out);
        return;
    }
    if ((widget->focusPolicy() & Qt::TabFocus) && widget->isEnabled())
        out.append(widget);
    if (widget->layout())
        collectFocusable(widget->layout(), out);
}

} // namespace

PanelView::PanelView(AppState& state, Options options, QWidget* parent)
    : PanelView(state, options, PanelFeeds::fromState(state), parent)
{}

PanelView::PanelView(AppState& state, Options options, PanelFeeds feeds, QWidget* parent)
    : QWidget(parent), m_state(state), m_options(options), m_feeds(std::move(feeds)),
      m_actions(new StateActions(state, this)), m_settingsFlag(options.startOnSettings)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_screens = new QStackedWidget;
    layout->addWidget(m_screens);

    m_onboarding = new OnboardingView;
    connect(m_onboarding, &OnboardingView::connectClaudeRequested, this, [this] {
        m_actions->installBridge([this](const QString& message) {
            m_onboarding->setMessage(message);
            Q_EMIT fittedHeightChanged(); // the message adds lines
        });
    });
    connect(m_onboarding, &OnboardingView::doneRequested, this, [this] {
        AppSettings next = m_state.settings();
        next.hasOnboarded = true;
        m_state.setSettings(next);
    });
    m_welcome = new QScrollArea;
    m_welcome->setObjectName(QStringLiteral("welcomeScroll"));
    m_welcome->setWidgetResizable(true);
    m_welcome->setFrameShape(QFrame::NoFrame);
    m_welcome->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_welcome->setWidget(m_onboarding);
    m_screens->addWidget(m_welcome);

    m_settings = new SettingsView(m_state, m_feeds);
    // The page itself takes the focus when Settings opens (no Tab stop of its own).
    m_settings->setFocusPolicy(Qt::ClickFocus);
    connect(m_settings, &SettingsView::backRequested, this, [this] { showSettings(false); });
    m_screens->addWidget(m_settings);

    m_main = buildMain();
    m_screens->addWidget(m_main);

    new FocusRing(this);
    // The columns are no Tab stops of their own; a control reached by keyboard is scrolled into view (a
    // click leaves the column where it is).
    for (QScrollArea* area : findChildren<QScrollArea*>())
        area->setFocusPolicy(Qt::NoFocus);
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        if (!now || !now->window()->testAttribute(Qt::WA_KeyboardFocusChange) ||
            QGuiApplication::mouseButtons() != Qt::NoButton)
            return;
        for (QScrollArea* area : findChildren<QScrollArea*>())
            if (area->widget() && area->widget()->isAncestorOf(now))
                area->ensureWidgetVisible(now, 0, PanelTheme::inset);
    });

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
    connect(m_header, &HeaderView::refreshRequested, this, [this] {
        m_footer->showNotice(QStringLiteral("Refreshing…"));
        // Say so once the cycle this click started has landed.
        auto once = std::make_shared<QMetaObject::Connection>();
        *once = connect(&m_state, &AppState::cycleFinished, this, [this, once] {
            disconnect(*once);
            // When this refresh finished; the last refresh that changed something may be older.
            const QDateTime finished = m_state.now();
            m_footer->showNotice(QStringLiteral("Refreshed at ") + TimeFormatting::clock(finished, finished));
        });
        m_state.refreshAll();
    });
    connect(m_header, &HeaderView::settingsRequested, this, [this] { showSettings(true); });
    layout->addWidget(m_header);
    auto* divider = new QFrame;
    divider->setFrameShape(QFrame::HLine);
    divider->setFixedHeight(1);
    divider->setStyleSheet(QStringLiteral("background: palette(mid); border: none;"));
    layout->addWidget(divider);

    auto* scroll = new QScrollArea;
    m_scroll = scroll;
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
        m_actions->installBridge([this](const QString& message) {
            m_empty->setMessage(message);
            Q_EMIT fittedHeightChanged(); // the message adds lines
        });
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
    if (m_screens->currentWidget() == m_welcome)
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
    for (ProviderSummaryCard* card : m_accountCards)
        if (!card->isHidden())
            cards.append(card);
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

void PanelView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    if (event->spontaneous())
        return;
    // Each opening starts at the top of the overview, wherever the last one was left.
    m_scroll->verticalScrollBar()->setValue(0);
    if (m_settingsFlag) {
        m_settingsFlag = false;
        m_dirty = true;
    }
}

QScrollArea* PanelView::currentScrollArea() const
{
    QWidget* current = m_screens->currentWidget();
    if (auto* area = qobject_cast<QScrollArea*>(current))
        return area;
    return current->findChild<QScrollArea*>();
}

void PanelView::keyPressEvent(QKeyEvent* event)
{
    QScrollArea* area = currentScrollArea();
    QScrollBar* bar = area ? area->verticalScrollBar() : nullptr;
    switch (event->key()) {
    case Qt::Key_Escape:
        // Settings first go back to the overview; on the overview Escape reaches the window, which hides.
        if (screen() == Screen::settings) {
            showSettings(false);
            return;
        }
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (auto* button = qobject_cast<QAbstractButton*>(focusWidget()); button && button->isEnabled()) {
            button->animateClick();
            return;
        }
        break;
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        if (bar) {
            const std::pair<int, QAbstractSlider::SliderAction> actions[] = {
                {Qt::Key_Home, QAbstractSlider::SliderToMinimum},
                {Qt::Key_End, QAbstractSlider::SliderToMaximum},
                {Qt::Key_PageUp, QAbstractSlider::SliderPageStepSub},
                {Qt::Key_PageDown, QAbstractSlider::SliderPageStepAdd}};
            for (const auto& [key, action] : actions)
                if (key == event->key())
                    bar->triggerAction(action);
            return;
        }
        break;
    default:
        break;
    }
    QWidget::keyPressEvent(event);
}

void PanelView::updateTabOrder()
{
    QList<QWidget*> chain;
    collectFocusable(m_screens->currentWidget(), chain);
    for (qsizetype i = 1; i < chain.size(); ++i)
        QWidget::setTabOrder(chain[i - 1], chain[i]);
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
    QWidget* target = !m_state.settings().hasOnboarded ? static_cast<QWidget*>(m_welcome)
                      : m_settingsFlag                 ? static_cast<QWidget*>(m_settings)
                                                       : m_main;
    if (target == m_welcome) {
        const PublishedState published = m_state.publishedState();
        m_onboarding->setCodexFound(published.codexFound);
        m_onboarding->setClaude(published.welcomeClaudeLine, published.connectClaudeLabel);
    }
    if (target == m_welcome && m_screens->currentWidget() != m_welcome && isVisible())
        m_onboarding->fadeIn();
    // Changing what the column shows must not move it: the control just used stays where it was in the
    // viewport (so the next click lands where the user aims), and otherwise the column keeps its position.
    bool keepPlace = target == m_main && m_screens->currentWidget() == m_main && isVisible();
    QScrollBar* bar = m_scroll->verticalScrollBar();
    const int kept = bar->value();
    QPointer<QWidget> anchor = QApplication::focusWidget();
    if (!anchor || !m_scroll->widget()->isAncestorOf(anchor) || !anchor->isVisible())
        anchor = nullptr;
    const int anchorY = anchor ? anchor->mapTo(m_scroll->viewport(), QPoint(0, 0)).y() : 0;
    // At the top with nothing in use there is no place to keep: no need to settle the layouts at once.
    keepPlace = keepPlace && (anchor || kept > 0);
    const bool opensSettings = target == m_settings && m_screens->currentWidget() != m_settings;
    m_screens->setCurrentWidget(target);
    // The settings screen asks the disk and the search path: only while it shows.
    if (target == m_settings)
        m_settings->redraw();
    // Page Down and Home then scroll the page rather than change a control nobody sees focused.
    if (opensSettings)
        m_settings->setFocus(Qt::OtherFocusReason);
    redrawMain();
    if (keepPlace) {
        // Let the rebuilt cards take their sizes now rather than on a later turn of the event loop.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        if (anchor && anchor->isVisible())
            bar->setValue(bar->value() + anchor->mapTo(m_scroll->viewport(), QPoint(0, 0)).y() - anchorY);
        else
            bar->setValue(kept);
    }
    updateTabOrder();
    const int fittedKind = target == m_welcome ? 1 : target == m_main && showsEmptyState() ? 2 : 0;
    if (fittedKind != m_fittedKind) {
        m_fittedKind = fittedKind;
        Q_EMIT fittedHeightChanged();
    }
}

void PanelView::redrawMain()
{
    render(m_state.publishedState());
}

void PanelView::render(const PublishedState& state)
{
    m_header->setStatus(state.globalStatus);
    const AppSettings& settings = state.settings;

    FooterView::Input footer;
    footer.demoMode = settings.demoMode;
    footer.capture = m_options.capture;
    footer.updated = state.updated;
    footer.timeUntilBedtime = state.timeUntilBedtime;
    m_footer->setInput(footer);

    const bool empty = state.bundle.snapshots.isEmpty();
    m_empty->setVisible(empty);
    if (empty) {
        EmptyStateView::Input input;
        input.title = state.emptyTitle;
        input.line = state.emptyLine;
        if (settings.enabledProviders.contains(Provider::codex)) {
            const auto codex = state.health.constFind(Provider::codex);
            if (codex != state.health.cend())
                input.codexHealth = *codex;
        }
        input.claudeBridge = state.claudeBridge;
        m_empty->setInput(input);
    }

    const QList<Provider>& providers = state.providers;
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
            card->setCard(state.cards.value(providers[i]));
    }
    while (m_accountCards.size() > state.accountCards.size())
        delete m_accountCards.takeLast();
    for (qsizetype i = 0; i < state.accountCards.size(); ++i) {
        if (i == m_accountCards.size()) {
            auto* card = new ProviderSummaryCard;
            card->setObjectName(QStringLiteral("account-%1").arg(i));
            m_column->insertWidget(static_cast<int>(providers.size() + i) + 1, card);
            m_accountCards.append(card);
        }
        m_accountCards[i]->setVisible(!empty);
        if (!empty)
            m_accountCards[i]->setCard(state.accountCards[i]);
    }

    m_forecast->setVisible(!empty);
    if (empty) {
        for (QWidget* card :
             std::initializer_list<QWidget*>{m_scenarios, m_recommendations, m_extra, m_trends, m_daily})
            card->hide();
        return;
    }
    const ForecastCardInput forecast = ForecastCardInput::fromPublished(state);
    m_forecast->setInput(forecast);

    ScenarioCard::Input scenarios;
    scenarios.window = forecast.window;
    scenarios.showRemaining = settings.showRemaining;
    scenarios.now = state.now;
    if (forecast.forecast)
        scenarios.scenarios = state.scenariosOf(forecast.provider, forecast.window);
    m_scenarios->setInput(scenarios);
    m_recommendations->setRecommendations(state.bundle.recommendations);
    m_extra->setReport(state.overage);
    m_trends->setUsage(state.usage);
    DailyUsageView::Input daily;
    daily.usage = state.usage;
    daily.spendThisWeekTotal = state.spendThisWeekTotal;
    daily.machines = state.machineUsage;
    daily.peakWindow = state.peakWindow;
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
