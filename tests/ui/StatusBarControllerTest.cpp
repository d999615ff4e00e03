#include "ui/StatusBarController.h"
#include "ui/GaugeIcon.h"
#include "ui/PanelView.h"
#include "ui/PanelWindow.h"
#include "ui/PlatformFakes.h"
#include "ui/UiTestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>

using UiTest::forecast;
using UiTest::keyed;
using UiTest::onboarded;

namespace {

// A 1280x800 screen with nothing reserved, as Xvfb has it.
PanelPlacement::Request plainScreen()
{
    PanelPlacement::Request request;
    request.screens = {{QRect(0, 0, 1280, 800), QRect(0, 0, 1280, 800)}};
    return request;
}

// Past the welcome, with a reading: the panel's full height.
const QList<UsageSnapshot> oneReading{
    UiTest::reading(Provider::codex, WindowKind::fiveHour, UiTest::ago(10), 40)};

struct Fixture
{
    explicit Fixture(AppSettings settings = {}, int height = 720, const QList<UsageSnapshot>& stored = {})
        : state(UiTest::makeState(settings, stored)), controller(*state, item, panels(), height)
    {
        controller.setScreenSource(plainScreen);
        controller.setHotKey(&key);
    }
    StatusBarController::PanelFactory panels()
    {
        return [this] { return new PanelWindow(new PanelView(*state, {})); };
    }
    FakeStatusItem item;
    FakeHotKey key;
    std::unique_ptr<AppState> state;
    StatusBarController controller;
};

TEST(StatusBarController, IconAndToolTipFollowTheState)
{
    AppSettings settings;
    settings.menuBarDisplayMode = MenuBarDisplayMode::compact;
    settings.showRemaining = false;
    Fixture f(settings);
    EXPECT_EQ(f.item.toolTip, "AI —\nTallyvane — No data  (Ctrl+Alt+G)");
    EXPECT_EQ(f.item.lastIcon,
              GaugeIcon::render(ForecastStatus::noData, 64).convertToFormat(f.item.lastIcon.format()));

    struct Step
    {
        QMap<QString, ForecastResult> results;
        QString toolTip;
        ForecastStatus status;
        QString figure;
    };
    const Step steps[] = {
        {keyed({forecast(Provider::codex, WindowKind::fiveHour, 42.9, ForecastStatus::safe)}),
         "AI  C 43%\nTallyvane — Safe  (Ctrl+Alt+G)", ForecastStatus::safe, "43"},
        {keyed({forecast(Provider::codex, WindowKind::fiveHour, 55, ForecastStatus::watch),
                forecast(Provider::claude, WindowKind::fiveHour, 20, ForecastStatus::safe)}),
         "AI  C 55% · Cl 20%\nTallyvane — Watch  (Ctrl+Alt+G)", ForecastStatus::watch, "55"},
        {keyed({forecast(Provider::codex, WindowKind::fiveHour, 100, ForecastStatus::limited)}),
         "AI  C 100%\nTallyvane — Limited  (Ctrl+Alt+G)", ForecastStatus::limited, "100"},
    };
    for (const Step& step : steps) {
        const int before = f.item.iconChanges;
        UiTest::publish(*f.state, step.results);
        // The redraw is queued after the change signal.
        ASSERT_TRUE(TestSupport::waitFor([&] { return f.item.toolTip == step.toolTip; }, 2000))
            << f.item.toolTip.toStdString();
        EXPECT_EQ(f.item.iconChanges, before + 1);
        EXPECT_EQ(f.item.lastIcon,
                  GaugeIcon::render(step.status, 64, step.figure).convertToFormat(f.item.lastIcon.format()))
            << rawValue(step.status).toStdString();
    }

    // An unchanged icon is not handed to the tray again.
    const int before = f.item.iconChanges;
    f.controller.updateButton();
    EXPECT_EQ(f.item.iconChanges, before);
}

TEST(StatusBarController, ToolTipNamesTheShortcutOnlyWhileTheHotKeyWorks)
{
    Fixture f;
    EXPECT_EQ(f.item.toolTip, "Tallyvane — No data  (Ctrl+Alt+G)");
    f.key.setActive(false);
    EXPECT_EQ(f.item.toolTip, "Tallyvane — No data");
    // A portal binding that arrives later names it again.
    f.key.setActive(true);
    EXPECT_EQ(f.item.toolTip, "Tallyvane — No data  (Ctrl+Alt+G)");
    f.controller.setHotKey(nullptr);
    EXPECT_EQ(f.item.toolTip, "Tallyvane — No data");
}

TEST(StatusBarController, TickRedrawsWithoutAnyStateChange)
{
    Fixture f;
    f.controller.setTickInterval(40);
    const int before = f.controller.buttonUpdates();
    const QString toolTip = f.item.toolTip;
    EXPECT_TRUE(TestSupport::waitFor([&] { return f.controller.buttonUpdates() >= before + 3; }, 2000));
    EXPECT_EQ(f.item.toolTip, toolTip);
}

TEST(StatusBarController, ClicksAndTheHotKeyToggleOneReusedPanel)
{
    Fixture f;
    EXPECT_EQ(f.controller.panel(), nullptr);
    f.item.click();
    ASSERT_NE(f.controller.panel(), nullptr);
    PanelWindow* panel = f.controller.panel();
    EXPECT_TRUE(panel->isVisible());
    f.key.press();
    EXPECT_FALSE(panel->isVisible());
    f.key.press();
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(f.controller.panel(), panel);
    f.controller.toggleUI(StatusBarController::Trigger::request);
    EXPECT_FALSE(panel->isVisible());
    f.controller.showUI(StatusBarController::Trigger::request);
    f.controller.showUI(StatusBarController::Trigger::request);
    EXPECT_TRUE(panel->isVisible());
}

// The placement arithmetic is PanelPlacement's table; here which trigger hands it what.
TEST(StatusBarController, PanelOpensWhereTheTriggerSays)
{
    struct Row
    {
        const char* name;
        StatusBarController::Trigger trigger;
        std::optional<QRect> trayGeometry;
        std::optional<QPoint> cursor;
        int height;
        QRect frame;
    };
    using T = StatusBarController::Trigger;
    const Row rows[] = {
        // 1280 - 12 - 460.
        {"hot key: floating", T::hotKey, QRect(1250, 0, 24, 24), std::nullopt, 720, QRect(808, 8, 460, 720)},
        {"tray icon: under it", T::trayIcon, QRect(600, 0, 24, 24), std::nullopt, 720,
         QRect(381, 32, 460, 720)},
        {"no tray geometry: under the cursor", T::trayIcon, std::nullopt, QPoint(300, 3), 500,
         QRect(70, 12, 460, 500)},
    };
    for (const Row& row : rows) {
        Fixture f(onboarded(), row.height, oneReading);
        f.item.trayGeometry = row.trayGeometry;
        f.controller.showUI(row.trigger, row.cursor);
        ASSERT_NE(f.controller.panel(), nullptr);
        EXPECT_EQ(f.controller.panel()->geometry(), row.frame) << row.name;
    }
}

TEST(StatusBarController, TheWelcomeAndTheEmptyStateSizeThePanelToTheirContent)
{
    for (const bool welcome : {true, false}) {
        Fixture f(welcome ? AppSettings{} : onboarded());
        f.key.press();
        PanelWindow* panel = f.controller.panel();
        auto* view = qobject_cast<PanelView*>(panel->content());
        ASSERT_TRUE(view->showsEmptyState() || view->screen() == PanelView::Screen::onboarding);
        EXPECT_LT(panel->height(), 500) << welcome;
        // Whole: nothing of the short screen is cut off or needs scrolling.
        QCoreApplication::processEvents();
        for (const QWidget* widget : view->findChildren<QWidget*>()) {
            if (!widget->isVisibleTo(view))
                continue;
            if (const auto* scroll = qobject_cast<const QScrollArea*>(widget)) {
                EXPECT_EQ(scroll->verticalScrollBar()->maximum(), 0) << welcome;
            }
            if (qobject_cast<const QLabel*>(widget) || qobject_cast<const QAbstractButton*>(widget)) {
                EXPECT_LE(widget->mapTo(view, QPoint(0, widget->height())).y(), view->height())
                    << welcome << " " << widget->objectName().toStdString();
            }
        }
        if (welcome) {
            // On a screen too short for it (scale 2 on 1024x600) the welcome scrolls, nothing squashed.
            panel->dismiss();
            f.controller.setScreenSource([] {
                PanelPlacement::Request request;
                request.screens = {{QRect(0, 0, 512, 300), QRect(0, 0, 512, 300)}};
                return request;
            });
            f.key.press();
            QCoreApplication::processEvents();
            const QWidget* onboarding = view->findChild<QWidget*>("onboarding");
            EXPECT_LE(panel->height(), 300);
            EXPECT_GE(onboarding->height(), onboarding->heightForWidth(onboarding->width()));
            continue;
        }
        // The first reading brings the cards: the open panel takes its full height again.
        f.state->store()->append(oneReading);
        f.state->refresh();
        EXPECT_TRUE(TestSupport::waitFor([&] { return panel->height() == 720; }, 10000));
    }
}

TEST(StatusBarController, WithoutATrayThePanelIsAWindowUntilATrayAppears)
{
    Fixture f(onboarded(), 720, oneReading);
    f.item.noTray();
    PanelWindow* panel = f.controller.panel();
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(panel->mode(), PanelWindow::Mode::window);
    EXPECT_EQ(panel->windowTitle(), QStringLiteral("Tallyvane"));
    EXPECT_TRUE(panel->isNoTrayNoticeShown());
    // A window stays open when another takes the focus; its close button hides it, and it comes back.
    QEvent deactivate(QEvent::WindowDeactivate);
    QApplication::sendEvent(panel, &deactivate);
    EXPECT_TRUE(panel->isVisible());
    panel->close();
    EXPECT_FALSE(panel->isVisible());
    f.controller.showUI(StatusBarController::Trigger::request);
    EXPECT_TRUE(panel->isVisible());

    auto* dismiss = panel->findChild<QPushButton*>(QStringLiteral("dontShowAgain"));
    ASSERT_NE(dismiss, nullptr);
    EXPECT_EQ(dismiss->text(), QStringLiteral("Don't show again"));
    dismiss->click();
    EXPECT_FALSE(panel->isNoTrayNoticeShown());
    EXPECT_FALSE(f.state->settings().showNoTrayNotice);

    // A tray appearing leaves the window in use open; closed, it comes back as a pop-up.
    f.item.trayAppears();
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(panel->mode(), PanelWindow::Mode::window);
    panel->close();
    ASSERT_TRUE(TestSupport::waitFor([&] { return panel->mode() == PanelWindow::Mode::popup; }));
    f.item.click();
    EXPECT_TRUE(panel->isVisible());
}

TEST(StatusBarController, TheNoTrayNoticeSaysHowTheClosedWindowComesBack)
{
    for (const bool hotKey : {true, false}) {
        Fixture f(onboarded(), 720, oneReading);
        f.key.setActive(hotKey);
        f.item.noTray();
        const QString notice = f.controller.panel()->noTrayNoticeText();
        EXPECT_TRUE(notice.contains("Closing this window keeps Tallyvane running")) << notice.toStdString();
        EXPECT_EQ(notice.contains("Ctrl+Alt+G"), hotKey) << notice.toStdString();
    }
}

// A first start opens the welcome once; a later one, or one past the welcome, shows only the icon.
TEST(StatusBarController, AFirstStartOpensTheWelcomeOnce)
{
    AppSettings opened;
    opened.welcomeOpened = true;
    const std::pair<AppSettings, bool> rows[] = {
        {AppSettings{}, true}, {opened, false}, {onboarded(), false}};
    for (const auto& [settings, opens] : rows) {
        Fixture f(settings);
        f.controller.showWelcomeOnce();
        EXPECT_EQ(f.controller.isPanelVisible(), opens);
        EXPECT_TRUE(f.state->settings().welcomeOpened || settings.hasOnboarded);
    }
}

// A --toggle sent while the tray search goes on once opened a pop-up that the search's end then closed.
TEST(StatusBarController, ARequestDuringTheTraySearchOpensThePanelInTheFormTheSearchEndsWith)
{
    for (const bool trayFound : {true, false}) {
        Fixture f(onboarded(), 720, oneReading);
        f.item.settled = false;
        f.controller.toggleUI(StatusBarController::Trigger::request);
        f.controller.toggleUI(StatusBarController::Trigger::request); // taken back
        f.controller.toggleUI(StatusBarController::Trigger::request);
        EXPECT_FALSE(f.controller.isPanelVisible());
        trayFound ? f.item.trayAppears() : f.item.noTray();
        ASSERT_TRUE(f.controller.isPanelVisible()) << trayFound;
        EXPECT_EQ(f.controller.panel()->mode(),
                  trayFound ? PanelWindow::Mode::popup : PanelWindow::Mode::window);
    }
    // Taken back, nothing opens when a tray is found.
    Fixture f(onboarded(), 720, oneReading);
    f.item.settled = false;
    f.controller.toggleUI(StatusBarController::Trigger::request);
    f.controller.toggleUI(StatusBarController::Trigger::request);
    f.item.trayAppears();
    EXPECT_FALSE(f.controller.isPanelVisible());
}

TEST(StatusBarController, AClickRightAfterTheFocusWentElsewhereCloses)
{
    Fixture f;
    f.item.click();
    PanelWindow* panel = f.controller.panel();
    ASSERT_TRUE(panel->isVisible());
    // Clicking the tray icon deactivates the panel first; the click that follows must not reopen it.
    QEvent deactivate(QEvent::WindowDeactivate);
    QApplication::sendEvent(panel, &deactivate);
    EXPECT_FALSE(panel->isVisible());
    f.item.click();
    EXPECT_FALSE(panel->isVisible());
    // A later click opens it again.
    TestSupport::waitFor([] { return false; }, PanelWindow::toggleGraceMs + 50);
    f.item.click();
    EXPECT_TRUE(panel->isVisible());
    // Closing by a click is no focus loss: quick clicks keep alternating.
    for (const bool visible : {false, true, false, true}) {
        f.item.click();
        EXPECT_EQ(panel->isVisible(), visible);
    }
    // The panel's own dialog (the reset confirmation) takes the focus without closing it.
    QDialog dialog(panel);
    dialog.show();
    dialog.activateWindow();
    ASSERT_TRUE(TestSupport::waitFor([&] { return QApplication::activeWindow() == &dialog; }));
    ASSERT_EQ(QApplication::activeWindow(), &dialog);
    QApplication::sendEvent(panel, &deactivate);
    EXPECT_TRUE(panel->isVisible());
}

TEST(StatusBarController, EscapeSettingsAndMiddleClick)
{
    Fixture f(onboarded());
    f.key.press();
    PanelWindow* panel = f.controller.panel();
    ASSERT_TRUE(panel->isVisible());
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(panel, &escape);
    EXPECT_FALSE(panel->isVisible());
    // Escape is no focus loss: the hot key at once reopens.
    f.key.press();
    EXPECT_TRUE(panel->isVisible());

    // "Settings…" opens on Settings; Escape first goes back to the overview, then hides.
    auto* view = panel->findChild<PanelView*>();
    f.controller.showSettings();
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(view->screen(), PanelView::Screen::settings);
    QApplication::sendEvent(view, &escape);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(view->screen(), PanelView::Screen::main);
    QApplication::sendEvent(view, &escape);
    EXPECT_FALSE(panel->isVisible());
    // Left on Settings, the panel still reopens on the overview.
    f.controller.showSettings();
    panel->dismiss();
    f.key.press();
    EXPECT_EQ(view->screen(), PanelView::Screen::main);

    // A middle click on the icon refreshes.
    const int cycles = f.state->requestedCycles();
    f.item.middleClick();
    EXPECT_EQ(f.state->requestedCycles(), cycles + 1);
}

} // namespace
