#include "ui/SettingsView.h"
#include "core/ZoneGuard.h"
#include "core/io/AccountList.h"
#include "core/io/MachineList.h"
#include "core/io/SettingsStore.h"
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
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
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

using Row = SettingsView::Row;

// What a row's control shows, as the row's number.
double shown(const Row& row, QWidget* control)
{
    switch (row.kind) {
    case Row::Kind::check:
        return static_cast<QCheckBox*>(control)->isChecked() ? 1 : 0;
    case Row::Kind::choice:
        return static_cast<QComboBox*>(control)->currentIndex();
    case Row::Kind::picker:
        return static_cast<SegmentedPicker*>(control)->current();
    case Row::Kind::stepper:
        return static_cast<Stepper*>(control)->value();
    case Row::Kind::slider:
        return static_cast<QSlider*>(control)->value();
    case Row::Kind::time: {
        const QTime time = static_cast<QTimeEdit*>(control)->time();
        return time.hour() * 60 + time.minute();
    }
    case Row::Kind::none:
        break;
    }
    return -1;
}

// Moves a row's control off its value the way a user does.
void move(const Row& row, QWidget* control)
{
    switch (row.kind) {
    case Row::Kind::check:
        static_cast<QCheckBox*>(control)->click();
        break;
    case Row::Kind::choice: {
        auto* combo = static_cast<QComboBox*>(control);
        const int next = (combo->currentIndex() + 1) % combo->count();
        combo->setCurrentIndex(next);
        Q_EMIT combo->activated(next);
        break;
    }
    case Row::Kind::picker: {
        const bool last = shown(row, control) + 1 >= row.items.size();
        QKeyEvent key(QEvent::KeyPress, last ? Qt::Key_Left : Qt::Key_Right, Qt::NoModifier);
        QCoreApplication::sendEvent(control, &key);
        break;
    }
    case Row::Kind::stepper:
        static_cast<Stepper*>(control)->stepBy(shown(row, control) < row.maximum ? 1 : -1);
        break;
    case Row::Kind::slider:
        static_cast<QSlider*>(control)->setValue(int(shown(row, control)) + 5);
        break;
    case Row::Kind::time: {
        auto* editor = static_cast<QTimeEdit*>(control);
        editor->setTime(editor->time().addSecs(15 * 60));
        break;
    }
    case Row::Kind::none:
        break;
    }
}

// Each control writes its own setting and no other, and shows the setting again once redrawn.
TEST(SettingsView, EachRowsControlWritesItsSettingAndShowsItAgain)
{
    int controls = 0;
    for (const Row& row : SettingsView::rows()) {
        if (row.kind == Row::Kind::none)
            continue;
        ++controls;
        Fixture f;
        const AppSettings before = f.state->settings();
        auto* control = f.get<QWidget>(row.name);
        ASSERT_NE(control, nullptr);
        ASSERT_EQ(shown(row, control), row.read(before)) << row.name;
        move(row, control);
        const double value = shown(row, control);
        EXPECT_NE(value, row.read(before)) << row.name;
        EXPECT_EQ(row.read(f.state->settings()), value) << row.name;
        for (const Row& other : SettingsView::rows()) {
            if (!other.read || &other == &row)
                continue;
            EXPECT_EQ(other.read(f.state->settings()), other.read(before))
                << row.name << " moved " << other.name;
        }
        f.state->setSettings(before);
        f.view->redraw();
        EXPECT_EQ(shown(row, control), row.read(before)) << row.name;
    }
    // No setting's control is left outside the table.
    Fixture f;
    const qsizetype onScreen =
        f.view->findChildren<QCheckBox*>().size() + f.view->findChildren<QComboBox*>().size() +
        f.view->findChildren<SegmentedPicker*>().size() + f.view->findChildren<Stepper*>().size() +
        f.view->findChildren<QSlider*>().size() + f.view->findChildren<QTimeEdit*>().size();
    EXPECT_EQ(onScreen, controls);
}

