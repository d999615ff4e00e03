#include "ui/SettingsView.h"

#include "app/StateActions.h"
#include "ui/MachinesSettings.h"
#include "ui/PlainText.h"

#include "app/AppState.h"
#include "app/MenuBarTitleBuilder.h"
#include "app/NotificationRules.h"
#include "core/io/LocalFileStore.h"
#include "core/io/SnapshotStore.h"
#include "core/text/NumberFormatting.h"
#include "core/text/TimeFormatting.h"
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
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
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
    m_startAtLogin = findChild<QCheckBox*>(QStringLiteral("startAtLogin"));
    m_retention = findChild<Stepper*>(QStringLiteral("retention"));
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

const QList<SettingsView::Row>& SettingsView::rows()
{
    static const QList<Row> table = [] {
        using Kind = Row::Kind;
        using FlagMember = bool AppSettings::*;
        using ThresholdMember = double NotificationThresholds::*;
        using SleepMember = qint64 SleepSchedule::*;
        const auto edits = [](std::function<void(AppSettings&, double)> change) {
            return [change](SettingsView& view, double value) {
                view.edit([&](AppSettings& s) { change(s, value); });
            };
        };
        const auto flag = [edits](const QString& section, const char* name, const QString& label,
                                  FlagMember member) {
            const auto read = [member](const AppSettings& s) { return double(s.*member); };
            const auto write = [member](AppSettings& s, double on) { s.*member = on != 0; };
            return Row{.section = section,
                       .kind = Kind::check,
                       .name = name,
                       .label = label,
                       .read = read,
                       .write = edits(write)};
        };
        const auto withHelp = [](Row row, const QString& text) {
            row.help = text;
            return row;
        };
        const auto provider = [](Provider p, const char* name) {
            const auto read = [p](const AppSettings& s) { return double(s.enabledProviders.contains(p)); };
            const auto write = [p](SettingsView& view, double on) {
                view.m_state.toggleProvider(p, on != 0);
            };
            return Row{.section = QStringLiteral("Providers"),
                       .kind = Kind::check,
                       .name = name,
                       .label = displayName(p),
                       .read = read,
                       .write = write};
        };
        const auto threshold = [edits](const QString& label, double low, double high, const char* name,
                                       ThresholdMember field) {
            const auto format = [label](const SettingsView&, double value) {
                return label + QStringLiteral(": ") + NumberFormatting::fixed(value, 0);
            };
            const auto read = [field](const AppSettings& s) { return s.notificationThresholds.*field; };
            const auto write = [field](AppSettings& s, double value) {
                s.notificationThresholds.*field = value;
            };
            return Row{.section = QStringLiteral("Notifications"),
                       .kind = Kind::stepper,
                       .name = name,
                       .label = label,
                       .minimum = low,
                       .maximum = high,
                       .format = format,
                       .read = read,
                       .write = edits(write)};
        };
        const auto sleepTime = [edits](const char* name, const QString& label, SleepMember member) {
            const auto read = [member](const AppSettings& s) { return double(s.sleep.*member); };
            const auto write = [member](AppSettings& s, double minutes) {
                s.sleep.*member = qint64(minutes);
            };
            const auto sleeping = [](const AppSettings& s) { return s.sleep.enabled; };
            return Row{.section = QStringLiteral("Sleep / bedtime"),
                       .kind = Kind::time,
                       .name = name,
                       .label = label,
                       .read = read,
                       .write = edits(write),
                       .shown = sleeping};
        };

        QStringList bases;
        for (const ForecastBasis basis : allForecastBases)
            bases.append(shortLabel(basis));
        const auto readBasis = [](const AppSettings& s) { return double(s.forecastBasis); };
        const auto writeBasis = [](SettingsView& view, double index) {
            view.m_state.setDefaultBasis(allForecastBases[size_t(index)]);
        };
        const Row basis{.section = QStringLiteral("Forecast"),
                        .kind = Kind::picker,
                        .name = "defaultBasis",
                        .label = QStringLiteral("Default basis"),
                        .items = bases,
                        .read = readBasis,
                        .write = writeBasis};

        QStringList modes;
        for (const MenuBarDisplayMode mode : allMenuBarDisplayModes)
            modes.append(label(mode));
        const auto readMode = [](const AppSettings& s) {
            const auto& all = allMenuBarDisplayModes;
            return double(std::find(all.begin(), all.end(), s.menuBarDisplayMode) - all.begin());
        };
        const auto writeMode = [](AppSettings& s, double index) {
            s.menuBarDisplayMode = allMenuBarDisplayModes[size_t(index)];
        };
        const Row mode{.section = QStringLiteral("Menu bar"),
                       .kind = Kind::choice,
                       .name = "displayMode",
                       .label = QStringLiteral("Display mode"),
                       .items = modes,
                       .read = readMode,
                       .write = edits(writeMode),
                       .more = &SettingsView::addDisplayHelp};

        QStringList providers;
        for (const Provider p : allProviders)
            providers.append(displayName(p));
        const auto readTray = [](const AppSettings& s) { return double(s.trayProvider); };
        const auto writeTray = [](AppSettings& s, double index) {
            s.trayProvider = allProviders[size_t(index)];
        };
        const auto focusMode = [](const AppSettings& s) {
            return s.menuBarDisplayMode == MenuBarDisplayMode::providerFocus;
        };
        const Row tray{.section = QStringLiteral("Menu bar"),
                       .kind = Kind::choice,
                       .name = "showProvider",
                       .label = QStringLiteral("Show provider"),
                       .items = providers,
                       .read = readTray,
                       .write = edits(writeTray),
                       .shown = focusMode,
                       .more = &SettingsView::addPreview};

        const auto formatBudget = [](const SettingsView& view, double value) {
            if (value <= 0)
                return QStringLiteral("Overage budget: off");
            return QStringLiteral("Overage budget: ") + view.m_budgetPrefix +
                   NumberFormatting::fixed(value, 0);
        };
        const auto readBudget = [](const AppSettings& s) { return s.extraUsageBudgetGBP; };
        const auto writeBudget = [](AppSettings& s, double value) { s.extraUsageBudgetGBP = value; };
        const Row budget{
            .section = QStringLiteral("Menu bar"),
            .kind = Kind::stepper,
            .name = "overageBudget",
            .minimum = 0,
            .maximum = 1000,
            .step = 5,
            .format = formatBudget,
            .read = readBudget,
            .write = edits(writeBudget),
            .help = QStringLiteral(
                "Warns when Claude pre-paid overage (real money beyond your plan) crosses this.")};

        Row login = flag(QStringLiteral("Menu bar"), "startAtLogin", QStringLiteral("Start at login"),
                         &AppSettings::startAtLogin);
        login.write = [](SettingsView& view, double on) { view.setStartAtLogin(on != 0); };

        const auto formatTarget = [](const SettingsView&, double tenths) {
            return NumberFormatting::fixed(tenths / 10.0, 1) + QLatin1Char('%');
        };
        const auto readTarget = [](const AppSettings& s) {
            return double(std::lround(s.weeklyDailyTargetPercent * 10));
        };
        const auto writeTarget = [](AppSettings& s, double tenths) {
            s.weeklyDailyTargetPercent = tenths / 10.0;
        };
        // In tenths of a percent.
        const Row target{.section = QStringLiteral("Weekly target"),
                         .kind = Kind::slider,
                         .name = "dailyBudget",
                         .label = QStringLiteral("Daily budget"),
                         .minimum = 50,
                         .maximum = 300,
                         .format = formatTarget,
                         .read = readTarget,
                         .write = edits(writeTarget)};

        const auto readSleep = [](const AppSettings& s) { return double(s.sleep.enabled); };
        const auto writeSleep = [](AppSettings& s, double on) { s.sleep.enabled = on != 0; };
        const Row sleeps{.section = QStringLiteral("Sleep / bedtime"),
                         .kind = Kind::check,
                         .name = "sleepEnabled",
                         .label = QStringLiteral("Account for sleep in forecasts"),
                         .read = readSleep,
                         .write = edits(writeSleep)};
        Row wake =
            withHelp(sleepTime("wake", QStringLiteral("Wake"), &SleepSchedule::wakeMinutes),
                     QStringLiteral("Forecasts assume no usage while you're asleep, so projections and "
                                    "time-to-limit count only waking hours."));
        wake.more = &SettingsView::addBedtimeIn;

        Row timeToLimit =
            threshold(QStringLiteral("Time to limit under (min)"), 10, 120, "timeToLimitUnderMinutes",
                      &NotificationThresholds::timeToLimitUnderMinutes);
        timeToLimit.more = &SettingsView::addSnooze;
        Row statusLine =
            flag(QStringLiteral("Claude bridge"), "statusLineForecast",
                 QStringLiteral("Status line shows the forecast"), &AppSettings::statusLineForecast);
        statusLine.more = &SettingsView::addBridgeMessage;

        Row demo =
            flag(QStringLiteral("Data"), "demoMode", QStringLiteral("Demo mode"), &AppSettings::demoMode);
        demo.write = [](SettingsView& view, double on) { view.setDemoMode(on != 0); };
        const auto formatRetention = [](const SettingsView&, double days) {
            return QStringLiteral("Retention: ") + daysText(std::llround(days));
        };
        const auto readRetention = [](const AppSettings& s) { return double(s.retentionDays); };
        const auto writeRetention = [](SettingsView& view, double days) {
            view.stepRetention(std::llround(days));
        };
        const Row retention{.section = QStringLiteral("Data"),
                            .kind = Kind::stepper,
                            .name = "retention",
                            .minimum = 1,
                            .maximum = 365,
                            .format = formatRetention,
                            .read = readRetention,
                            .write = writeRetention,
                            .more = &SettingsView::addDataActions};

        return QList<Row>{
            provider(Provider::codex, "providerCodex"),
            provider(Provider::claude, "providerClaude"),
            basis,
            mode,
            tray,
            withHelp(flag(QStringLiteral("Menu bar"), "showRemaining",
                          QStringLiteral("Show remaining (reserve)"), &AppSettings::showRemaining),
                     QStringLiteral("On: shows what's left (e.g. 98%), like Codex. Off: shows used.")),
            withHelp(flag(QStringLiteral("Menu bar"), "currencyGBP", QStringLiteral("Show spend in £ (GBP)"),
                          &AppSettings::currencyGBP),
                     QStringLiteral("Estimated spend uses approximate token prices; off shows $ (USD).")),
            budget,
            login,
            target,
            sleeps,
            sleepTime("bedtime", QStringLiteral("Bedtime"), &SleepSchedule::bedtimeMinutes),
            wake,
            flag(QStringLiteral("Notifications"), "notificationsEnabled", QStringLiteral("Enable alerts"),
                 &AppSettings::notificationsEnabled),
            threshold(QStringLiteral("5h usage above"), 50, 100, "fiveHourUsageAbove",
                      &NotificationThresholds::fiveHourUsageAbove),
            threshold(QStringLiteral("5h forecast above"), 50, 140, "fiveHourForecastAbove",
                      &NotificationThresholds::fiveHourForecastAbove),
            timeToLimit,
            Row{.section = QStringLiteral("Claude bridge"), .more = &SettingsView::addBridgeActions},
            statusLine,
            Row{.section = QStringLiteral("Codex"), .more = &SettingsView::addCodexStatus},
            Row{.section = QStringLiteral("Accounts"), .more = &SettingsView::addAccounts},
            Row{.section = QStringLiteral("Machines"), .more = &SettingsView::addMachines},
            Row{.section = QStringLiteral("More providers"), .more = &SettingsView::addMoreProviders},
            demo,
            retention,
            Row{.section = QStringLiteral("Diagnostics"), .more = &SettingsView::addDiagnostics},
        };
    }();
    return table;
}

