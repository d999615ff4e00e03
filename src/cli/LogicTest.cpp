#include "cli/LogicTest.h"
#include "core/text/Zone.h"

#include "app/AppState.h"
#include "app/MenuBarTitleBuilder.h"
#include "app/StateQueries.h"
#include "core/forecast/CalibratedForecast.h"
#include "core/forecast/ForecastEngine.h"
#include "core/forecast/PaceCalculator.h"
#include "core/text/NumberFormatting.h"
#include "core/text/TimeFormatting.h"
#include "providers/DemoProvider.h"

#include <cstdio>

namespace LogicTest {

namespace {

const QDateTime kNow = QDateTime(QDate(2026, 1, 14), QTime(12, 0, 0), Zone::utc());

class Checker
{
public:
    void expect(const QString& name, const QString& actual, const QString& expected)
    {
        if (actual == expected) {
            m_outcome.lines.append(QStringLiteral("ok    ") + name);
        } else {
            ++m_outcome.failures;
            m_outcome.lines.append(
                QStringLiteral("FAIL  %1: expected \"%2\", got \"%3\"").arg(name, expected, actual));
        }
    }
    void expect(const QString& name, qint64 actual, qint64 expected)
    {
        expect(name, QString::number(actual), QString::number(expected));
    }
    Outcome finish()
    {
        m_outcome.lines.append(
            QStringLiteral("%1 checks, %2 failed").arg(m_outcome.lines.size()).arg(m_outcome.failures));
        return m_outcome;
    }

private:
    Outcome m_outcome;
};

UsageSnapshot snapshot(WindowKind window, qint64 secondsAgo, double used, std::optional<qint64> resetIn)
{
    UsageSnapshot s;
    s.provider = Provider::codex;
    s.windowKind = window;
    s.timestamp = kNow.addSecs(-secondsAgo);
    s.usedPercent = used;
    s.remainingPercent = 100 - used;
    if (resetIn)
        s.resetAt = kNow.addSecs(*resetIn);
    s.windowDurationMins = window == WindowKind::fiveHour ? 300 : 10'080;
    return s;
}

ForecastResult longWindow(double current, std::optional<double> projected)
{
    ForecastResult f;
    f.windowKind = WindowKind::sevenDay;
    f.currentUsedPercent = current;
    f.projectedUsedAtReset = projected;
    f.status = ForecastStatus::limitLikely;
    return f;
}

} // namespace

Outcome runChecks()
{
    Checker check;

    // Demo data and one whole demo cycle.
    const QList<UsageSnapshot> demo = DemoProvider::history(Provider::codex, kNow);
    check.expect(QStringLiteral("demo history has 23 snapshots"), demo.size(), 23);
    check.expect(QStringLiteral("demo five-hour midpoint is 12.8"),
                 QString::number(demo.value(6).usedPercent), QStringLiteral("12.8"));
    AppSettings demoSettings;
    demoSettings.demoMode = true;
    const ForecastBundle bundle = AppState::compute({demoSettings,
                                                     {Provider::codex, Provider::claude},
                                                     nullptr,
                                                     kNow,
                                                     {},
                                                     std::nullopt,
                                                     nullptr,
                                                     nullptr,
                                                     nullptr});
    check.expect(QStringLiteral("demo cycle works on 46 snapshots"), bundle.snapshots.size(), 46);
    check.expect(QStringLiteral("demo cycle forecasts"),
                 QStringList(bundle.forecasts.keys()).join(QLatin1Char(',')),
                 QStringLiteral("claude-fiveHour,claude-sevenDay,codex-fiveHour,codex-sevenDay"));
    check.expect(QStringLiteral("demo cycle has two paces"), bundle.paces.size(), 2);

    // Forecast engine.
    const ForecastResult noReset = ForecastEngine::forecast(
        Provider::codex, WindowKind::fiveHour, {snapshot(WindowKind::fiveHour, 0, 42, std::nullopt)},
        ForecastBasis::last1h, std::nullopt, kNow);
    check.expect(QStringLiteral("no reset time gives noData"), rawValue(noReset.status),
                 QStringLiteral("noData"));
    check.expect(QStringLiteral("no reset time summary"), noReset.humanSummary,
                 QStringLiteral("Current usage 42%. Reset time unknown."));
    const ForecastResult full = ForecastEngine::forecast(
        Provider::codex, WindowKind::fiveHour,
        {snapshot(WindowKind::fiveHour, 600, 100, 3'600), snapshot(WindowKind::fiveHour, 0, 100, 3'600)},
        ForecastBasis::last1h, std::nullopt, kNow);
    check.expect(QStringLiteral("100% used is limited"), rawValue(full.status), QStringLiteral("limited"));
    check.expect(QStringLiteral("confidence of 30 samples"),
                 rawValue(ForecastEngine::confidenceForSampleCount(30)), QStringLiteral("high"));

    // Weekly status rule.
    check.expect(QStringLiteral("weekly projected 101% is risky"),
                 rawValue(CalibratedForecast::weeklyStatus(longWindow(50, 101))), QStringLiteral("risky"));
    check.expect(QStringLiteral("weekly projected 96% is watch"),
                 rawValue(CalibratedForecast::weeklyStatus(longWindow(50, 96))), QStringLiteral("watch"));
    check.expect(QStringLiteral("weekly projected 80% is safe"),
                 rawValue(CalibratedForecast::weeklyStatus(longWindow(50, 80))), QStringLiteral("safe"));
    check.expect(QStringLiteral("weekly at 100% used is limited"),
                 rawValue(CalibratedForecast::weeklyStatus(longWindow(100, 20))), QStringLiteral("limited"));

    // Pace.
    const PaceResult noWindow =
        PaceCalculator::pace(snapshot(WindowKind::sevenDay, 0, 30, std::nullopt), 14.3, std::nullopt, kNow);
    check.expect(QStringLiteral("pace without a reset time"), noWindow.summary,
                 QStringLiteral("Pace unavailable (no window data)."));

    // Overall status and the menu-bar title.
    QMap<QString, ForecastResult> forecasts;
    ForecastResult a;
    a.provider = Provider::codex;
    a.windowKind = WindowKind::fiveHour;
    a.currentUsedPercent = 42.9;
    a.status = ForecastStatus::unknown;
    ForecastResult b = a;
    b.provider = Provider::claude;
    b.status = ForecastStatus::safe;
    forecasts.insert(a.id(), a);
    forecasts.insert(b.id(), b);
    check.expect(QStringLiteral("overall status of unknown and safe"),
                 rawValue(StateQueries::globalStatus(forecasts)), QStringLiteral("safe"));
    AppSettings titleSettings;
    titleSettings.enabledProviders = {Provider::codex};
    titleSettings.menuBarDisplayMode = MenuBarDisplayMode::compact;
    titleSettings.showRemaining = true;
    check.expect(QStringLiteral("compact title shows remaining truncated"),
                 MenuBarTitleBuilder::title(forecasts, titleSettings), QStringLiteral("AI  C 57%"));

    // Formatting.
    check.expect(QStringLiteral("countdown of 59 s"), TimeFormatting::countdown(59), QStringLiteral("<1m"));
    check.expect(QStringLiteral("countdown of 90000 s"), TimeFormatting::countdown(90'000),
                 QStringLiteral("1d 1h"));
    check.expect(QStringLiteral("percent of -1"), NumberFormatting::percent(-1), QStringLiteral("-1%"));

    return check.finish();
}

int run()
{
    const Outcome outcome = runChecks();
    for (const QString& line : outcome.lines)
        std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
    return outcome.failures == 0 ? 0 : 1;
}

} // namespace LogicTest
