// Cost of one forecast over a 30-day series of one snapshot a minute (43,200 snapshots), per basis.
// "Weekly" resets every seven days, so the engine cuts the series to the current window; "OneWindow"
// never resets, so every step runs over the whole series.
#include "core/forecast/ForecastEngine.h"
#include "core/text/Zone.h"

#include <benchmark/benchmark.h>

#include <QRandomGenerator>

namespace {

constexpr int minutes = 30 * 24 * 60;
const QDateTime start = QDateTime(QDate(2026, 3, 1), QTime(0, 0), Zone::utc());

QList<UsageSnapshot> thirtyDays(bool weeklyResets)
{
    QRandomGenerator random(7);
    QList<UsageSnapshot> series;
    series.reserve(minutes);
    const qint64 windowMinutes = weeklyResets ? 7 * 24 * 60 : minutes + 60;
    for (int i = 0; i < minutes; ++i) {
        const qint64 windowIndex = i / windowMinutes;
        const double intoWindow = static_cast<double>(i % windowMinutes) / static_cast<double>(windowMinutes);
        UsageSnapshot s;
        s.provider = Provider::codex;
        s.windowKind = WindowKind::sevenDay;
        s.timestamp = start.addSecs(i * 60LL);
        s.usedPercent = std::min(99.0, intoWindow * 90 + random.generateDouble() * 0.5);
        s.remainingPercent = 100 - s.usedPercent;
        s.resetAt = start.addSecs((windowIndex + 1) * windowMinutes * 60);
        s.windowDurationMins = static_cast<double>(windowMinutes);
        s.source = QStringLiteral("codex.app-server");
        s.sourceConfidence = SourceConfidence::high;
        series << s;
    }
    return series;
}

void forecastOver(benchmark::State& state, bool weeklyResets, bool sleepOn)
{
    static const QList<UsageSnapshot> weekly = thirtyDays(true);
    static const QList<UsageSnapshot> oneWindow = thirtyDays(false);
    const QList<UsageSnapshot>& series = weeklyResets ? weekly : oneWindow;
    const auto basis = allForecastBases[static_cast<size_t>(state.range(0))];
    const std::optional<SleepSchedule> sleep =
        sleepOn ? std::optional(SleepSchedule{true, 23 * 60, 7 * 60}) : std::nullopt;
    const QDateTime now = series.last().timestamp.addSecs(30);
    for (auto _ : state) {
        ForecastResult result =
            ForecastEngine::forecast(Provider::codex, WindowKind::sevenDay, series, basis, sleep, now);
        benchmark::DoNotOptimize(result);
    }
    state.SetLabel(rawValue(basis).toStdString());
}

void BM_ForecastWeekly(benchmark::State& state)
{
    forecastOver(state, true, false);
}
void BM_ForecastOneWindow(benchmark::State& state)
{
    forecastOver(state, false, false);
}
void BM_ForecastOneWindowSleepOn(benchmark::State& state)
{
    forecastOver(state, false, true);
}

} // namespace

BENCHMARK(BM_ForecastWeekly)->DenseRange(0, 6)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ForecastOneWindow)->DenseRange(0, 6)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ForecastOneWindowSleepOn)->DenseRange(0, 6)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