QWidget* SettingsView::buildContent()
{
    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(PanelTheme::inset, PanelTheme::inset, PanelTheme::inset, PanelTheme::inset);
    column->setSpacing(PanelTheme::cardSpacing);
    QVBoxLayout* layout = nullptr;
    QString heading;
    for (const Row& r : rows()) {
        if (!layout || r.section != heading) {
            heading = r.section;
            layout = section(column, heading);
        }
        QWidget* control = nullptr;
        QWidget* line = buildRow(r, control);
        if (line)
            layout->addWidget(line);
        m_controls.append(control);
        m_lines.append(line);
        if (r.more)
            (this->*r.more)(layout);
    }
    column->addStretch();
    return content;
}

QWidget* SettingsView::buildRow(const Row& r, QWidget*& control)
{
    const auto take = [this, &r](double value) {
        if (value != r.read(m_state.settings()))
            r.write(*this, value);
    };
    QWidget* labelled = nullptr;
    switch (r.kind) {
    case Row::Kind::check: {
        auto* box = new QCheckBox(r.label);
        connect(box, &QCheckBox::toggled, this, [take](bool on) { take(on ? 1 : 0); });
        control = box;
        break;
    }
    case Row::Kind::choice: {
        auto* combo = new QComboBox;
        combo->addItems(r.items);
        connect(combo, &QComboBox::activated, this, [take](int index) { take(index); });
        control = combo;
        labelled = row(r.label, combo);
        break;
    }
    case Row::Kind::picker: {
        auto* picker = new SegmentedPicker(r.items);
        picker->setAccessibleName(r.label);
        connect(picker, &SegmentedPicker::picked, this, [take](int index) { take(index); });
        control = picker;
        labelled = new QWidget;
        auto* stack = new QVBoxLayout(labelled);
        stack->setContentsMargins(0, 0, 0, 0);
        stack->setSpacing(8);
        stack->addWidget(PlainText::label(r.label));
        stack->addWidget(picker);
        break;
    }
    case Row::Kind::stepper: {
        auto* stepper = new Stepper(r.minimum, r.maximum, r.step,
                                    [this, &r](double value) { return r.format(*this, value); });
        connect(stepper, &Stepper::valueChanged, this, take);
        control = stepper;
        break;
    }
    case Row::Kind::slider: {
        auto* slider = new QSlider(Qt::Horizontal);
        slider->setRange(int(r.minimum), int(r.maximum));
        slider->setAccessibleName(r.label);
        auto* value = PlainText::label();
        value->setObjectName(QLatin1String(r.name) + QStringLiteral("Value"));
        value->setMinimumWidth(value->fontMetrics().horizontalAdvance(QStringLiteral("30.0%")));
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        connect(slider, &QSlider::valueChanged, this, [this, &r, value, take](int v) {
            value->setText(r.format(*this, v));
            take(v);
        });
        control = slider;
        labelled = new QWidget;
        auto* line = new QHBoxLayout(labelled);
        line->setContentsMargins(0, 0, 0, 0);
        line->addWidget(PlainText::label(r.label));
        line->addWidget(slider, 1);
        line->addWidget(value);
        break;
    }
    case Row::Kind::time: {
        auto* editor = new QTimeEdit;
        editor->setDisplayFormat(QStringLiteral("HH:mm"));
        connect(editor, &QTimeEdit::timeChanged, this,
                [take](QTime time) { take(time.hour() * 60 + time.minute()); });
        control = editor;
        labelled = row(r.label, editor);
        break;
    }
    case Row::Kind::none:
        return nullptr;
    }
    control->setObjectName(QLatin1String(r.name));
    QWidget* line = labelled ? labelled : control;
    if (r.help.isEmpty())
        return line;
    auto* withHelp = new QWidget;
    auto* stack = new QVBoxLayout(withHelp);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(8);
    stack->addWidget(line);
    stack->addWidget(help(r.help));
    return withHelp;
}

