#include "ui/PanelView.h"
#include "core/io/SettingsStore.h"
#include "core/text/TimeFormatting.h"
#include "platform/LoginItemManager.h"
#include "ui/EmptyStateView.h"
#include "ui/FocusRing.h"
#include "ui/FooterView.h"
#include "ui/ForecastCard.h"
#include "ui/HeaderView.h"
#include "ui/OnboardingView.h"
#include "ui/ProviderSummaryCard.h"
#include "ui/SegmentedPicker.h"
#include "ui/SettingsView.h"
#include "ui/UiTestSupport.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QToolButton>

using UiTest::forecast;
using UiTest::keyed;
using UiTest::onboarded;

namespace {

template <typename T = QAbstractButton> T* named(const QWidget& root, const QString& name)
{
    return root.findChild<T*>(name);
}

// A state whose live Codex provider reports `health`, and whose settings go through a real settings file.
struct LiveState
{
    explicit LiveState(ProviderHealth::State health, AppSettings initial = onboarded())
    {
        settingsStore.save(initial);
        AppStateEnvironment environment = AppTest::environment();
        environment.providerFactory =
            [this, health](Provider provider,
                           const std::shared_ptr<SnapshotStore>&) -> std::shared_ptr<UsageProvider> {
            if (provider != Provider::codex)
                return nullptr;
            ++created;
            return std::make_shared<AppTest::FakeProvider>(provider,
                                                           ProviderHealth{health, "detail", {}, {}});
        };
        environment.store = std::make_shared<SnapshotStore>(dir.filePath("snapshots.ndjson"));
        environment.loadSettings = [this] { return settingsStore.load(); };
        environment.scheduleSave = [this](const AppSettings& settings) { settingsStore.save(settings); };
        state = std::make_unique<AppState>(std::move(environment));
        state->init();
        TestSupport::waitFor([&] { return state->lastRefresh().has_value(); }, 10000);
    }
    QTemporaryDir dir;
    SettingsStore settingsStore{dir.filePath("settings.json")};
    int created = 0;
    std::unique_ptr<AppState> state;
};

TEST(PanelView, FirstLaunchShowsOnlyOnboardingUntilDone)
{
    LiveState live(ProviderHealth::State::connected, AppSettings{});
    UiTest::publish(*live.state,
                    keyed({forecast(Provider::codex, WindowKind::fiveHour, 5, ForecastStatus::safe)}));
    PanelView view(*live.state, {});
    view.show();
    EXPECT_EQ(view.screen(), PanelView::Screen::onboarding);
    // Settings cannot jump the queue either.
    view.showSettings(true);
    EXPECT_EQ(view.screen(), PanelView::Screen::onboarding);
    view.showSettings(false);

    named(view, "onboardingDone")->click();
    EXPECT_TRUE(live.settingsStore.load().hasOnboarded);
    ASSERT_TRUE(TestSupport::waitFor([&] { return view.screen() == PanelView::Screen::main; }));
    EXPECT_FALSE(view.showsEmptyState());
}

TEST(PanelView, EmptyStateUntilTheFirstSnapshotThenCardsWithoutUserAction)
{
    // The test's PATH holds no codex; the provider's own search decides.
    const std::pair<ProviderHealth::State, QString> rows[] = {
        {ProviderHealth::State::connected, "Connecting to Codex…"},
        {ProviderHealth::State::error, "Connecting to Codex…"},
        {ProviderHealth::State::unavailable, "Nothing connected yet"},
    };
    for (const auto& [health, title] : rows) {
        LiveState live(health);
        PanelView view(*live.state, {});
        view.show();
        EXPECT_EQ(view.screen(), PanelView::Screen::main);
        ASSERT_TRUE(view.showsEmptyState());
        EXPECT_EQ(view.findChild<EmptyStateView*>()->title(), title) << rawValue(health).toStdString();
        EXPECT_TRUE(view.providerCards().isEmpty());
        EXPECT_EQ(view.footerText(), "Nothing read yet");
    }
    auto state = UiTest::makeState(onboarded());
    PanelView view(*state, {});
    view.show();
    ASSERT_TRUE(view.showsEmptyState());
    UiTest::publish(*state,
                    keyed({forecast(Provider::codex, WindowKind::fiveHour, 5, ForecastStatus::safe)}));
    ASSERT_TRUE(TestSupport::waitFor([&] { return !view.showsEmptyState(); }));
    ASSERT_EQ(view.providerCards().size(), 2);
    EXPECT_EQ(view.providerCards()[0]->card().provider, Provider::codex);
    EXPECT_EQ(view.providerCards()[1]->card().provider, Provider::claude);

    // Another account's readings bring a card of its own after the assistants' cards, headed with its label
    // (its key while no folder names it), with its own window.
    UsageSnapshot work =
        TestSupport::reading(Provider::claude, WindowKind::fiveHour, UiTest::ago(5), 70, UiTest::ago(-60));
    work.account = QStringLiteral("1a2b3c4d");
    UsageSnapshot workWeek = work;
    workWeek.windowKind = WindowKind::sevenDay;
    workWeek.windowDurationMins.reset();
    const auto accounts = UiTest::makeState(
        onboarded(),
        {TestSupport::reading(Provider::claude, WindowKind::fiveHour, UiTest::ago(5), 20, UiTest::ago(-60)),
         work, workWeek});
    PanelView withAccount(*accounts, {});
    withAccount.show();
    ASSERT_TRUE(TestSupport::waitFor([&] { return withAccount.providerCards().size() == 3; }));
    const ProviderCardText other = withAccount.providerCards()[2]->card();
    EXPECT_EQ(other.title, QStringLiteral("Claude Code \u00b7 1a2b3c4d"));
    ASSERT_EQ(other.rows.size(), 2);
    EXPECT_EQ(other.rows[0].text.percent, QStringLiteral("30% left"));
    EXPECT_EQ(other.rows[1].text.label, QStringLiteral("7d"));
    EXPECT_EQ(withAccount.providerCards()[1]->card().rows.value(0).text.percent, QStringLiteral("80% left"));

    // The forecast card has a tab per account, titled as its card; the other account's shows its own window.
    ForecastCard* forecastCard = withAccount.forecastCard();
    EXPECT_EQ(forecastCard->providerTabs()->labels(),
              (QStringList{"Claude Code", "Claude Code \u00b7 1a2b3c4d"}));
    const auto shown = [&](Qt::Key key, const QString& account) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QCoreApplication::sendEvent(forecastCard->providerTabs(), &press);
        return TestSupport::waitFor([&] { return forecastCard->input().account == account; });
    };
    ASSERT_TRUE(shown(Qt::Key_Right, "1a2b3c4d"));
    const ForecastCardInput input = forecastCard->input();
    EXPECT_EQ(
        std::tuple(input.window, input.forecast->currentUsedPercent, input.chart.points.value(0).percent),
        std::tuple(WindowKind::fiveHour, 70.0, 70.0));
    EXPECT_EQ(forecastCard->findChild<QLabel*>("rangeTitle")->text(),
              "Claude Code \u00b7 1a2b3c4d " + ProviderSummary::rangeTitle(WindowKind::fiveHour));
    ASSERT_TRUE(shown(Qt::Key_Left, ""));
    EXPECT_EQ(forecastCard->input().forecast->currentUsedPercent, 20.0);
}