TEST(SettingsView, SteppersAndTheirLabels)
{
    Fixture f;
    auto* budget = f.get<Stepper>("overageBudget");
    EXPECT_EQ(budget->text(), "Overage budget: off");
    budget->stepBy(1);
    EXPECT_EQ(f.state->settings().extraUsageBudgetGBP, 5);
    f.view->redraw();
    EXPECT_EQ(budget->text(), "Overage budget: $5");
    budget->stepBy(1000);
    EXPECT_EQ(f.state->settings().extraUsageBudgetGBP, 1000);
    f.get<QCheckBox>("currencyGBP")->setChecked(true);
    TestSupport::waitFor([&] { return f.state->publishedState().budgetPrefix == "£"; });
    f.view->redraw();
    EXPECT_EQ(budget->text(), "Overage budget: £1000") << "in the currency spend is shown in";

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
    f.get<QSlider>("dailyBudget")->setValue(205);
    EXPECT_EQ(f.state->settings().weeklyDailyTargetPercent, 20.5);
    EXPECT_EQ(f.get<QLabel>("dailyBudgetValue")->text(), "20.5%");
    f.get<QTimeEdit>("bedtime")->setTime(QTime(22, 15));
    EXPECT_EQ(f.state->settings().sleep.bedtimeMinutes, 1335);
}