void SettingsView::addDisplayHelp(QVBoxLayout* layout)
{
    m_displayHelp = help({});
    layout->addWidget(m_displayHelp);
}

void SettingsView::addPreview(QVBoxLayout* layout)
{
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
    layout->addWidget(preview);
}

void SettingsView::addBedtimeIn(QVBoxLayout* layout)
{
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
    layout->addWidget(bedtimeRow);
}

void SettingsView::addSnooze(QVBoxLayout* alerts)
{
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
}

void SettingsView::addBridgeActions(QVBoxLayout* layout)
{
    m_bridgeStatus = new StatusPill;
    m_bridgeStatus->setObjectName(QStringLiteral("bridgeStatus"));
    layout->addWidget(m_bridgeStatus, 0, Qt::AlignLeft);
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
    layout->addLayout(bridgeButtons);
}

void SettingsView::addBridgeMessage(QVBoxLayout* layout)
{
    m_bridgeMessage = help({});
    m_bridgeMessage->setObjectName(QStringLiteral("bridgeMessage"));
    m_bridgeMessage->setForegroundRole(QPalette::Text);
    m_bridgeMessage->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_bridgeMessage->hide();
    layout->addWidget(m_bridgeMessage);
}

void SettingsView::addCodexStatus(QVBoxLayout* layout)
{
    m_codexStatus = PlainText::label();
    m_codexStatus->setObjectName(QStringLiteral("codexStatus"));
    layout->addWidget(m_codexStatus);
    m_codexHelp = help({});
    m_codexHelp->setObjectName(QStringLiteral("codexHelp"));
    layout->addWidget(m_codexHelp);
}