TEST(PanelView, EmptyStateAndWelcomeSayWhatIsReallySetUp)
{
    struct Row
    {
        const char* name;
        bool codexFound;
        ClaudeBridgeStatus::State bridge;
        QString title;
        QString states;
        bool connectShown;
    };
    const QString waiting = "Claude Code bridge installed — waiting for Claude Code's first reply";
    const Row rows[] = {
        {"nothing", false, ClaudeBridgeStatus::State::notInstalled, "Nothing connected yet", "", true},
        {"bridge only", false, ClaudeBridgeStatus::State::installed, "Waiting for Claude Code", waiting,
         false},
        {"both", true, ClaudeBridgeStatus::State::wrapping, "Connecting to Codex…", waiting, false},
    };
    for (const Row& row : rows) {
        auto state = UiTest::makeState(onboarded(), {}, row.codexFound, row.bridge);
        PanelView view(*state, {});
        view.show();
        auto* empty = view.findChild<EmptyStateView*>();
        EXPECT_EQ(empty->title(), row.title) << row.name;
        EXPECT_EQ(empty->providerStates(), row.states) << row.name;
        EXPECT_FALSE(empty->line().contains("connect Claude below") && !row.connectShown) << row.name;
        EXPECT_EQ(named(view, "emptyConnectClaude")->isVisibleTo(&view), row.connectShown) << row.name;

        // The welcome: Codex connects by itself only when it was found, Claude's line and button follow the
        // bridge.
        auto first = UiTest::makeState(AppSettings{}, {}, row.codexFound, row.bridge);
        PanelView welcome(*first, {});
        welcome.show();
        const auto* onboarding = welcome.findChild<OnboardingView*>();
        const QString line = onboarding->codexLine();
        EXPECT_EQ(line == "Codex connects automatically.", row.codexFound) << line.toStdString();
        EXPECT_EQ(line.contains("Install the Codex CLI"), !row.codexFound) << line.toStdString();
        EXPECT_EQ(onboarding->claudeLine(), first->publishedState().welcomeClaudeLine) << row.name;
        EXPECT_EQ(named(welcome, "onboardingConnectClaude")->isVisibleTo(&welcome), row.connectShown)
            << row.name;
    }
}