// Each snooze of the menu; "Until tomorrow" is the snooze rule's: 09:00 the next day even where the clocks
// skip it (a made-up zone that springs forward at 09:00 on the second Wednesday of May, the morning after
// kNow).
TEST(SettingsView, TheSnoozeMenuSnoozesForItsTime)
{
    ZoneGuard zone("XST0XDT,M5.2.3/9,M11.1.0/2");
    const QDateTime until[] = {UiTest::kNow.addSecs(3600), UiTest::kNow.addSecs(10800),
                               QDateTime(QDate(2026, 5, 13), QTime(9, 0), Zone::utc())};
    for (int i = 0; i < 3; ++i) {
        Fixture f;
        f.get<QPushButton>("snooze")->menu()->actions().at(i)->trigger();
        EXPECT_EQ(f.state->settings().notificationsSnoozedUntil, until[i]) << i;
    }
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
    AppSettings settings = UiTest::onboarded();
    settings.retentionDays = 2;
    const QDateTime wallNow = QDateTime::currentDateTimeUtc();
    UsageSnapshot old = UiTest::reading(Provider::codex, WindowKind::fiveHour, UiTest::ago(0), 10);
    old.timestamp = wallNow.addDays(-5);
    UsageSnapshot recent = UiTest::reading(Provider::codex, WindowKind::fiveHour, UiTest::ago(0), 12);
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

TEST(SettingsView, AccountsSwitchAndRelabelThroughAccountsJsonAndAddAFolder)
{
    const QString home = TestSupport::homePath();
    ASSERT_TRUE(TestSupport::writeFile(home + "/.claude-work/.credentials.json", "{}"));
    ASSERT_TRUE(TestSupport::writeFile(home + "/team/.claude.json", "{}"));
    QDir().mkpath(home + "/notes");
    Fixture f;
    const auto line = [&](const QString& folder) { return f.view->findChild<QWidget*>("account-" + folder); };
    QWidget* work = line(home + "/.claude-work");
    ASSERT_NE(work, nullptr);
    auto* label = work->findChild<QLineEdit*>("accountLabel");
    auto* watched = work->findChild<QCheckBox*>("accountSwitch");
    const auto detail = [&] { return work->findChild<QLabel*>("accountDetail")->text(); };
    EXPECT_EQ(label->text(), "work");
    EXPECT_TRUE(watched->isChecked());
    // The assistant's own folder has no switch of its own: it follows the assistant.
    ASSERT_NE(line(home + "/.claude"), nullptr);
    EXPECT_EQ(line(home + "/.claude")->findChild<QCheckBox*>("accountSwitch"), nullptr);

    const auto entry = [](const QString& folder) {
        for (const AccountFolder& a : AccountList::load())
            if (a.folder == folder)
                return std::optional(a);
        return std::optional<AccountFolder>();
    };
    label->setText("Day job");
    Q_EMIT label->editingFinished();
    ASSERT_TRUE(TestSupport::waitFor([&] { return entry(home + "/.claude-work").has_value(); }));
    EXPECT_EQ(entry(home + "/.claude-work")->label, "Day job");
    watched->click();
    ASSERT_TRUE(TestSupport::waitFor([&] { return detail().endsWith("off"); }));
    EXPECT_FALSE(entry(home + "/.claude-work")->enabled);
    EXPECT_FALSE(watched->isChecked());
    EXPECT_EQ(label->text(), "Day job");
    EXPECT_FALSE(QFileInfo::exists(SettingsStore().url())) << "accounts never go into settings.json";

    // The folder picked is checked as `accounts add` checks it.
    const auto pick = [&](const QString& folder) {
        const QString before = f.view->findChild<QLabel*>("accountMessage")->text();
        f.view->findChild<QPushButton*>("addAccountFolder")->click();
        auto* dialog = f.view->findChild<QFileDialog*>("accountFolderDialog");
        ASSERT_NE(dialog, nullptr);
        Q_EMIT dialog->fileSelected(folder);
        dialog->close();
        TestSupport::waitFor(
            [&] { return entry(folder) || f.view->findChild<QLabel*>("accountMessage")->text() != before; });
    };
    pick(home + "/notes");
    EXPECT_FALSE(entry(home + "/notes"));
    EXPECT_EQ(f.view->findChild<QLabel*>("accountMessage")->text(), "cannot tell whose folder ~/notes is");
    pick(home + "/team");
    ASSERT_TRUE(TestSupport::waitFor([&] { return line(home + "/team") != nullptr; }));
    EXPECT_EQ(entry(home + "/team")->provider, Provider::claude);
    EXPECT_TRUE(line(home + "/team")->findChild<QCheckBox*>("accountSwitch")->isChecked());
}

TEST(SettingsView, MachinesAddSwitchAndRemoveThroughMachinesJson)
{
    Fixture f;
    auto* destination = f.view->findChild<QLineEdit*>("machineDestination");
    ASSERT_NE(destination, nullptr);
    const auto add = [&](const QString& text) {
        destination->setText(text);
        f.view->findChild<QPushButton*>("addMachine")->click();
    };
    const auto line = [&] { return f.view->findChild<QWidget*>("machine-devbox"); };
    const auto message = [&] { return f.view->findChild<QLabel*>("machineMessage")->text(); };

    // Refused as `machines add` refuses it, and nothing written.
    add("-oProxyCommand=x");
    ASSERT_TRUE(TestSupport::waitFor([&] { return !message().isEmpty(); }));
    EXPECT_EQ(message(), "a destination cannot start with \"-\"");
    EXPECT_FALSE(QFileInfo::exists(MachineList::path()));

    // The line shows what the next cycle read back; the switch and Remove write the file again.
    add("devbox");
    ASSERT_TRUE(TestSupport::waitFor([&] { return line() != nullptr; }));
    EXPECT_EQ(line()->findChild<QLabel*>("machineHealth")->text(), "devbox: not pulled yet");
    line()->findChild<QCheckBox*>("machineSwitch")->click();
    ASSERT_TRUE(TestSupport::waitFor(
        [&] { return line() && line()->findChild<QLabel*>("machineHealth")->text() == "devbox: off"; }));
    EXPECT_FALSE(MachineList::load().value(0).enabled);
    line()->findChild<QPushButton*>("removeMachine")->click();
    ASSERT_TRUE(TestSupport::waitFor([&] { return line() == nullptr; }));
    EXPECT_TRUE(MachineList::load().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(SettingsStore().url())) << "machines never go into settings.json";
}