void SettingsView::addAccounts(QVBoxLayout* layout)
{
    layout->addWidget(
        help(QStringLiteral("Every folder an assistant keeps an account in. A label is yours to "
                            "name; a folder switched off is not read.")));
    m_accountList = new QVBoxLayout;
    m_accountList->setSpacing(8);
    layout->addLayout(m_accountList);
    auto* add = new QPushButton(QStringLiteral("Add folder\u2026"));
    add->setObjectName(QStringLiteral("addAccountFolder"));
    connect(add, &QPushButton::clicked, this, [this] {
        auto* dialog = new QFileDialog(this, QStringLiteral("Add an account folder"), QDir::homePath());
        dialog->setObjectName(QStringLiteral("accountFolderDialog"));
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->setFileMode(QFileDialog::Directory);
        dialog->setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
        connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& folder) {
            const QString clean = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
            editAccounts([clean] { return AccountSettings::add(clean, std::nullopt, {}); });
        });
        dialog->open();
    });
    layout->addWidget(add, 0, Qt::AlignLeft);
    m_accountMessage = help({});
    m_accountMessage->setObjectName(QStringLiteral("accountMessage"));
    m_accountMessage->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_accountMessage->hide();
    layout->addWidget(m_accountMessage);
}

void SettingsView::editAccounts(std::function<AccountSettings::Outcome()> change)
{
    m_actions->editAccounts(std::move(change), [this](const AccountSettings::Outcome& outcome) {
        m_accountMessage->setText(outcome.message);
        m_accountMessage->setVisible(outcome.status != 0);
        redraw();
    });
}

