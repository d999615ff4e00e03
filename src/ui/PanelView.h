#pragma once

#include "app/PublishedState.h"
#include "ui/PanelFeeds.h"

#include <QMap>
#include <QTimer>
#include <QWidget>

#include <optional>

class AppState;
class DailyUsageView;
class EmptyStateView;
class ExtraUsageView;
class FooterView;
class ForecastCard;
class HeaderView;
class OnboardingView;
class ProviderSummaryCard;
class QScrollArea;
class QStackedWidget;
class QVBoxLayout;
class RecommendationView;
class ScenarioCard;
class SettingsView;
class StateActions;
class TrendsView;

// The panel's content: onboarding on a first launch, the settings screen while it is open, otherwise the main
// screen (header, the scrolling column of cards or the empty state, footer). It follows the state: a change
// redraws it once the event loop is free (at once when shown, else on the next show).
class PanelView : public QWidget
{
    Q_OBJECT
public:
    struct Options
    {
        // Leaves the "Demo data" label out, for screenshots.
        bool capture = false;
        bool startOnSettings = false;
    };

    PanelView(AppState& state, Options options, QWidget* parent = nullptr);
    PanelView(AppState& state, Options options, PanelFeeds feeds, QWidget* parent = nullptr);
    ~PanelView() override;

    enum class Screen
    {
        onboarding,
        settings,
        main
    };
    [[nodiscard]] Screen screen() const;
    // The header of the main screen, by which the panel can be dragged.
    [[nodiscard]] QWidget* dragHandle() const;
    [[nodiscard]] FooterView* footer() const { return m_footer; }
    [[nodiscard]] SettingsView* settingsView() const { return m_settings; }
    [[nodiscard]] ForecastCard* forecastCard() const { return m_forecast; }
    [[nodiscard]] QList<ProviderSummaryCard*> providerCards() const;
    [[nodiscard]] bool showsEmptyState() const;
    [[nodiscard]] QString footerText() const;
    // The height that shows the whole screen at this width when it is a short one (the welcome and the empty
    // state), so the panel need not stand mostly blank; nothing for the screens that fill any height.
    [[nodiscard]] std::optional<int> fittedHeight(int width) const;
    // The outside actions; replacing a member takes effect on the next redraw.
    [[nodiscard]] PanelFeeds& feeds() { return m_feeds; }
    // Draws the main screen from one published value: redraw() passes the state's, tests crafted ones.
    void render(const PublishedState& state);

Q_SIGNALS:
    // fittedHeight() may answer differently now (another screen, or the empty state came or went).
    void fittedHeightChanged();

public Q_SLOTS:
    // Brings every screen in line with the state now.
    void redraw();
    void showSettings(bool show);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    // Escape leaves Settings; Enter presses the focused button; Home, End, Page Up and Page Down scroll.
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void scheduleRedraw();
    QWidget* buildMain();
    void redrawMain();
    void turnOnDemoMode();
    void updateTabOrder();
    [[nodiscard]] QScrollArea* currentScrollArea() const;
    // Secondary text takes the colour derived from the current palette's own main colours.
    void applyMutedText();

    AppState& m_state;
    Options m_options;
    PanelFeeds m_feeds;
    StateActions* m_actions;
    bool m_settingsFlag = false;
    bool m_dirty = true;
    // Which short screen showed at the last redraw, to tell fittedHeightChanged.
    int m_fittedKind = -1;
    QTimer m_redrawTimer;

    QStackedWidget* m_screens = nullptr;
    OnboardingView* m_onboarding = nullptr;
    // The welcome scrolls on a screen too short for it (scale 2 on 600 px).
    QScrollArea* m_welcome = nullptr;
    SettingsView* m_settings = nullptr;
    QWidget* m_main = nullptr;
    HeaderView* m_header = nullptr;
    QScrollArea* m_scroll = nullptr;
    QVBoxLayout* m_column = nullptr;
    QWidget* m_columnWidget = nullptr;
    EmptyStateView* m_empty = nullptr;
    QMap<Provider, ProviderSummaryCard*> m_providerCards;
    // The other accounts' cards, after the assistants' own, in the published order.
    QList<ProviderSummaryCard*> m_accountCards;
    ForecastCard* m_forecast = nullptr;
    ScenarioCard* m_scenarios = nullptr;
    RecommendationView* m_recommendations = nullptr;
    ExtraUsageView* m_extra = nullptr;
    TrendsView* m_trends = nullptr;
    DailyUsageView* m_daily = nullptr;
    FooterView* m_footer = nullptr;
};
