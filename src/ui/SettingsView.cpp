#include "ui/SettingsView.h"

#include "app/StateActions.h"
#include "ui/PlainText.h"

#include "app/AppState.h"
#include "app/MenuBarTitleBuilder.h"
#include "app/NotificationRules.h"
#include "core/LocalFileStore.h"
#include "core/NumberFormatting.h"
#include "core/SnapshotStore.h"
#include "core/TimeFormatting.h"
#include "ui/CardFrame.h"
#include "ui/GaugeIcon.h"
#include "ui/IconLine.h"
#include "ui/PanelIcons.h"
#include "ui/PanelTheme.h"
#include "ui/SegmentedPicker.h"
#include "ui/StatusPill.h"
#include "ui/Stepper.h"
#include "ui/TrayText.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QTimeEdit>
#include <QTimeZone>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

// A typed or stepped retention is taken once it has stood this long.
constexpr int retentionSettleMs = 700;

QLabel* help(const QString& text)
{
    return CardFrame::note(text);
}

QWidget* row(const QString& label, QWidget* control)
{
    auto* widget = new QWidget;
    auto* layout = new QHBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* name = PlainText::label(label);
    layout->addWidget(name, 1);
    layout->addWidget(control);
    name->setBuddy(control);
    return widget;
}

QString bridgeLabel(ClaudeBridgeStatus::State state)
{
    switch (state) {
    case ClaudeBridgeStatus::State::notInstalled:
        return QStringLiteral("Not installed");
    case ClaudeBridgeStatus::State::installed:
        return QStringLiteral("Installed");
    case ClaudeBridgeStatus::State::wrapping:
        return QStringLiteral("Wrapping existing");
    case ClaudeBridgeStatus::State::foreign:
        return QStringLiteral("Other status line");
    case ClaudeBridgeStatus::State::error:
        break;
    }
    return QStringLiteral("Error");
}

ColorRole bridgeRole(ClaudeBridgeStatus::State state)
{
    switch (state) {
    case ClaudeBridgeStatus::State::installed:
    case ClaudeBridgeStatus::State::wrapping:
        return ColorRole::safe;
    case ClaudeBridgeStatus::State::foreign:
        return ColorRole::watch;
    case ClaudeBridgeStatus::State::error:
        return ColorRole::limited;
    case ClaudeBridgeStatus::State::notInstalled:
        break;
    }
    return ColorRole::neutral;
}

// "1 reading", "12 readings", "12 stored readings".
QString readingsText(qsizetype count, bool stored = false)
{
    return QLocale(QLocale::English).toString(count) + (stored ? QStringLiteral(" stored") : QString()) +
           (count == 1 ? QStringLiteral(" reading") : QStringLiteral(" readings"));
}

QString daysText(qint64 days)
{
    return QString::number(days) + (days == 1 ? QStringLiteral(" day") : QStringLiteral(" days"));
}

// How many stored readings a prune to `days` would remove now (the store's rule: older than the cutoff).
qsizetype olderThan(SnapshotStore& store, qint64 days)
{
    const QDateTime cutoff = QDateTime::currentDateTimeUtc().addSecs(-days * 86'400);
    const SnapshotLog log = store.log();
    qsizetype count = 0;
    for (qsizetype i = 0; i < log.size(); ++i)
        count += log[i].timestamp < cutoff ? 1 : 0;
    return count;
}

QTime timeOf(qint64 minutes)
{
    const auto m = static_cast<int>(((minutes % 1440) + 1440) % 1440);
    return QTime(m / 60, m % 60);
}

} // namespace