void SettingsView::redrawAccounts(const QList<AccountRowText>& rows)
{
    const auto folders = [](const QList<AccountRowText>& list) {
        QStringList out;
        for (const AccountRowText& r : list)
            out.append(rawValue(r.provider) + QLatin1Char(r.isDefault ? '=' : ':') + r.folder);
        return out;
    };
    if (folders(rows) != folders(m_accountRows)) {
        while (QLayoutItem* item = m_accountList->takeAt(0)) {
            delete item->widget();
            delete item;
        }
        for (const AccountRowText& r : rows) {
            auto* line = new QWidget;
            line->setObjectName(QStringLiteral("account-") + r.folder);
            auto* grid = new QGridLayout(line);
            grid->setContentsMargins(0, 0, 0, 0);
            grid->addWidget(PlainText::label(r.title), 0, 0);
            auto* label = new QLineEdit;
            label->setObjectName(QStringLiteral("accountLabel"));
            label->setAccessibleName(QStringLiteral("Label of ") + r.title);
            label->setMaxLength(40);
            grid->addWidget(label, 1, 0, 1, 2);
            auto* detail = help({});
            detail->setObjectName(QStringLiteral("accountDetail"));
            grid->addWidget(detail, 2, 0, 1, 2);
            const Provider provider = r.provider;
            const QString folder = r.folder;
            // The assistant's own folder goes on and off with the assistant, in Providers.
            if (!r.isDefault) {
                auto* watched = new QCheckBox(QStringLiteral("Read"));
                watched->setObjectName(QStringLiteral("accountSwitch"));
                grid->addWidget(watched, 0, 1, Qt::AlignRight);
                connect(watched, &QCheckBox::toggled, this, [this, provider, folder](bool on) {
                    editAccounts([=] { return AccountSettings::setEnabled(provider, folder, on); });
                });
            }
            connect(label, &QLineEdit::editingFinished, this, [this, label, provider, folder] {
                const QString text = label->text().trimmed();
                const auto shown = std::find_if(m_accountRows.cbegin(), m_accountRows.cend(),
                                                [&](const AccountRowText& a) { return a.folder == folder; });
                if (shown != m_accountRows.cend() && shown->label != text)
                    editAccounts([=] { return AccountSettings::setLabel(provider, folder, text); });
            });
            m_accountList->addWidget(line);
        }
    }
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const AccountRowText& r = rows[i];
        QWidget* line = m_accountList->itemAt(int(i))->widget();
        if (auto* watched = line->findChild<QCheckBox*>(QStringLiteral("accountSwitch"))) {
            const QSignalBlocker block(watched);
            watched->setChecked(r.enabled);
        }
        auto* label = line->findChild<QLineEdit*>(QStringLiteral("accountLabel"));
        if (!label->hasFocus())
            label->setText(r.label);
        line->findChild<QLabel*>(QStringLiteral("accountDetail"))->setText(r.detail);
    }
    m_accountRows = rows;
}