// The demo panel 460 × 720, shown and active, as a person uses it.
struct DemoPanel
{
    DemoPanel()
    {
        AppSettings settings = onboarded();
        settings.demoMode = true;
        state = UiTest::makeState(settings);
        view = std::make_unique<PanelView>(*state, PanelView::Options{});
        view->resize(460, 720);
        view->show();
        view->activateWindow();
        EXPECT_TRUE(TestSupport::waitFor([&] { return QApplication::activeWindow() == view.get(); }));
        EXPECT_TRUE(TestSupport::waitFor([&] { return !view->showsEmptyState(); }));
        QCoreApplication::processEvents();
        scroll = view->findChild<QScrollArea*>("cardColumn");
    }
    void key(int key)
    {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(QApplication::focusWidget() ? QApplication::focusWidget() : view.get(),
                                &press);
        QCoreApplication::processEvents();
    }
    std::unique_ptr<AppState> state;
    std::unique_ptr<PanelView> view;
    QScrollArea* scroll = nullptr;
};

TEST(PanelView, ChangingBasisOrProviderLeavesTheClickedControlWhereItWas)
{
    DemoPanel panel;
    ForecastCard* card = panel.view->forecastCard();
    // The forecast card near the top of the viewport, as when its basis buttons are in reach.
    panel.scroll->verticalScrollBar()->setValue(card->y() - 20);
    QCoreApplication::processEvents();
    const auto click = [&](SegmentedPicker* picker, int index, int of) {
        const QPointF at((index + 0.5) * picker->width() / of, picker->height() / 2.0);
        const QPoint before = picker->mapTo(panel.view.get(), QPoint(0, 0));
        QMouseEvent press(QEvent::MouseButtonPress, at, picker->mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(picker, &press);
        QMouseEvent release(QEvent::MouseButtonRelease, at, picker->mapToGlobal(at), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(picker, &release);
        // Every redraw and compute cycle the click starts.
        for (int i = 0; i < 20; ++i)
            QCoreApplication::processEvents();
        return picker->mapTo(panel.view.get(), QPoint(0, 0)) - before;
    };
    for (const int index : {1, 4, 6, 0, 2})
        EXPECT_EQ(click(card->basisPicker(), index, 7), QPoint()) << index;
    EXPECT_EQ(panel.state->shownBasis(), allForecastBases[2]);
    SegmentedPicker* tabs = card->providerTabs();
    ASSERT_EQ(tabs->labels().size(), 2);
    for (const int index : {1, 0})
        EXPECT_EQ(click(card->providerTabs(), index, 2), QPoint()) << "tab " << index;
}

TEST(PanelView, KeyboardTabsInVisualOrderWithARingEnterPressesAndKeysScroll)
{
    DemoPanel panel;
    auto* header = panel.view->findChild<HeaderView*>();
    header->refreshButton()->setFocus(Qt::TabFocusReason);
    auto* ring = panel.view->findChild<FocusRing*>();
    ASSERT_NE(ring, nullptr);
    QList<QWidget*> visited{QApplication::focusWidget()};
    const auto* ringWidget = panel.view->findChild<QWidget*>("focusRing");
    for (int i = 0; i < 60 && !visited.first(visited.size() - 1).contains(visited.last()); ++i) {
        panel.key(Qt::Key_Tab);
        visited << QApplication::focusWidget();
        // Every stop shows the ring whole, not clipped by the control's parent, and the column scrolls it
        // into view.
        EXPECT_EQ(ring->target(), QApplication::focusWidget()) << i;
        ringWidget = panel.view->findChild<QWidget*>("focusRing");
        ASSERT_NE(ringWidget, nullptr);
        EXPECT_TRUE(ringWidget->parentWidget()->rect().contains(ringWidget->geometry()))
            << QApplication::focusWidget()->objectName().toStdString();
    }
    visited.removeLast(); // back at the start
    QStringList names;
    for (const QWidget* stop : visited)
        names << QString(stop->metaObject()->className()) + ":" + stop->objectName();
    SCOPED_TRACE(names.join(" ").toStdString());
    ASSERT_GT(visited.size(), 5);
    EXPECT_EQ(visited.first(), header->refreshButton());
    EXPECT_EQ(visited[1], header->settingsButton());
    EXPECT_EQ(visited.last()->objectName(), "quit");
    EXPECT_FALSE(visited.contains(panel.scroll));
    // Top to bottom: each stop sits no higher than the one before (in the column's own coordinates).
    QWidget* column = panel.scroll->widget();
    int previous = -1;
    for (QWidget* stop : visited) {
        if (!column->isAncestorOf(stop))
            continue;
        const int y = stop->mapTo(column, QPoint(0, 0)).y();
        EXPECT_GE(y, previous) << stop->metaObject()->className() << " " << stop->objectName().toStdString();
        previous = y;
    }

    // End and Home scroll the column; Enter presses the focused button.
    header->refreshButton()->setFocus(Qt::TabFocusReason);
    QScrollBar* bar = panel.scroll->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    panel.key(Qt::Key_End);
    EXPECT_EQ(bar->value(), bar->maximum());
    panel.key(Qt::Key_PageUp);
    EXPECT_EQ(bar->value(), std::max(0, bar->maximum() - bar->pageStep()));
    panel.key(Qt::Key_Home);
    EXPECT_EQ(bar->value(), 0);
    // Reopened, the overview starts at its top.
    panel.key(Qt::Key_End);
    panel.view->hide();
    panel.view->show();
    EXPECT_EQ(bar->value(), 0);

    header->settingsButton()->setFocus(Qt::TabFocusReason);
    panel.key(Qt::Key_Return);
    ASSERT_TRUE(TestSupport::waitFor([&] { return panel.view->screen() == PanelView::Screen::settings; }));
    // Opened on Settings (the tray menu's "Settings…"), the focus is on the page: Page Down and Home scroll
    // it and change no setting.
    panel.view->hide();
    PanelView settings(*panel.state, {false, true});
    settings.resize(460, 720);
    settings.show();
    settings.activateWindow();
    ASSERT_TRUE(TestSupport::waitFor([&] { return QApplication::activeWindow() == &settings; }));
    EXPECT_EQ(QApplication::focusWidget(), settings.settingsView());
    const AppSettings before = panel.state->settings();
    QScrollBar* page = settings.settingsView()->findChild<QScrollArea*>()->verticalScrollBar();
    ASSERT_GT(page->maximum(), 0);
    panel.key(Qt::Key_PageDown);
    EXPECT_GT(page->value(), 0);
    panel.key(Qt::Key_Home);
    EXPECT_EQ(page->value(), 0);
    EXPECT_EQ(panel.state->settings(), before);
}

TEST(PanelView, DemoModeFromTheEmptyStateAndTheSettingsSwitch)
{
    LiveState live(ProviderHealth::State::connected);
    ASSERT_EQ(live.created, 1);
    PanelView view(*live.state, {});
    view.show();
    named(view, "emptyDemoMode")->click();
    EXPECT_TRUE(live.settingsStore.load().demoMode);
    // The live providers stop at once.
    EXPECT_EQ(live.state->liveProvider(Provider::codex), nullptr);
    EXPECT_TRUE(live.state->providerHealth().isEmpty());
    ASSERT_TRUE(TestSupport::waitFor([&] { return !view.showsEmptyState(); }));
    EXPECT_EQ(view.footerText(), "Demo data");

    view.showSettings(true);
    auto* demo = named<QCheckBox>(*view.settingsView(), "demoMode");
    EXPECT_TRUE(demo->isChecked());
    demo->setChecked(false);
    EXPECT_FALSE(live.settingsStore.load().demoMode);
    EXPECT_EQ(live.created, 2);
    EXPECT_EQ(live.state->providerHealth().value(Provider::codex).state, ProviderHealth::State::connected);
    // Live again: the empty log shows the empty state, not the demo data.
    ASSERT_TRUE(TestSupport::waitFor([&] { return view.showsEmptyState(); }));
    EXPECT_NE(view.footerText(), "Demo data");
    demo->setChecked(true);
    EXPECT_TRUE(live.settingsStore.load().demoMode);
    EXPECT_EQ(live.state->liveProvider(Provider::codex), nullptr);
}

TEST(PanelView, FooterItems)
{
    struct Row
    {
        bool demo;
        bool capture;
        bool sleep;
        bool read;
        QString status;
        bool bedtime;
    };
    const QString updated = "Updated " + UiTest::kNow.toLocalTime().toString("HH:mm");
    const Row rows[] = {
        {true, false, false, false, "Demo data", false},
        {true, true, false, false, "", false},
        {false, false, false, false, "Nothing read yet", false},
        {false, false, true, true, updated, true},
    };
    for (const Row& row : rows) {
        AppSettings settings = onboarded();
        settings.demoMode = row.demo;
        settings.sleep.enabled = row.sleep;
        QList<UsageSnapshot> stored;
        if (row.read)
            stored.append(UiTest::reading(Provider::codex, WindowKind::fiveHour, UiTest::ago(10), 40));
        auto state = UiTest::makeState(settings, stored);
        PanelView view(*state, {row.capture, false});
        view.show();
        EXPECT_EQ(view.footerText(), row.status) << row.demo << row.capture;
        const QString bedtime = view.footer()->bedtimeText();
        EXPECT_EQ(bedtime.startsWith("Bedtime in "), row.bedtime) << bedtime.toStdString();
    }
    // The countdown to the next 23:00 local.
    AppSettings settings = onboarded();
    settings.sleep.enabled = true;
    auto state = UiTest::makeState(settings);
    PanelView view(*state, {});
    view.show();
    const QDateTime local = UiTest::kNow.toLocalTime();
    QDateTime bed(local.date(), QTime(23, 0));
    if (bed <= local)
        bed = bed.addDays(1);
    EXPECT_EQ(view.footer()->bedtimeText(),
              "Bedtime in " + TimeFormatting::countdown(static_cast<double>(local.secsTo(bed))));
}

TEST(PanelView, HeaderButtonsRefreshAndOpenSettingsAndBackReturns)
{
    auto state = UiTest::makeState(onboarded());
    PanelView view(*state, {});
    view.show();
    auto* header = view.findChild<HeaderView*>();
    EXPECT_EQ(header->refreshButton()->accessibleName(), "Refresh");
    EXPECT_EQ(header->settingsButton()->toolTip(), "Settings");
    const int cycles = state->requestedCycles();
    header->refreshButton()->click();
    EXPECT_EQ(state->requestedCycles(), cycles + 1);
    // The footer says what the click did.
    EXPECT_EQ(view.footer()->noticeText(), "Refreshing…");
    EXPECT_TRUE(
        TestSupport::waitFor([&] { return view.footer()->noticeText().startsWith("Refreshed at "); }));
    header->settingsButton()->click();
    EXPECT_EQ(view.screen(), PanelView::Screen::settings);
    named(*view.settingsView(), "back")->click();
    EXPECT_EQ(view.screen(), PanelView::Screen::main);

    PanelView startOnSettings(*state, {false, true});
    EXPECT_EQ(startOnSettings.screen(), PanelView::Screen::settings);
}

TEST(PanelView, StartAtLoginWritesTheAutostartEntry)
{
    auto state = UiTest::makeState(onboarded());
    PanelView view(*state, {false, true});
    auto* login = named<QCheckBox>(view, "startAtLogin");
    ASSERT_NE(login, nullptr);
    EXPECT_FALSE(login->isChecked());
    login->setChecked(true);
    EXPECT_TRUE(state->settings().startAtLogin);
    EXPECT_TRUE(QFile::exists(LoginItemManager::entryPath()));
    login->setChecked(false);
    EXPECT_FALSE(state->settings().startAtLogin);
    EXPECT_FALSE(QFile::exists(LoginItemManager::entryPath()));
}

} // namespace

TEST(PanelView, OutsideTextIsShownAsPlainTextInEveryLabelAndTooltip)
{
    const QString hostile = QStringLiteral("x<img src='/nonexistent.png'><h1 style='color:red'>big</h1>");
    UsageSnapshot reading = UiTest::reading(Provider::claude, WindowKind::fiveHour, UiTest::ago(1), 40);
    reading.modelDisplayName = hostile;
    reading.effortLevel = hostile;
    reading.limitName = hostile;
    reading.planType = hostile;
    auto state = UiTest::makeState(onboarded(), {reading});
    PanelView view(*state, {});
    view.show();
    ASSERT_TRUE(TestSupport::waitFor([&] { return !view.showsEmptyState(); }));
    int shown = 0;
    for (const QLabel* label : view.findChildren<QLabel*>()) {
        if (!label->text().contains(QStringLiteral("<img")))
            continue;
        ++shown;
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->text().toStdString();
    }
    EXPECT_GE(shown, 1);
    for (const QWidget* widget : view.findChildren<QWidget*>())
        EXPECT_FALSE(widget->toolTip().contains(QStringLiteral("<img"))) << widget->toolTip().toStdString();
}
