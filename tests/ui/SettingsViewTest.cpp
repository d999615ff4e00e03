#include "ui/SettingsView.h"
#include "core/ZoneGuard.h"
#include "core/text/TimeFormatting.h"
#include "core/text/Zone.h"
#include "ui/SegmentedPicker.h"
#include "ui/StatusPill.h"
#include "ui/Stepper.h"
#include "ui/UiTestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QTimeEdit>
#include <QToolButton>
#include <QWheelEvent>

namespace {

struct Fixture
{
    explicit Fixture(AppSettings initial = {})
    {
        initial.hasOnboarded = true;
        state = UiTest::makeState(initial);
        feeds = PanelFeeds::fromState(*state);
        feeds.setStartAtLogin = [](bool) { return true; };
        view = std::make_unique<SettingsView>(*state, feeds);
    }
    template <typename T> T* get(const char* name) const
    {
        T* widget = view->findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    std::unique_ptr<AppState> state;
    PanelFeeds feeds;
    std::unique_ptr<SettingsView> view;
};

TEST(SettingsView, EachControlChangesTheSettingItNames)
{
    struct Row
    {
        const char* name;
        std::function<void(Fixture&)> act;
        std::function<bool(const AppSettings&)> changed;
    };
    const Row rows[] = {
        {"Codex switch", [](Fixture& f) { f.get<QCheckBox>("providerCodex")->setChecked(false); },
         [](const AppSettings& s) { return !s.enabledProviders.contains(Provider::codex); }},
        {"Claude switch", [](Fixture& f) { f.get<QCheckBox>("providerClaude")->setChecked(false); },
         [](const AppSettings& s) { return s.enabledProviders == QSet<Provider>{Provider::codex}; }},
        {"default basis",
         [](Fixture& f) {
             QKeyEvent right(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier);
             QCoreApplication::sendEvent(f.get<SegmentedPicker>("defaultBasis"), &right);
         },
         [](const AppSettings& s) { return s.forecastBasis == ForecastBasis::last3h; }},
        {"display mode", [](Fixture& f) { f.get<QComboBox>("displayMode")->activated(4); },
         [](const AppSettings& s) { return s.menuBarDisplayMode == MenuBarDisplayMode::providerFocus; }},
        {"show provider", [](Fixture& f) { f.get<QComboBox>("showProvider")->activated(0); },
         [](const AppSettings& s) { return s.trayProvider == Provider::codex; }},
        {"show remaining", [](Fixture& f) { f.get<QCheckBox>("showRemaining")->setChecked(false); },
         [](const AppSettings& s) { return !s.showRemaining; }},
        {"status-line forecast",
         [](Fixture& f) { f.get<QCheckBox>("statusLineForecast")->setChecked(false); },
         [](const AppSettings& s) { return !s.statusLineForecast; }},
        {"GBP", [](Fixture& f) { f.get<QCheckBox>("currencyGBP")->setChecked(false); },
         [](const AppSettings& s) { return !s.currencyGBP; }},
        {"overage budget", [](Fixture& f) { f.get<Stepper>("overageBudget")->stepBy(3); },
         [](const AppSettings& s) { return s.extraUsageBudgetGBP == 15; }},
        {"start at login", [](Fixture& f) { f.get<QCheckBox>("startAtLogin")->setChecked(true); },
         [](const AppSettings& s) { return s.startAtLogin; }},
        {"daily budget", [](Fixture& f) { f.get<QSlider>("dailyBudget")->setValue(205); },
         [](const AppSettings& s) { return s.weeklyDailyTargetPercent == 20.5; }},
        {"sleep", [](Fixture& f) { f.get<QCheckBox>("sleepEnabled")->setChecked(true); },
         [](const AppSettings& s) { return s.sleep.enabled; }},
        {"bedtime", [](Fixture& f) { f.get<QTimeEdit>("bedtime")->setTime(QTime(22, 15)); },
         [](const AppSettings& s) { return s.sleep.bedtimeMinutes == 1335; }},
        {"wake", [](Fixture& f) { f.get<QTimeEdit>("wake")->setTime(QTime(6, 30)); },
         [](const AppSettings& s) { return s.sleep.wakeMinutes == 390; }},
        {"alerts", [](Fixture& f) { f.get<QCheckBox>("notificationsEnabled")->setChecked(true); },
         [](const AppSettings& s) { return s.notificationsEnabled; }},
        {"5h usage above", [](Fixture& f) { f.get<Stepper>("fiveHourUsageAbove")->stepBy(1); },
         [](const AppSettings& s) { return s.notificationThresholds.fiveHourUsageAbove == 71; }},
        {"5h forecast above", [](Fixture& f) { f.get<Stepper>("fiveHourForecastAbove")->stepBy(-2); },
         [](const AppSettings& s) { return s.notificationThresholds.fiveHourForecastAbove == 88; }},
        {"time to limit", [](Fixture& f) { f.get<Stepper>("timeToLimitUnderMinutes")->stepBy(5); },
         [](const AppSettings& s) { return s.notificationThresholds.timeToLimitUnderMinutes == 65; }},
        {"retention", [](Fixture& f) { f.get<Stepper>("retention")->stepBy(-1); },
         [](const AppSettings& s) { return s.retentionDays == 29; }},
        {"snooze 1 h", [](Fixture& f) { f.get<QPushButton>("snooze")->menu()->actions().at(0)->trigger(); },
         [](const AppSettings& s) { return s.notificationsSnoozedUntil == UiTest::kNow.addSecs(3600); }},
        {"snooze 3 h", [](Fixture& f) { f.get<QPushButton>("snooze")->menu()->actions().at(1)->trigger(); },
         [](const AppSettings& s) { return s.notificationsSnoozedUntil == UiTest::kNow.addSecs(10800); }},
    };
    for (const Row& row : rows) {
        Fixture f;
        ASSERT_FALSE(row.changed(f.state->settings())) << row.name;
        row.act(f);
        EXPECT_TRUE(row.changed(f.state->settings())) << row.name;
    }
}

TEST(SettingsView, SteppersAndTheirLabels)
{
    Fixture f;
    auto* budget = f.get<Stepper>("overageBudget");
    EXPECT_EQ(budget->text(), "Overage budget: off");
    budget->stepBy(1);
    EXPECT_EQ(f.state->settings().extraUsageBudgetGBP, 5);
    f.view->redraw();
    EXPECT_EQ(budget->text(), "Overage budget: £5");
    budget->stepBy(1000);
    EXPECT_EQ(f.state->settings().extraUsageBudgetGBP, 1000);
    f.get<QCheckBox>("currencyGBP")->setChecked(false);
    TestSupport::waitFor([&] { return f.state->publishedState().budgetPrefix == "$"; });
    f.view->redraw();
    EXPECT_EQ(budget->text(), "Overage budget: $1000") << "in the currency spend is shown in";

    auto* retention = f.get<Stepper>("retention");
    EXPECT_EQ(retention->text(), "Retention: 30 days");
    retention->stepBy(-100);
    EXPECT_EQ(f.state->settings().retentionDays, 1);
    retention->stepBy(-1);
    EXPECT_EQ(f.state->settings().retentionDays, 1);
    retention->stepBy(1000);
    EXPECT_EQ(f.state->settings().retentionDays, 365);
    f.view->redraw();
    EXPECT_EQ(retention->text(), "Retention: 365 days");
    // 365 → 90 days is typed, not 275 clicks; Page Down moves ten steps.
    const auto press = [&](int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
                           const QString& text = {}) {
        QKeyEvent event(QEvent::KeyPress, key, modifiers, text);
        QApplication::sendEvent(retention->field(), &event);
    };
    press(Qt::Key_A, Qt::ControlModifier);
    press(Qt::Key_9, Qt::NoModifier, "9");
    press(Qt::Key_0, Qt::NoModifier, "0");
    press(Qt::Key_Return);
    EXPECT_EQ(f.state->settings().retentionDays, 90);
    press(Qt::Key_PageDown);
    EXPECT_EQ(f.state->settings().retentionDays, 80);
    EXPECT_EQ(retention->text(), "Retention: 80 days");
    EXPECT_EQ(f.get<QLabel>("dailyBudgetValue")->text(), "14.3%");
}

// "Until tomorrow" is the snooze rule's: 09:00 the next day even where the clocks skip it (a made-up zone
// that springs forward at 09:00 on the second Wednesday of May, the morning after kNow).
TEST(SettingsView, UntilTomorrowKeepsToTheSnoozeRuleOnADaylightSavingMorning)
{
    ZoneGuard zone("XST0XDT,M5.2.3/9,M11.1.0/2");
    Fixture f;
    f.get<QPushButton>("snooze")->menu()->actions().at(2)->trigger();
    EXPECT_EQ(f.state->settings().notificationsSnoozedUntil,
              QDateTime(QDate(2026, 5, 13), QTime(9, 0), Zone::utc()));
}

TEST(SettingsView, SnoozeRowResumeAndDemoNote)
{
    AppSettings snoozed;
    snoozed.notificationsSnoozedUntil = UiTest::kNow.addSecs(3600);
    snoozed.demoMode = true;
    Fixture f(snoozed);
    EXPECT_EQ(f.get<QLabel>("snoozedUntil")->text(),
              "Snoozed until " + TimeFormatting::clock(UiTest::kNow.addSecs(3600), UiTest::kNow));
    EXPECT_TRUE(f.get<QPushButton>("snooze")->isHidden());
    f.get<QPushButton>("resume")->click();
    EXPECT_EQ(f.state->settings().notificationsSnoozedUntil, std::nullopt);
    f.view->redraw();
    EXPECT_FALSE(f.get<QPushButton>("snooze")->isHidden());
    // A snooze in the past counts as none.
    AppSettings past;
    past.notificationsSnoozedUntil = UiTest::kNow.addSecs(-60);
    Fixture g(past);
    EXPECT_FALSE(g.get<QPushButton>("snooze")->isHidden());

    QStringList notes;
    for (const QLabel* label : f.view->findChildren<QLabel*>())
        if (!label->isHidden())
            notes << label->text();
    EXPECT_TRUE(notes.contains("Alerts are silenced in demo mode."));
    EXPECT_TRUE(
        notes.contains("Install the Codex CLI to enable live usage. Codex usage appears live when demo mode "
                       "is off."));
    EXPECT_EQ(f.get<QLabel>("codexStatus")->text(), "Not found");
}

TEST(SettingsView, BridgeActionsShowTheInstallersMessageAndStatus)
{
    Fixture f;
    EXPECT_EQ(f.get<StatusPill>("bridgeStatus")->text(), "Not installed");
    // The installer runs off the GUI thread; its message and the new status come back on it.
    const auto press = [&](const char* button, const char* status) {
        f.get<QPushButton>(button)->click();
        EXPECT_TRUE(TestSupport::waitFor([&] { return f.get<StatusPill>("bridgeStatus")->text() == status; }))
            << button << ": " << f.view->bridgeMessage().toStdString();
        EXPECT_FALSE(f.view->bridgeMessage().isEmpty()) << button;
    };
    // Only what applies is enabled: install, repair, uninstall.
    const auto enabled = [&] {
        return std::tuple{f.get<QPushButton>("bridgeInstall")->isEnabled(),
                          f.get<QPushButton>("bridgeRepair")->isEnabled(),
                          f.get<QPushButton>("bridgeUninstall")->isEnabled()};
    };
    EXPECT_EQ(enabled(), std::tuple(true, false, false));
    press("bridgeInstall", "Installed");
    EXPECT_EQ(enabled(), std::tuple(false, true, true));
    press("bridgeRepair", "Installed");
    press("bridgeUninstall", "Not installed");
    EXPECT_EQ(enabled(), std::tuple(true, false, false));
}

TEST(SettingsView, TheWheelScrollsThePageAndChangesOnlyAFocusedControl)
{
    Fixture f;
    f.view->resize(460, 400);
    f.view->show();
    f.view->activateWindow();
    ASSERT_TRUE(TestSupport::waitFor([&] { return QApplication::activeWindow() == f.view.get(); }));
    QScrollBar* page = f.view->findChild<QScrollArea*>()->verticalScrollBar();
    const auto wheel = [](QWidget* target) {
        const QPointF at(target->width() / 2.0, target->height() / 2.0);
        QWheelEvent event(at, target->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(target, &event);
    };
    auto* budget = f.get<QSlider>("dailyBudget");
    auto* mode = f.get<QComboBox>("displayMode");
    auto* bedtime = f.get<QTimeEdit>("bedtime");
    const AppSettings before = f.state->settings();
    for (QWidget* control : std::initializer_list<QWidget*>{budget, mode, bedtime}) {
        const int scrolled = page->value();
        wheel(control);
        EXPECT_GT(page->value(), scrolled) << control->objectName().toStdString();
        EXPECT_EQ(control->focusPolicy(), Qt::StrongFocus) << control->objectName().toStdString();
    }
    EXPECT_EQ(f.state->settings(), before);
    // Focused by a click or Tab, the control takes the wheel.
    budget->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(budget->hasFocus());
    wheel(budget);
    EXPECT_NE(f.state->settings().weeklyDailyTargetPercent, before.weeklyDailyTargetPercent);
}

TEST(SettingsView, DataActionsPruneResetAndExport)
{
    AppSettings settings;
    settings.hasOnboarded = true;
    settings.retentionDays = 2;
    const QDateTime wallNow = QDateTime::currentDateTimeUtc();
    UsageSnapshot old = UiTest::snapshot(Provider::codex, WindowKind::fiveHour, 10, 0);
    old.timestamp = wallNow.addDays(-5);
    UsageSnapshot recent = UiTest::snapshot(Provider::codex, WindowKind::fiveHour, 12, 0);
    recent.timestamp = wallNow.addSecs(-60);
    auto state = UiTest::makeState(settings, {old, recent});
    PanelFeeds feeds = PanelFeeds::fromState(*state);
    feeds.openFolder = [](const QString&, std::function<void(bool)> done) { done(false); };
    SettingsView view(*state, feeds);
    view.show();
    // The actions run off the GUI thread: the click returns at once, the message follows.
    const auto waitForMessage = [&view](const QString& before) {
        TestSupport::waitFor([&] { return view.dataMessage() != before; }, 5000);
    };
    const auto clickAndWait = [&](const char* button) {
        const QString before = view.dataMessage();
        view.findChild<QPushButton*>(button)->click();
        waitForMessage(before);
    };
    // Whatever removes readings asks first, with the count and Cancel the default; only `button` goes on.
    const auto answer = [&](const std::function<void()>& act, const char* name, const QString& text,
                            const QString& button) {
        act();
        QMessageBox* box = nullptr;
        TestSupport::waitFor([&] {
            for (QMessageBox* candidate : view.findChildren<QMessageBox*>(name))
                if (candidate->isVisible())
                    box = candidate;
            return box != nullptr;
        });
        ASSERT_NE(box, nullptr) << name;
        EXPECT_EQ(box->text(), text);
        EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::Cancel));
        for (QAbstractButton* choice : box->buttons())
            if (choice->text().remove('&') == button)
                choice->click();
        EXPECT_FALSE(box->isVisible());
    };
    const auto click = [&](const char* button) {
        return [&view, button] { view.findChild<QPushButton*>(button)->click(); };
    };
    auto* retention = view.findChild<Stepper*>("retention");
    const auto step = [retention](int steps) { return [retention, steps] { retention->stepBy(steps); }; };