void SettingsView::addMachines(QVBoxLayout* layout)
{
    layout->addWidget(new MachinesSettings(m_state));
}

void SettingsView::addMoreProviders(QVBoxLayout* layout)
{
    layout->addWidget(
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
        layout->addWidget(entry);
    }
}

void SettingsView::addDataActions(QVBoxLayout* layout)
{
    m_retentionSettle = new QTimer(this);
    m_retentionSettle->setSingleShot(true);
    m_retentionSettle->setInterval(retentionSettleMs);
    connect(m_retentionSettle, &QTimer::timeout, this, &SettingsView::confirmRetention);
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
    layout->addLayout(dataButtons);
    m_dataMessage = help({});
    m_dataMessage->setObjectName(QStringLiteral("dataMessage"));
    m_dataMessage->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_dataMessage->hide();
    layout->addWidget(m_dataMessage);
}

void SettingsView::addDiagnostics(QVBoxLayout* layout)
{
    m_diagnostics = PlainText::label();
    m_diagnostics->setObjectName(QStringLiteral("health"));
    m_diagnostics->setWordWrap(true);
    layout->addWidget(m_diagnostics);
    m_lastUpdate = help({});
    m_lastUpdate->setObjectName(QStringLiteral("lastUpdate"));
    layout->addWidget(m_lastUpdate);
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
        layout->addWidget(copy, 0, Qt::AlignLeft);
        layout->addWidget(m_copyMessage);
    }
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

void SettingsView::setStartAtLogin(bool on)
{
    // The switch stays as it was when the login item could not be changed.
    if (m_feeds.setStartAtLogin && !m_feeds.setStartAtLogin(on)) {
        const QSignalBlocker block(m_startAtLogin);
        m_startAtLogin->setChecked(!on);
        return;
    }
    edit([on](AppSettings& s) { s.startAtLogin = on; });
}

void SettingsView::stepRetention(qint64 days)
{
    if (olderThan(*m_state.store(), days) > 0)
        m_retentionSettle->start();
    else
        confirmRetention();
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
    const PublishedState published = m_state.publishedState();
    m_budgetPrefix = published.budgetPrefix;
    for (qsizetype i = 0; i < rows().size(); ++i) {
        const Row& r = rows()[i];
        QWidget* control = m_controls[i];
        if (!control)
            continue;
        m_lines[i]->setVisible(!r.shown || r.shown(s));
        const double value = r.read(s);
        const QSignalBlocker block(control);
        switch (r.kind) {
        case Row::Kind::check:
            static_cast<QCheckBox*>(control)->setChecked(value != 0);
            break;
        case Row::Kind::choice:
            static_cast<QComboBox*>(control)->setCurrentIndex(int(value));
            break;
        case Row::Kind::picker:
            static_cast<SegmentedPicker*>(control)->setCurrent(int(value));
            break;
        case Row::Kind::stepper:
            static_cast<Stepper*>(control)->setValue(value);
            break;
        case Row::Kind::slider: {
            auto* slider = static_cast<QSlider*>(control);
            slider->setValue(int(value));
            control->parentWidget()
                ->findChild<QLabel*>(QLatin1String(r.name) + QStringLiteral("Value"))
                ->setText(r.format(*this, slider->value()));
            break;
        }
        case Row::Kind::time:
            static_cast<QTimeEdit*>(control)->setTime(timeOf(qint64(value)));
            break;
        case Row::Kind::none:
            break;
        }
    }
    m_displayHelp->setText(helpText(s.menuBarDisplayMode));
    const QString& title = published.title;
    m_previewText->setText(title);
    m_previewText->setVisible(!title.isEmpty());
    const qreal dpr = devicePixelRatioF();
    QPixmap icon = QPixmap::fromImage(
        GaugeIcon::render(published.globalStatus, qBound(16, qRound(20 * dpr), 64), published.iconFigure));
    icon.setDevicePixelRatio(dpr);
    m_previewIcon->setPixmap(icon);
    const std::optional<double>& bedtimeIn = published.timeUntilBedtime;
    m_bedtimeIn->parentWidget()->setVisible(s.sleep.enabled && bedtimeIn.has_value());
    m_bedtimeIn->setText(QStringLiteral("Bedtime in ") + TimeFormatting::countdown(bedtimeIn));
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

    redrawAccounts(published.accountRows);

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
