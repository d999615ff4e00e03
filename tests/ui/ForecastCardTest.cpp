#include "ui/ForecastCard.h"
#include "core/text/TimeFormatting.h"
#include "ui/RangeChartView.h"
#include "ui/SegmentedPicker.h"
#include "ui/UiTestSupport.h"

#include <gtest/gtest.h>

#include <QActionGroup>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QStyle>

namespace {

using UiTest::ago;
using UiTest::kNow;
using UiTest::reading;

AppSettings settings(bool focusAuto = true)
{
    AppSettings s = UiTest::onboarded();
    s.focusAuto = focusAuto;
    s.focusedProvider = Provider::codex;
    s.focusedWindow = WindowKind::fiveHour;
    return s;
}

// Codex quiet on its 5-hour window and its weekly one; Claude's 5-hour window climbing towards its limit.
QList<UsageSnapshot> twoProviders(double claudeStep)
{
    QList<UsageSnapshot> list;
    const QDateTime reset = kNow.addSecs(3 * 3600);
    for (int i = 0; i <= 12; ++i) {
        const double minutesAgo = 60 - i * 5;
        list << reading(Provider::codex, WindowKind::fiveHour, ago(minutesAgo), 20, reset);
        list << reading(Provider::claude, WindowKind::fiveHour, ago(minutesAgo), 30 + i * claudeStep, reset);
    }
    list << reading(Provider::codex, WindowKind::weekly, ago(120), 30, kNow.addDays(3));
    list << reading(Provider::codex, WindowKind::weekly, ago(50), 30.9, kNow.addDays(3));
    list << reading(Provider::codex, WindowKind::weekly, ago(1), 31, kNow.addDays(3));
    return list;
}

ForecastCardInput shownInput(const AppState& state)
{
    return ForecastCardInput::fromPublished(state.publishedState());
}

TEST(ForecastCard, AutomaticFocusFollowsTheMostUrgentSeries)
{
    auto urgent = UiTest::makeState(settings(), twoProviders(4));
    ForecastCardInput in = shownInput(*urgent);
    EXPECT_EQ(in.provider, Provider::claude);
    EXPECT_EQ(in.window, WindowKind::fiveHour);
    EXPECT_EQ(in.tabs, (QList<Provider>{Provider::codex, Provider::claude}));
    // Nothing running out: the focused series while it has data.
    auto calm = UiTest::makeState(settings(), twoProviders(0));
    EXPECT_EQ(shownInput(*calm).provider, Provider::codex);
    // Manual focus sticks to its choice.
    auto manual = UiTest::makeState(settings(false), twoProviders(4));
    EXPECT_EQ(shownInput(*manual).provider, Provider::codex);
}

TEST(ForecastCard, SummaryLinesForFiveHourAndLongWindows)
{
    auto state = UiTest::makeState(settings(), twoProviders(4));
    ForecastCard card(*state);
    ForecastCardInput in = shownInput(*state);
    card.setInput(in);
    const ForecastResult& f = *in.forecast;
    ASSERT_TRUE(f.runOutAt.has_value());
    const QString runOut = TimeFormatting::clock(f.runOutAt, kNow) + " (in " +
                           TimeFormatting::countdown(static_cast<double>(kNow.secsTo(*f.runOutAt))) + ")";
    EXPECT_EQ(card.findChild<QLabel*>("rangeTitle")->text(), "Claude Code 5-hour range");
    EXPECT_EQ(card.summaryLines(),
              (QStringList{"Current: 22% left", "1h pace: ~0% left by reset", "Runs out: " + runOut,
                           "Resets: " + kNow.addSecs(3 * 3600).toLocalTime().toString("HH:mm") +
                               (kNow.toLocalTime().date() == kNow.addSecs(3 * 3600).toLocalTime().date()
                                    ? " today"
                                    : " tomorrow"),
                           "Status: medium confidence · Limit likely"}))
        << card.summaryLines().join("\n").toStdString();
    EXPECT_FALSE(in.chart.windowStart.has_value()); // no ideal pace on a five-hour window

    // The long window: pace line, ideal pace, "not before reset" with showRemaining off.
    AppSettings weekly = settings(false);
    weekly.focusedWindow = WindowKind::weekly;
    weekly.showRemaining = false;
    // A reading of the previous week stays off the chart.
    QList<UsageSnapshot> withLastWeek = twoProviders(0);
    withLastWeek.prepend(
        reading(Provider::codex, WindowKind::weekly, ago(8 * 24 * 60), 90, kNow.addDays(-1)));
    auto longState = UiTest::makeState(weekly, withLastWeek);
    ForecastCardInput longInput = shownInput(*longState);
    card.setInput(longInput);
    const QStringList lines = card.summaryLines();
    EXPECT_EQ(lines.value(0), "Current: 31% used");
    EXPECT_TRUE(lines.contains("Time to limit: not before reset")) << lines.join("\n").toStdString();
    EXPECT_TRUE(lines.contains("Pace: " + rawValue(longState->paces().value(Provider::codex).verdict)));
    ASSERT_TRUE(longInput.chart.windowStart.has_value());
    EXPECT_EQ(*longInput.chart.windowStart, kNow.addDays(3).addSecs(-10080 * 60));
    EXPECT_EQ(card.chart()->data(), longInput.chart);
    ASSERT_EQ(longInput.chart.points.size(), 3);
    EXPECT_EQ(longInput.chart.points.first().ms, kNow.addSecs(-120 * 60).toMSecsSinceEpoch());

    // A series without a forecast: the note instead of the chart.
    longInput.forecast.reset();
    card.setInput(longInput);
    EXPECT_TRUE(card.findChild<QLabel*>("noData")->isVisibleTo(&card));
    EXPECT_FALSE(card.chart()->isVisibleTo(&card));
    EXPECT_TRUE(card.summaryLines().isEmpty());
}

TEST(ForecastCard, ControlsChangeTheSettingsTheyName)
{
    auto state = UiTest::makeState(settings(), twoProviders(4));
    ForecastCard card(*state);
    card.setInput(shownInput(*state));
    card.show();

    // Basis picker: a click, then the arrow keys.
    SegmentedPicker* picker = card.basisPicker();
    QKeyEvent right(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier);
    QCoreApplication::sendEvent(picker, &right);
    EXPECT_EQ(state->shownBasis(), ForecastBasis::last3h);
    QKeyEvent left(QEvent::KeyPress, Qt::Key_Left, Qt::NoModifier);
    QCoreApplication::sendEvent(picker, &left);
    QCoreApplication::sendEvent(picker, &left);
    EXPECT_EQ(state->shownBasis(), ForecastBasis::last30m);
    EXPECT_EQ(state->settings().forecastBasis, AppSettings{}.forecastBasis) << "the view only";

    // Focus menu: one entry per series with data after "Auto · most at risk".
    QMenu* menu = card.focusButton()->menu();
    QStringList entries;
    for (const QAction* action : menu->actions())
        if (!action->isSeparator())
            entries << action->text();
    EXPECT_EQ(entries, (QStringList{"Auto · most at risk", "Codex · 5-hour range",
                                    "Claude Code · 5-hour range", "Codex · Weekly range"}));
    EXPECT_EQ(card.focusButton()->text(), "Auto");
    // A one-of-several choice: radio items, and the arrow beside the text rather than over it.
    ASSERT_NE(menu->actions().first()->actionGroup(), nullptr);
    EXPECT_TRUE(menu->actions().first()->actionGroup()->isExclusive());
    EXPECT_EQ(menu->actions().first()->actionGroup(), menu->actions().last()->actionGroup());
    const QPushButton* focus = card.focusButton();
    EXPECT_GE(focus->sizeHint().width(),
              focus->fontMetrics().horizontalAdvance(focus->text()) + focus->iconSize().width() +
                  focus->style()->pixelMetric(QStyle::PM_MenuButtonIndicator, nullptr, focus));
    menu->actions().last()->trigger();
    EXPECT_FALSE(state->settings().focusAuto);
    EXPECT_EQ(state->settings().focusedProvider, Provider::codex);
    EXPECT_EQ(state->settings().focusedWindow, WindowKind::weekly);
    card.setInput(shownInput(*state));
    EXPECT_EQ(card.focusButton()->text(), "Focus");
    card.focusButton()->menu()->actions().first()->trigger();
    EXPECT_TRUE(state->settings().focusAuto);

    // A tab focuses its provider in the panel; the tray's provider is the tray's.
    const Provider tray = state->settings().trayProvider;
    card.setInput(shownInput(*state));
    ASSERT_EQ(card.providerTabs()->labels(), (QStringList{"Codex", "Claude Code"}));
    QKeyEvent back(QEvent::KeyPress, Qt::Key_Left, Qt::NoModifier);
    QCoreApplication::sendEvent(card.providerTabs(), &back);
    EXPECT_FALSE(state->settings().focusAuto);
    EXPECT_EQ(state->settings().focusedProvider, Provider::codex);
    EXPECT_EQ(state->settings().trayProvider, tray);
}

TEST(ForecastCard, ProviderWithoutAnyForecastGetsNoTab)
{
    QList<UsageSnapshot> codexOnly;
    codexOnly << reading(Provider::codex, WindowKind::fiveHour, ago(5), 10, kNow.addSecs(3600));
    auto state = UiTest::makeState(settings(), codexOnly);
    EXPECT_EQ(shownInput(*state).tabs, QList<Provider>{Provider::codex});
}

TEST(RangeChartView, ReadoutOfTheNearestPointAndRepaintOnlyOnChange)
{
    RangeChartView chart;
    chart.resize(400, 170);
    RangeChartData data;
    const qint64 t0 = kNow.toMSecsSinceEpoch();
    data.points = {{t0, 10}, {t0 + 3'600'000, 30}, {t0 + 7'200'000, 45}};
    data.resetAt = kNow.addSecs(4 * 3600);
    chart.setData(data);
    // The plot spans 4 h from x = 30 to 394: the middle point sits at x = 121.
    EXPECT_EQ(chart.readoutAt(125), TimeFormatting::clock(kNow.addSecs(3600), kNow) + " · 30% used");
    EXPECT_EQ(chart.readoutAt(0), TimeFormatting::clock(kNow, kNow) + " · 10% used");
    EXPECT_EQ(chart.readoutAt(399), TimeFormatting::clock(kNow.addSecs(7200), kNow) + " · 45% used");
    chart.show();
    QCoreApplication::processEvents();
    chart.repaint();
    const int paints = chart.paintCount();
    chart.setData(data);
    // A different series after the same one: exactly one paint between them, for the change.
    data.points.append({t0 + 9'000'000, 50});
    chart.setData(data);
    QCoreApplication::processEvents();
    EXPECT_EQ(chart.paintCount(), paints + 1);

    // Over a week the axis and the readout carry the day, and the ticks spread over the range.
    data.points = {{t0 - 6 * 86'400'000LL, 5}, {t0, 32}};
    data.resetAt = kNow.addDays(1);
    chart.setData(data);
    const QDateTime local = kNow.toLocalTime();
    EXPECT_EQ(chart.readoutAt(399), local.toString("ddd d, HH:mm") + " · 32% used");
    ChartMapping week = ChartMapping::make(QRectF(0, 0, 400, 100), t0 - 6 * 86'400'000LL, t0, std::nullopt,
                                           kNow.addDays(1).toMSecsSinceEpoch(), std::nullopt, 40);
    QStringList labels;
    for (const qint64 tick : week.timeTicks(4))
        labels << week.timeLabel(tick);
    EXPECT_EQ(labels.size(), 4);
    EXPECT_EQ(QSet<QString>(labels.cbegin(), labels.cend()).size(), 4) << labels.join(" | ").toStdString();
    EXPECT_EQ(labels.last(), local.addDays(1).toString("ddd d, HH:mm"));
}

TEST(RangeChartView, ProjectionOnlyFromReadingsAndNeverDownwards)
{
    const qint64 t0 = kNow.toMSecsSinceEpoch();
    struct Row
    {
        const char* name;
        QList<RangeChartData::Point> points;
        double projected;
        bool drawn;
    };
    const Row rows[] = {
        {"rising from the last reading", {{t0, 40}}, 120, true},
        {"holding level", {{t0, 40}}, 40, true},
        {"falling from 140 to 100", {{t0 - 60'000, 120}, {t0, 140}}, 100, false},
        {"no readings at all", {}, 60, false},
    };
    for (const Row& row : rows) {
        RangeChartData data;
        data.points = row.points;
        data.resetAt = kNow.addSecs(3600);
        data.projectedAtReset = row.projected;
        RangeChartView chart;
        chart.setData(data);
        EXPECT_EQ(chart.drawsForecast(), row.drawn) << row.name;
    }
}

} // namespace