SettingsView::SettingsView(AppState& state, const PanelFeeds& feeds, QWidget* parent)
    : QWidget(parent), m_state(state), m_feeds(feeds)
{
    setObjectName(QStringLiteral("settings"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* header = new QWidget;
    header->setFixedHeight(52);
    auto* headerRow = new QHBoxLayout(header);
    headerRow->setContentsMargins(PanelTheme::inset - 4, 0, PanelTheme::inset, 0);
    auto* back = new QToolButton;
    back->setObjectName(QStringLiteral("back"));
    back->setToolTip(QStringLiteral("Back"));
    back->setAccessibleName(QStringLiteral("Back"));
    back->setAutoRaise(true);
    back->setFixedSize(28, 28);
    back->setIcon(PanelIcons::icon(PanelIcons::Symbol::chevronLeft, palette().color(QPalette::ButtonText)));
    connect(back, &QToolButton::clicked, this, &SettingsView::backRequested);
    headerRow->addWidget(back);
    auto* title = PlainText::label(QStringLiteral("Settings"));
    title->setFont(PanelTheme::font(title->font(), 1.15, true));
    headerRow->addWidget(title, 1);
    layout->addWidget(header);
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFixedHeight(1);
    line->setStyleSheet(QStringLiteral("background: palette(mid); border: none;"));
    layout->addWidget(line);

    auto* scroll = new QScrollArea;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidget(buildContent());
    layout->addWidget(scroll, 1);
    m_scroll = scroll;
    // A wheel turned to scroll the page must not change what it passes over: these controls take the wheel
    // only once focused by a click or Tab.
    for (QWidget* control : scroll->widget()->findChildren<QWidget*>()) {
        if (qobject_cast<QAbstractSlider*>(control) || qobject_cast<QComboBox*>(control) ||
            qobject_cast<QAbstractSpinBox*>(control)) {
            control->setFocusPolicy(Qt::StrongFocus);
            control->installEventFilter(this);
        }
    }
    redraw();
}

bool SettingsView::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Wheel && !static_cast<QWidget*>(watched)->hasFocus()) {
        QCoreApplication::sendEvent(m_scroll->verticalScrollBar(), event);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

QVBoxLayout* SettingsView::section(QVBoxLayout* parent, const QString& heading)
{
    auto* card = new CardFrame;
    card->setObjectName(QStringLiteral("section-") + heading);
    card->content()->setSpacing(8);
    card->content()->addWidget(CardFrame::heading(heading));
    parent->addWidget(card);
    return card->content();
}

void SettingsView::edit(const std::function<void(AppSettings&)>& change)
{
    AppSettings next = m_state.settings();
    change(next);
    m_state.setSettings(next);
}

QWidget* SettingsView::buildContent()
{
    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(PanelTheme::inset, PanelTheme::inset, PanelTheme::inset, PanelTheme::inset);
    column->setSpacing(PanelTheme::cardSpacing);

    // Providers.
    QVBoxLayout* providers = section(column, QStringLiteral("Providers"));
    m_codex = new QCheckBox(QStringLiteral("Codex"));
    m_codex->setObjectName(QStringLiteral("providerCodex"));
    m_claude = new QCheckBox(QStringLiteral("Claude Code"));
    m_claude->setObjectName(QStringLiteral("providerClaude"));
    connect(m_codex, &QCheckBox::toggled, this,
            [this](bool on) { m_state.toggleProvider(Provider::codex, on); });
    connect(m_claude, &QCheckBox::toggled, this,
            [this](bool on) { m_state.toggleProvider(Provider::claude, on); });
    providers->addWidget(m_codex);
    providers->addWidget(m_claude);

    // Forecast.
    QVBoxLayout* forecast = section(column, QStringLiteral("Forecast"));
    QStringList bases;
    for (const ForecastBasis basis : allForecastBases)
        bases.append(shortLabel(basis));
    m_basis = new SegmentedPicker(bases);
    m_basis->setObjectName(QStringLiteral("defaultBasis"));
    m_basis->setAccessibleName(QStringLiteral("Default basis"));
    connect(m_basis, &SegmentedPicker::picked, this,
            [this](int index) { m_state.setDefaultBasis(allForecastBases[static_cast<size_t>(index)]); });
    forecast->addWidget(PlainText::label(QStringLiteral("Default basis")));
    forecast->addWidget(m_basis);

    // Menu bar.
    QVBoxLayout* menuBar = section(column, QStringLiteral("Menu bar"));
    m_displayMode = new QComboBox;
    m_displayMode->setObjectName(QStringLiteral("displayMode"));
    for (const MenuBarDisplayMode mode : allMenuBarDisplayModes)
        m_displayMode->addItem(label(mode));
    connect(m_displayMode, &QComboBox::activated, this, [this](int index) {
        edit([index](AppSettings& s) {
            s.menuBarDisplayMode = allMenuBarDisplayModes[static_cast<size_t>(index)];
        });
    });
    menuBar->addWidget(row(QStringLiteral("Display mode"), m_displayMode));
    m_displayHelp = help({});
    menuBar->addWidget(m_displayHelp);
    m_focusProvider = new QComboBox;
    m_focusProvider->setObjectName(QStringLiteral("showProvider"));
    for (const Provider provider : allProviders)
        m_focusProvider->addItem(displayName(provider));
    connect(m_focusProvider, &QComboBox::activated, this, [this](int index) {
        edit([index](AppSettings& s) { s.trayProvider = allProviders[static_cast<size_t>(index)]; });
    });
    m_focusRow = row(QStringLiteral("Show provider"), m_focusProvider);
    menuBar->addWidget(m_focusRow);
    auto* preview = new QWidget;
    auto* previewRow = new QHBoxLayout(preview);
    previewRow->setContentsMargins(0, 0, 0, 0);
    previewRow->addWidget(PlainText::label(QStringLiteral("Preview")), 1);
    auto* bar = new QWidget;
    bar->setObjectName(QStringLiteral("previewBar"));
    // Drawn like a dark desktop panel, where the tray item usually sits.
    bar->setStyleSheet(QStringLiteral("#previewBar { background: #2B2F36; border-radius: 6px; } "
                                      "#previewBar QLabel { color: #F2F4F7; }"));
    auto* barRow = new QHBoxLayout(bar);
    barRow->setContentsMargins(8, 3, 10, 3);
    barRow->setSpacing(6);
    m_previewIcon = PlainText::label();
    m_previewText = PlainText::label();
    m_previewText->setObjectName(QStringLiteral("previewTitle"));
    barRow->addWidget(m_previewIcon);
    barRow->addWidget(m_previewText);
    previewRow->addWidget(bar);
    menuBar->addWidget(preview);
    m_showRemaining = new QCheckBox(QStringLiteral("Show remaining (reserve)"));
    m_showRemaining->setObjectName(QStringLiteral("showRemaining"));
    connect(m_showRemaining, &QCheckBox::toggled, this,
            [this](bool on) { edit([on](AppSettings& s) { s.showRemaining = on; }); });
    menuBar->addWidget(m_showRemaining);
    menuBar->addWidget(
        help(QStringLiteral("On: shows what's left (e.g. 98%), like Codex. Off: shows used.")));
    m_currencyGBP = new QCheckBox(QStringLiteral("Show spend in £ (GBP)"));
    m_currencyGBP->setObjectName(QStringLiteral("currencyGBP"));
    connect(m_currencyGBP, &QCheckBox::toggled, this,
            [this](bool on) { edit([on](AppSettings& s) { s.currencyGBP = on; }); });
    menuBar->addWidget(m_currencyGBP);
    menuBar->addWidget(
        help(QStringLiteral("Estimated spend uses approximate token prices; off shows $ (USD).")));
    m_budget = new Stepper(0, 1000, 5, [this](double value) {
        return value <= 0
                   ? QStringLiteral("Overage budget: off")
                   : QStringLiteral("Overage budget: ") + m_budgetPrefix + NumberFormatting::fixed(value, 0);
    });
    m_budget->setObjectName(QStringLiteral("overageBudget"));
    connect(m_budget, &Stepper::valueChanged, this,
            [this](double value) { edit([value](AppSettings& s) { s.extraUsageBudgetGBP = value; }); });
    menuBar->addWidget(m_budget);
    menuBar->addWidget(help(
        QStringLiteral("Warns when Claude pre-paid overage (real money beyond your plan) crosses this.")));
    m_startAtLogin = new QCheckBox(QStringLiteral("Start at login"));
    m_startAtLogin->setObjectName(QStringLiteral("startAtLogin"));
    connect(m_startAtLogin, &QCheckBox::toggled, this, [this](bool on) {
        if (on == m_state.settings().startAtLogin)
            return;
        // The switch stays as it was when the login item could not be changed.
        if (m_feeds.setStartAtLogin && !m_feeds.setStartAtLogin(on)) {
            const QSignalBlocker block(m_startAtLogin);
            m_startAtLogin->setChecked(!on);
            return;
        }
        edit([on](AppSettings& s) { s.startAtLogin = on; });
    });
    menuBar->addWidget(m_startAtLogin);

    // Weekly target.
    QVBoxLayout* weekly = section(column, QStringLiteral("Weekly target"));
    m_dailyTarget = new QSlider(Qt::Horizontal);
    m_dailyTarget->setObjectName(QStringLiteral("dailyBudget"));
    m_dailyTarget->setRange(50, 300); // tenths of a percent
    m_dailyTarget->setAccessibleName(QStringLiteral("Daily budget"));
    m_dailyTargetValue = PlainText::label();
    m_dailyTargetValue->setObjectName(QStringLiteral("dailyBudgetValue"));
    m_dailyTargetValue->setMinimumWidth(
        m_dailyTargetValue->fontMetrics().horizontalAdvance(QStringLiteral("30.0%")));
    m_dailyTargetValue->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    connect(m_dailyTarget, &QSlider::valueChanged, this, [this](int tenths) {
        const double value = tenths / 10.0;
        m_dailyTargetValue->setText(NumberFormatting::fixed(value, 1) + QLatin1Char('%'));
        if (std::abs(value - m_state.settings().weeklyDailyTargetPercent) >= 0.05)
            edit([value](AppSettings& s) { s.weeklyDailyTargetPercent = value; });
    });
    auto* target = new QWidget;
    auto* targetRow = new QHBoxLayout(target);
    targetRow->setContentsMargins(0, 0, 0, 0);
    targetRow->addWidget(PlainText::label(QStringLiteral("Daily budget")));
    targetRow->addWidget(m_dailyTarget, 1);
    targetRow->addWidget(m_dailyTargetValue);
    weekly->addWidget(target);

    // Sleep / bedtime.
    QVBoxLayout* sleep = section(column, QStringLiteral("Sleep / bedtime"));
    m_sleep = new QCheckBox(QStringLiteral("Account for sleep in forecasts"));
    m_sleep->setObjectName(QStringLiteral("sleepEnabled"));
    connect(m_sleep, &QCheckBox::toggled, this,
            [this](bool on) { edit([on](AppSettings& s) { s.sleep.enabled = on; }); });
    sleep->addWidget(m_sleep);
    m_sleepDetails = new QWidget;
    auto* details = new QVBoxLayout(m_sleepDetails);
    details->setContentsMargins(0, 0, 0, 0);
    m_bedtime = new QTimeEdit;
    m_bedtime->setObjectName(QStringLiteral("bedtime"));
    m_wake = new QTimeEdit;
    m_wake->setObjectName(QStringLiteral("wake"));
    for (QTimeEdit* editor : {m_bedtime, m_wake})
        editor->setDisplayFormat(QStringLiteral("HH:mm"));
    connect(m_bedtime, &QTimeEdit::timeChanged, this, [this](QTime time) {
        const qint64 minutes = time.hour() * 60 + time.minute();
        if (minutes != m_state.settings().sleep.bedtimeMinutes)
            edit([minutes](AppSettings& s) { s.sleep.bedtimeMinutes = minutes; });
    });
    connect(m_wake, &QTimeEdit::timeChanged, this, [this](QTime time) {
        const qint64 minutes = time.hour() * 60 + time.minute();
        if (minutes != m_state.settings().sleep.wakeMinutes)
            edit([minutes](AppSettings& s) { s.sleep.wakeMinutes = minutes; });
    });
    details->addWidget(row(QStringLiteral("Bedtime"), m_bedtime));
    details->addWidget(row(QStringLiteral("Wake"), m_wake));
    details->addWidget(
        help(QStringLiteral("Forecasts assume no usage while you're asleep, so projections and "
                            "time-to-limit count only waking hours.")));
    m_bedtimeIn = PlainText::label();
    m_bedtimeIn->setObjectName(QStringLiteral("bedtimeIn"));
    auto* bedtimeRow = new QWidget;
    auto* bedtimeLayout = new QHBoxLayout(bedtimeRow);
    bedtimeLayout->setContentsMargins(0, 0, 0, 0);
    auto* moon = PlainText::label();
    moon->setPixmap(PanelIcons::pixmap(PanelIcons::Symbol::moon, palette().color(QPalette::PlaceholderText),
                                       12, devicePixelRatioF()));
    bedtimeLayout->addWidget(moon);
    bedtimeLayout->addWidget(m_bedtimeIn, 1);
    details->addWidget(bedtimeRow);
    sleep->addWidget(m_sleepDetails);

    // Notifications.
    QVBoxLayout* alerts = section(column, QStringLiteral("Notifications"));
    m_notifications = new QCheckBox(QStringLiteral("Enable alerts"));
    m_notifications->setObjectName(QStringLiteral("notificationsEnabled"));
    connect(m_notifications, &QCheckBox::toggled, this,
            [this](bool on) { edit([on](AppSettings& s) { s.notificationsEnabled = on; }); });
    alerts->addWidget(m_notifications);
    using Threshold = double NotificationThresholds::*;
    const auto threshold = [&](const QString& label, double low, double high, const QString& name,
                               Threshold field) {
        auto* stepper = new Stepper(low, high, 1, [label](double value) {
            return label + QStringLiteral(": ") + NumberFormatting::fixed(value, 0);
        });
        stepper->setObjectName(name);
        connect(stepper, &Stepper::valueChanged, this, [this, field](double value) {
            edit([field, value](AppSettings& s) { s.notificationThresholds.*field = value; });
        });
        alerts->addWidget(stepper);
        return stepper;
    };
    m_usageAbove = threshold(QStringLiteral("5h usage above"), 50, 100, QStringLiteral("fiveHourUsageAbove"),
                             &NotificationThresholds::fiveHourUsageAbove);
    m_forecastAbove =
        threshold(QStringLiteral("5h forecast above"), 50, 140, QStringLiteral("fiveHourForecastAbove"),
                  &NotificationThresholds::fiveHourForecastAbove);
    m_timeToLimit = threshold(QStringLiteral("Time to limit under (min)"), 10, 120,
                              QStringLiteral("timeToLimitUnderMinutes"),
                              &NotificationThresholds::timeToLimitUnderMinutes);
    m_snoozedRow = new QWidget;
    auto* snoozed = new QHBoxLayout(m_snoozedRow);
    snoozed->setContentsMargins(0, 0, 0, 0);
    m_snoozedUntil = PlainText::label();
    m_snoozedUntil->setObjectName(QStringLiteral("snoozedUntil"));
    snoozed->addWidget(m_snoozedUntil, 1);
    auto* resume = new QPushButton(QStringLiteral("Resume"));
    resume->setObjectName(QStringLiteral("resume"));
    connect(resume, &QPushButton::clicked, this, [this] { snooze(std::nullopt); });
    snoozed->addWidget(resume);
    alerts->addWidget(m_snoozedRow);
    m_snoozeMenu = new QPushButton(QStringLiteral("Snooze"));
    m_snoozeMenu->setObjectName(QStringLiteral("snooze"));
    m_snoozeMenu->setAccessibleName(QStringLiteral("Snooze alerts"));
    m_snoozeMenu->setToolTip(QStringLiteral("Snooze alerts"));
    auto* menu = new QMenu(m_snoozeMenu);
    menu->addAction(QStringLiteral("For 1 hour"), this, [this] { snooze(m_state.now().addSecs(3600)); });
    menu->addAction(QStringLiteral("For 3 hours"), this, [this] { snooze(m_state.now().addSecs(10800)); });
    menu->addAction(QStringLiteral("Until tomorrow"), this, [this] {
        snooze(NotificationRules::snoozeUntilTomorrow(m_state.now(), QTimeZone::systemTimeZone()));
    });
    m_snoozeMenu->setMenu(menu);
    alerts->addWidget(m_snoozeMenu, 0, Qt::AlignLeft);
    m_demoAlertsNote = help(QStringLiteral("Alerts are silenced in demo mode."));
    alerts->addWidget(m_demoAlertsNote);
    if (m_feeds.sendTestNotification) {
        auto* test = new QPushButton(QStringLiteral("Send test notification"));
        test->setObjectName(QStringLiteral("testNotification"));
        m_testMessage = help({});
        m_testMessage->hide();
        connect(test, &QPushButton::clicked, this, [this] {
            QPointer<SettingsView> self(this);
            m_feeds.sendTestNotification([self](const QString& message) {
                if (!self)
                    return;
                self->m_testMessage->setText(message);
                self->m_testMessage->show();
            });
        });
        alerts->addWidget(test, 0, Qt::AlignLeft);
        alerts->addWidget(m_testMessage);
    }

    // Claude bridge.
    QVBoxLayout* bridge = section(column, QStringLiteral("Claude bridge"));
    m_bridgeStatus = new StatusPill;
    m_bridgeStatus->setObjectName(QStringLiteral("bridgeStatus"));
    bridge->addWidget(m_bridgeStatus, 0, Qt::AlignLeft);
    auto* bridgeButtons = new QHBoxLayout;
    auto* install = m_bridgeInstall = new QPushButton(QStringLiteral("Install"));
    install->setObjectName(QStringLiteral("bridgeInstall"));
    auto* repair = m_bridgeRepair = new QPushButton(QStringLiteral("Repair"));
    repair->setObjectName(QStringLiteral("bridgeRepair"));
    auto* uninstall = m_bridgeUninstall = new QPushButton(QStringLiteral("Uninstall"));
    uninstall->setObjectName(QStringLiteral("bridgeUninstall"));
    // Installing again deploys the script again: that is the repair.
    for (QPushButton* button : {install, repair})
        connect(button, &QPushButton::clicked, this, [this] {
            m_actions->installBridge([this](const QString& message) { showBridgeMessage(message); });
        });
    connect(uninstall, &QPushButton::clicked, this, [this] {
        m_actions->uninstallBridge([this](const QString& message) { showBridgeMessage(message); });
    });
    for (QPushButton* button : {install, repair, uninstall})
        bridgeButtons->addWidget(button);
    bridgeButtons->addStretch();
    bridge->addLayout(bridgeButtons);
    m_statusLineForecast = new QCheckBox(QStringLiteral("Status line shows the forecast"));
    m_statusLineForecast->setObjectName(QStringLiteral("statusLineForecast"));
    connect(m_statusLineForecast, &QCheckBox::toggled, this,
            [this](bool on) { edit([on](AppSettings& s) { s.statusLineForecast = on; }); });
    bridge->addWidget(m_statusLineForecast);
    m_bridgeMessage = help({});
    m_bridgeMessage->setObjectName(QStringLiteral("bridgeMessage"));
    m_bridgeMessage->setForegroundRole(QPalette::Text);
    m_bridgeMessage->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_bridgeMessage->hide();
    bridge->addWidget(m_bridgeMessage);

    // Codex.
    QVBoxLayout* codex = section(column, QStringLiteral("Codex"));
    m_codexStatus = PlainText::label();
    m_codexStatus->setObjectName(QStringLiteral("codexStatus"));
    codex->addWidget(m_codexStatus);
    m_codexHelp = help({});
    m_codexHelp->setObjectName(QStringLiteral("codexHelp"));
    codex->addWidget(m_codexHelp);

    // More providers.
    QVBoxLayout* more = section(column, QStringLiteral("More providers"));
    more->addWidget(
        help(QStringLiteral("Each provider is read its own way; these are planned but not read yet.")));
    for (const QString& name :
         {QStringLiteral("Gemini CLI"), QStringLiteral("Cursor"), QStringLiteral("GitHub Copilot")}) {
        auto* entry = new QWidget;
        auto* entryRow = new QHBoxLayout(entry);
        entryRow->setContentsMargins(0, 0, 0, 0);
        auto* plus = PlainText::label();
        plus->setPixmap(PanelIcons::pixmap(PanelIcons::Symbol::plusCircle,
                                           palette().color(QPalette::PlaceholderText), 14,
                                           devicePixelRatioF()));
        entryRow->addWidget(plus);
        entryRow->addWidget(PlainText::label(name), 1);
        entryRow->addWidget(new StatusPill(QStringLiteral("coming soon")));
        more->addWidget(entry);
    }

    // Data.
    QVBoxLayout* dataSection = section(column, QStringLiteral("Data"));
    m_demoMode = new QCheckBox(QStringLiteral("Demo mode"));
    m_demoMode->setObjectName(QStringLiteral("demoMode"));
    connect(m_demoMode, &QCheckBox::toggled, this, [this](bool on) { setDemoMode(on); });
    dataSection->addWidget(m_demoMode);
    m_retention = new Stepper(
        1, 365, 1, [](double days) { return QStringLiteral("Retention: ") + daysText(std::llround(days)); });
    m_retention->setObjectName(QStringLiteral("retention"));
    m_retentionSettle = new QTimer(this);
    m_retentionSettle->setSingleShot(true);
    m_retentionSettle->setInterval(retentionSettleMs);
    connect(m_retentionSettle, &QTimer::timeout, this, &SettingsView::confirmRetention);
    connect(m_retention, &Stepper::valueChanged, this, [this](double days) {
        if (olderThan(*m_state.store(), std::llround(days)) > 0)
            m_retentionSettle->start();
        else
            confirmRetention();
    });
    dataSection->addWidget(m_retention);
    auto* dataButtons = new QGridLayout;
    auto* prune = new QPushButton(QStringLiteral("Prune now"));
    prune->setObjectName(QStringLiteral("pruneNow"));
    auto* reset = new QPushButton(QStringLiteral("Reset history"));
    reset->setObjectName(QStringLiteral("resetHistory"));
    auto* exportButton = new QPushButton(QStringLiteral("Export CSV"));
    exportButton->setObjectName(QStringLiteral("exportCsv"));
    auto* openFolder = new QPushButton(QStringLiteral("Open data folder"));
    openFolder->setObjectName(QStringLiteral("openDataFolder"));
    m_actions = new StateActions(m_state, this);
    connect(prune, &QPushButton::clicked, this, &SettingsView::confirmPrune);
    connect(reset, &QPushButton::clicked, this, &SettingsView::confirmReset);
    connect(exportButton, &QPushButton::clicked, this, [this] {
        m_actions->exportCsv([this](const StateActions::ExportOutcome& outcome) {
            if (!outcome.path) {
                showDataMessage(QStringLiteral("Export failed: ") + outcome.error);
                return;
            }
            const QString path = *outcome.path;
            showDataMessage(QStringLiteral("Exported to ") + path + QLatin1Char('.'));
            if (m_feeds.openFolder)
                m_feeds.openFolder(QFileInfo(path).absolutePath(), [this, path](bool opened) {
                    showDataMessage(QStringLiteral("Exported to ") + path +
                                    (opened ? QStringLiteral("; its folder is open.")
                                            : QStringLiteral("; no file manager could open its folder.")));
                });
        });
    });
    connect(openFolder, &QPushButton::clicked, this, [this] {
        const QString folder = QDir::toNativeSeparators(LocalFileStore::baseDirectory());
        if (!m_feeds.openFolder)
            return;
        m_feeds.openFolder(folder, [this, folder](bool opened) {
            showDataMessage(opened ? QStringLiteral("Opened ") + folder + QLatin1Char('.')
                                   : QStringLiteral("No file manager could open the folder: ") + folder);
        });
    });
    dataButtons->addWidget(prune, 0, 0);
    dataButtons->addWidget(reset, 0, 1);
    dataButtons->addWidget(exportButton, 1, 0);
    dataButtons->addWidget(openFolder, 1, 1);
    dataSection->addLayout(dataButtons);
    m_dataMessage = help({});
    m_dataMessage->setObjectName(QStringLiteral("dataMessage"));
    m_dataMessage->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_dataMessage->hide();
    dataSection->addWidget(m_dataMessage);

    // Diagnostics.
    QVBoxLayout* diagnostics = section(column, QStringLiteral("Diagnostics"));
    m_diagnostics = PlainText::label();
    m_diagnostics->setObjectName(QStringLiteral("health"));
    m_diagnostics->setWordWrap(true);
    diagnostics->addWidget(m_diagnostics);
    m_lastUpdate = help({});
    m_lastUpdate->setObjectName(QStringLiteral("lastUpdate"));
    diagnostics->addWidget(m_lastUpdate);
    if (m_feeds.diagnosticsText) {
        auto* copy = new QPushButton(QStringLiteral("Copy redacted diagnostics"));
        copy->setObjectName(QStringLiteral("copyDiagnostics"));
        m_copyMessage = help({});
        m_copyMessage->setObjectName(QStringLiteral("copyMessage"));
        m_copyMessage->hide();
        connect(copy, &QPushButton::clicked, this, [this] {
            QGuiApplication::clipboard()->setText(m_feeds.diagnosticsText());
            m_copyMessage->setText(
                QStringLiteral("Copied to the clipboard, with tokens and home paths hidden."));
            m_copyMessage->show();
        });
        diagnostics->addWidget(copy, 0, Qt::AlignLeft);
        diagnostics->addWidget(m_copyMessage);
    }
    column->addStretch();
    return content;
}

void SettingsView::snooze(const std::optional<QDateTime>& until)
{
    edit([until](AppSettings& s) { s.notificationsSnoozedUntil = until; });
}

void SettingsView::setDemoMode(bool enabled)
{
    if (enabled == m_state.settings().demoMode)
        return;
    edit([enabled](AppSettings& s) { s.demoMode = enabled; });
    // Live providers stop in demo mode and start again when it ends.
    m_state.startProviders();
    m_state.refresh();
}

void SettingsView::showBridgeMessage(const QString& message)
{
    m_bridgeMessage->setText(message);
    m_bridgeMessage->setVisible(!message.isEmpty());
    redraw();
}

void SettingsView::showDataMessage(const QString& message)
{
    m_dataMessage->setText(message);
    m_dataMessage->show();
}

void SettingsView::confirm(const QString& name, const QString& title, const QString& text,
                           const QString& action, std::function<void()> yes, std::function<void()> no)
{
    // Window-modal and not blocking: the panel keeps running (and a test can answer it).
    auto* box = new QMessageBox(QMessageBox::Warning, title, text, QMessageBox::Cancel, this);
    box->setObjectName(name);
    box->setTextFormat(Qt::PlainText);
    QPushButton* go = box->addButton(action, QMessageBox::DestructiveRole);
    box->setDefaultButton(QMessageBox::Cancel);
    box->setEscapeButton(QMessageBox::Cancel);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    connect(box, &QMessageBox::finished, this, [this, box, go, yes = std::move(yes), no = std::move(no)] {
        // The closed dialog can stay the active window under some window managers: take the keys back.
        activateWindow();
        if (box->clickedButton() == go)
            yes();
        else
            no();
    });
    box->open();
}

void SettingsView::confirmReset()
{
    const qsizetype count = m_state.store()->log().size();
    if (count == 0) {
        showDataMessage(QStringLiteral("Nothing to delete: no readings are stored."));
        return;
    }
    const auto clear = [this] {
        m_actions->clear([this](StateActions::StoreOutcome outcome) {
            showDataMessage(
                outcome.done
                    ? QStringLiteral("Deleted %1.").arg(readingsText(outcome.removed))
                    : QStringLiteral("Nothing deleted: the history could not be read or rewritten."));
        });
    };
    confirm(QStringLiteral("resetConfirmation"), QStringLiteral("Reset history"),
            QStringLiteral("Delete all %1? This cannot be undone.").arg(readingsText(count, true)),
            QStringLiteral("Delete"), clear, [this] { showDataMessage(QStringLiteral("Nothing deleted.")); });
}

void SettingsView::confirmPrune()
{
    const qint64 days = m_state.settings().retentionDays;
    const qsizetype count = olderThan(*m_state.store(), days);
    if (count == 0) {
        showDataMessage(QStringLiteral("Nothing to prune: no reading is older than %1.").arg(daysText(days)));
        return;
    }
    const auto prune = [this, days] {
        m_actions->prune(days, [this, days](StateActions::StoreOutcome outcome) {
            if (!outcome.done)
                showDataMessage(
                    QStringLiteral("Nothing pruned: the history could not be read or rewritten."));
            else
                showDataMessage(QStringLiteral("Removed %1 older than %2.")
                                    .arg(readingsText(outcome.removed), daysText(days)));
        });
    };
    confirm(QStringLiteral("pruneConfirmation"), QStringLiteral("Prune history"),
            QStringLiteral("Remove %1 older than %2?").arg(readingsText(count), daysText(days)),
            QStringLiteral("Remove"), prune, [this] { showDataMessage(QStringLiteral("Nothing removed.")); });
}

void SettingsView::confirmRetention()
{
    const qint64 days = std::llround(m_retention->value());
    const qint64 kept = m_state.settings().retentionDays;
    if (days == kept)
        return;
    const auto take = [this, days] { edit([days](AppSettings& s) { s.retentionDays = days; }); };
    const qsizetype count = olderThan(*m_state.store(), days);
    if (count == 0) {
        take();
        return;
    }
    const auto revert = [this, kept] {
        const QSignalBlocker block(m_retention);
        m_retention->setValue(double(kept));
    };
    confirm(QStringLiteral("retentionConfirmation"), QStringLiteral("Retention"),
            QStringLiteral("Keep %1 only? %2 older than that will be removed.")
                .arg(daysText(days), readingsText(count)),
            QStringLiteral("Keep %1").arg(daysText(days)), take, revert);
}

QString SettingsView::bridgeMessage() const
{
    return m_bridgeMessage->isHidden() ? QString() : m_bridgeMessage->text();
}

QString SettingsView::dataMessage() const
{
    return m_dataMessage->isHidden() ? QString() : m_dataMessage->text();
}

void SettingsView::redraw()
{
    const AppSettings& s = m_state.settings();
    const QSignalBlocker blocks[] = {QSignalBlocker(m_codex),         QSignalBlocker(m_claude),
                                     QSignalBlocker(m_showRemaining), QSignalBlocker(m_currencyGBP),
                                     QSignalBlocker(m_startAtLogin),  QSignalBlocker(m_dailyTarget),
                                     QSignalBlocker(m_sleep),         QSignalBlocker(m_bedtime),
                                     QSignalBlocker(m_wake),          QSignalBlocker(m_notifications),
                                     QSignalBlocker(m_demoMode),      QSignalBlocker(m_statusLineForecast)};
    m_codex->setChecked(s.enabledProviders.contains(Provider::codex));
    m_claude->setChecked(s.enabledProviders.contains(Provider::claude));
    m_basis->setCurrent(static_cast<int>(s.forecastBasis));
    const auto mode = static_cast<int>(
        std::find(allMenuBarDisplayModes.begin(), allMenuBarDisplayModes.end(), s.menuBarDisplayMode) -
        allMenuBarDisplayModes.begin());
    m_displayMode->setCurrentIndex(mode);
    m_displayHelp->setText(helpText(s.menuBarDisplayMode));
    m_focusRow->setVisible(s.menuBarDisplayMode == MenuBarDisplayMode::providerFocus);
    m_focusProvider->setCurrentIndex(static_cast<int>(s.trayProvider));
    const PublishedState published = m_state.publishedState();
    const QString& title = published.title;
    m_previewText->setText(title);
    m_previewText->setVisible(!title.isEmpty());
    const qreal dpr = devicePixelRatioF();
    QPixmap icon = QPixmap::fromImage(
        GaugeIcon::render(published.globalStatus, qBound(16, qRound(20 * dpr), 64), published.iconFigure));
    icon.setDevicePixelRatio(dpr);
    m_previewIcon->setPixmap(icon);
    m_showRemaining->setChecked(s.showRemaining);
    m_statusLineForecast->setChecked(s.statusLineForecast);
    m_currencyGBP->setChecked(s.currencyGBP);
    m_budgetPrefix = m_state.publishedState().budgetPrefix;
    m_budget->setValue(s.extraUsageBudgetGBP);
    m_startAtLogin->setChecked(s.startAtLogin);
    m_dailyTarget->setValue(static_cast<int>(std::lround(s.weeklyDailyTargetPercent * 10)));
    m_dailyTargetValue->setText(NumberFormatting::fixed(m_dailyTarget->value() / 10.0, 1) + QLatin1Char('%'));
    m_sleep->setChecked(s.sleep.enabled);
    m_sleepDetails->setVisible(s.sleep.enabled);
    m_bedtime->setTime(timeOf(s.sleep.bedtimeMinutes));
    m_wake->setTime(timeOf(s.sleep.wakeMinutes));
    const std::optional<double>& bedtimeIn = published.timeUntilBedtime;
    m_bedtimeIn->parentWidget()->setVisible(bedtimeIn.has_value());
    m_bedtimeIn->setText(QStringLiteral("Bedtime in ") + TimeFormatting::countdown(bedtimeIn));
    m_notifications->setChecked(s.notificationsEnabled);
    m_usageAbove->setValue(s.notificationThresholds.fiveHourUsageAbove);
    m_forecastAbove->setValue(s.notificationThresholds.fiveHourForecastAbove);
    m_timeToLimit->setValue(s.notificationThresholds.timeToLimitUnderMinutes);
    const bool snoozed = s.notificationsSnoozedUntil && *s.notificationsSnoozedUntil > m_state.now();
    m_snoozedRow->setVisible(snoozed);
    m_snoozeMenu->setVisible(!snoozed);
    if (snoozed)
        m_snoozedUntil->setText(QStringLiteral("Snoozed until ") +
                                TimeFormatting::clock(s.notificationsSnoozedUntil, m_state.now()));
    m_demoAlertsNote->setVisible(s.demoMode);

    const ClaudeBridgeStatus bridge = m_feeds.bridgeStatus ? m_feeds.bridgeStatus() : ClaudeBridgeStatus{};
    m_bridgeStatus->setText(bridgeLabel(bridge.state));
    m_bridgeStatus->setRole(bridgeRole(bridge.state));
    // Only what applies: install where the bridge is missing, repair and uninstall where it runs (or its
    // settings are broken, which a repair reports on).
    const bool running = bridge.state == ClaudeBridgeStatus::State::installed ||
                         bridge.state == ClaudeBridgeStatus::State::wrapping;
    m_bridgeInstall->setEnabled(bridge.state == ClaudeBridgeStatus::State::notInstalled ||
                                bridge.state == ClaudeBridgeStatus::State::foreign);
    m_bridgeRepair->setEnabled(running || bridge.state == ClaudeBridgeStatus::State::error);
    m_bridgeUninstall->setEnabled(running);

    const bool codexFound = published.codexFound;
    m_codexStatus->setText(codexFound ? QStringLiteral("Found in PATH") : QStringLiteral("Not found"));
    QStringList codexHelp;
    if (!codexFound)
        codexHelp << QStringLiteral("Install the Codex CLI to enable live usage.");
    if (s.demoMode)
        codexHelp << QStringLiteral("Codex usage appears live when demo mode is off.");
    m_codexHelp->setText(codexHelp.join(QLatin1Char(' ')));
    m_codexHelp->setVisible(!codexHelp.isEmpty());

    m_demoMode->setChecked(s.demoMode);
    m_retention->setValue(static_cast<double>(s.retentionDays));

    QStringList health;
    for (const Provider provider : m_state.sortedEnabledProviders()) {
        const auto found = m_state.providerHealth().constFind(provider);
        if (found != m_state.providerHealth().cend())
            health << displayName(provider) + QStringLiteral(": ") + rawValue(found->state) +
                          (found->detail.isEmpty() ? QString() : QStringLiteral(" — ") + found->detail);
        else
            health << displayName(provider) + QStringLiteral(": ") +
                          (s.demoMode ? QStringLiteral("demo") : QStringLiteral("idle"));
    }
    m_diagnostics->setText(health.join(QLatin1Char('\n')));
    m_lastUpdate->setText(QStringLiteral("Last update: ") +
                          TimeFormatting::clock(m_state.lastRefresh(), m_state.now()));
}