    answer(click("pruneNow"), "pruneConfirmation", "Remove 1 reading older than 2 days?", "Cancel");
    EXPECT_EQ(state->store()->all().size(), 2);
    EXPECT_EQ(view.dataMessage(), "Nothing removed.");
    // A retention that keeps everything is taken at once; one that would drop a reading asks.
    retention->stepBy(10);
    EXPECT_EQ(state->settings().retentionDays, 12);
    answer(step(-11), "retentionConfirmation", "Keep 1 day only? 1 reading older than that will be removed.",
           "Cancel");
    EXPECT_EQ(state->settings().retentionDays, 12);
    EXPECT_EQ(retention->text(), "Retention: 12 days");
    answer(step(-10), "retentionConfirmation", "Keep 2 days only? 1 reading older than that will be removed.",
           "Keep 2 days");
    EXPECT_EQ(state->settings().retentionDays, 2);
    answer(click("pruneNow"), "pruneConfirmation", "Remove 1 reading older than 2 days?", "Remove");
    EXPECT_TRUE(TestSupport::waitFor(
        [&] { return view.dataMessage() == "Removed 1 reading older than 2 days."; }, 5000));
    EXPECT_EQ(state->store()->all().size(), 1);
    clickAndWait("pruneNow");
    EXPECT_EQ(view.dataMessage(), "Nothing to prune: no reading is older than 2 days.");
    clickAndWait("exportCsv");
    EXPECT_TRUE(view.dataMessage().endsWith("; no file manager could open its folder."))
        << view.dataMessage().toStdString();
    view.findChild<QPushButton*>("openDataFolder")->click();
    EXPECT_TRUE(view.dataMessage().startsWith("No file manager could open the folder: "));

    const QString resetText = QStringLiteral("Delete all 1 stored reading? This cannot be undone.");
    answer(click("resetHistory"), "resetConfirmation", resetText, "Cancel");
    EXPECT_EQ(state->store()->all().size(), 1);
    EXPECT_EQ(view.dataMessage(), "Nothing deleted.");
    answer(click("resetHistory"), "resetConfirmation", resetText, "Delete");
    EXPECT_TRUE(TestSupport::waitFor([&] { return view.dataMessage() == "Deleted 1 reading."; }, 5000));
    EXPECT_TRUE(state->store()->all().isEmpty());
}

} // namespace
