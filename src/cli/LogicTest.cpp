#include "cli/LogicTest.h"

#include "app/AppState.h"
#include "core/text/Zone.h"

#include <cstdio>

namespace LogicTest {

Outcome runChecks()
{
    // One demo cycle through every engine; the engines' own cases are the unit tests'.
    ComputeCycleRequest request;
    request.settings.demoMode = true;
    request.providers = {Provider::codex, Provider::claude};
    request.now = QDateTime(QDate(2026, 1, 14), QTime(12, 0, 0), Zone::utc());
    const ForecastBundle bundle = AppState::compute(request);

    Outcome outcome;
    const auto expect = [&outcome](const QString& name, const QString& actual, const QString& expected) {
        if (actual == expected) {
            outcome.lines.append(QStringLiteral("ok    ") + name);
            return;
        }
        ++outcome.failures;
        outcome.lines.append(
            QStringLiteral("FAIL  %1: expected \"%2\", got \"%3\"").arg(name, expected, actual));
    };
    expect(QStringLiteral("demo cycle works on 46 snapshots"), QString::number(bundle.snapshots.size()),
           QStringLiteral("46"));
    expect(QStringLiteral("demo cycle forecasts"),
           QStringList(bundle.forecasts.keys()).join(QLatin1Char(',')),
           QStringLiteral("claude-fiveHour,claude-sevenDay,codex-fiveHour,codex-sevenDay"));
    expect(QStringLiteral("demo cycle has two paces"), QString::number(bundle.paces.size()),
           QStringLiteral("2"));
    outcome.lines.append(
        QStringLiteral("%1 checks, %2 failed").arg(outcome.lines.size()).arg(outcome.failures));
    return outcome;
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
