// One compute cycle over a 200,000-line snapshot log right after a one-line append, against a full decode
// of the same log: the cycle should cost a small fraction of re-reading everything. And the GUI thread's
// share of a cycle, `apply`, on a 20,000- and a 200,000-line log: it must not grow with the log.
#include "app/AppState.h"
#include "app/SeriesCache.h"
#include "core/io/SnapshotStore.h"
#include "core/runtime/Clock.h"
#include "core/text/JsonLines.h"
#include "core/text/SnapshotLineDecoder.h"
#include "core/text/Zone.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <vector>

namespace {

constexpr int logLines = 200'000;
constexpr qint64 spacingSeconds = 15;
const QDateTime start = QDateTime(QDate(2026, 1, 1), QTime(0, 0), Zone::utc());

std::unique_ptr<QTemporaryDir> workDir;

// Four series (two providers, two windows) interleaved, each filling up steadily and resetting on schedule.
UsageSnapshot sample(qint64 index)
{
    UsageSnapshot s;
    s.provider = (index / 2) % 2 ? Provider::claude : Provider::codex;
    s.windowKind = index % 2 ? WindowKind::sevenDay : WindowKind::fiveHour;
    s.timestamp = start.addSecs(index * spacingSeconds);
    const qint64 window = s.windowKind == WindowKind::fiveHour ? 18'000 : 604'800;
    const qint64 elapsed = start.secsTo(s.timestamp) % window;
    s.resetAt = s.timestamp.addSecs(window - elapsed);
    s.windowDurationMins = double(window) / 60;
    s.usedPercent = std::round(80.0 * double(elapsed) / double(window) * 10) / 10;
    s.remainingPercent = 100 - s.usedPercent;
    s.modelId = s.provider == Provider::codex ? QStringLiteral("gpt-5.5") : QStringLiteral("claude-opus-4-8");
    s.effortLevel = QStringLiteral("medium");
    s.planType = QStringLiteral("Pro");
    s.source =
        s.provider == Provider::codex ? QStringLiteral("codex.app-server") : QStringLiteral("claude.oauth");
    s.sourceConfidence = SourceConfidence::high;
    return s;
}

QString writeLog(int lines = logLines)
{
    const QString file = workDir->filePath(QStringLiteral("snapshots-%1.ndjson").arg(lines));
    QByteArray text;
    text.reserve(qsizetype(lines) * 400);
    for (int i = 0; i < lines; ++i)
        text += JsonLines::encodeLine(sample(i).toJson()) + '\n';
    QFile out(file);
    if (out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        out.write(text);
    return file;
}

const QString& logPath()
{
    static const QString path = writeLog();
    return path;
}

double fullDecodeSeconds()
{
    QFile file(logPath());
    file.open(QIODevice::ReadOnly);
    const QByteArray bytes = file.readAll();
    double best = 1e9;
    for (int i = 0; i < 3; ++i) {
        QElapsedTimer timer;
        timer.start();
        benchmark::DoNotOptimize(SnapshotLineDecoder::decodeLines(bytes));
        best = std::min(best, timer.nsecsElapsed() / 1e9);
    }
    return best;
}

void BM_FullDecode(benchmark::State& state)
{
    QFile file(logPath());
    file.open(QIODevice::ReadOnly);
    const QByteArray bytes = file.readAll();
    for (auto _ : state)
        benchmark::DoNotOptimize(SnapshotLineDecoder::decodeLines(bytes));
    state.counters["lines"] = logLines;
}

// Argument 1: the previous cycle's snapshots stay published meanwhile, as in the application (the store then
// copies the last chunk of its cached log on the append); 0: nothing else holds them, as in `status --watch`.
void BM_ComputeAfterOneLineAppend(benchmark::State& state)
{
    const bool keepPublished = state.range(0) != 0;
    const QString path = workDir->filePath(QStringLiteral("growing.ndjson"));
    QFile::remove(path);
    QFile::copy(logPath(), path);
    const double decode = fullDecodeSeconds();

    auto store = std::make_shared<SnapshotStore>(path);
    store->log();
    ComputeCycleRequest request;
    request.settings.enabledProviders = {Provider::codex, Provider::claude};
    request.providers = {Provider::codex, Provider::claude};
    request.store = store;
    request.cache = std::make_shared<SeriesCache>();
    // The application keeps the last cycle's snapshots published while the next one runs.
    ForecastBundle published = AppState::compute(request);
    qint64 index = logLines;
    double spent = 0;
    qint64 forecasts = 0;
    for (auto _ : state) {
        state.PauseTiming();
        store->append(sample(index));
        request.now = start.addSecs(index * spacingSeconds);
        ++index;
        state.ResumeTiming();
        QElapsedTimer timer;
        timer.start();
        ForecastBundle bundle = AppState::compute(request);
        spent += timer.nsecsElapsed() / 1e9;
        forecasts = bundle.forecasts.size();
        state.PauseTiming();
        if (keepPublished)
            published = std::move(bundle);
        else
            published = {};
        state.ResumeTiming();
    }
    const double cycle = spent / double(state.iterations());
    state.counters["full_decode_ms"] = decode * 1000;
    state.counters["cycle_ms"] = cycle * 1000;
    state.counters["ratio_pct"] = cycle / decode * 100;
    state.counters["forecasts"] = double(forecasts);
}

double threadSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// Argument: the log's length. Each iteration appends a line and computes off the clock, then times `apply`
// of that cycle's bundle, as the GUI thread runs it.
void BM_ApplyAfterOneLineAppend(benchmark::State& state)
{
    const int lines = int(state.range(0));
    const QString path = writeLog(lines);
    auto store = std::make_shared<SnapshotStore>(path);
    AppStateEnvironment env;
    QDateTime now = start.addSecs(qint64(lines) * spacingSeconds);
    ManualClock clock(now);
    env.clock = &clock;
    env.store = store;
    env.providerFactory = [](Provider, const std::shared_ptr<SnapshotStore>&) { return nullptr; };
    env.loadSettings = [] { return AppSettings{}; };
    env.scheduleSave = [](const AppSettings&) {};
    AppState appState(env);
    ComputeCycleRequest request;
    request.settings.enabledProviders = {Provider::codex, Provider::claude};
    request.providers = {Provider::codex, Provider::claude};
    request.store = store;
    request.cache = std::make_shared<SeriesCache>();
    request.now = now;
    appState.apply(AppState::compute(request), request.settings, now);

    qint64 index = lines;
    std::vector<double> microseconds;
    for (auto _ : state) {
        store->append(sample(index));
        now = start.addSecs(index * spacingSeconds);
        clock.set(now);
        request.now = now;
        ++index;
        const ForecastBundle bundle = AppState::compute(request);
        // The GUI thread's own time: what other processes take from a busy machine does not count.
        const double before = threadSeconds();
        appState.apply(bundle, request.settings, now);
        const double seconds = threadSeconds() - before;
        state.SetIterationTime(seconds);
        microseconds.push_back(seconds * 1e6);
    }
    std::sort(microseconds.begin(), microseconds.end());
    state.counters["lines"] = lines;
    state.counters["median_us"] = microseconds[microseconds.size() / 2];
}

} // namespace

BENCHMARK(BM_ApplyAfterOneLineAppend)
    ->Arg(20'000)
    ->Arg(200'000)
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(200)
    ->UseManualTime();
BENCHMARK(BM_FullDecode)->Unit(benchmark::kMillisecond)->Iterations(5);
// The store reads on its own queue thread, so only wall time tells the cost.
BENCHMARK(BM_ComputeAfterOneLineAppend)
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(50)
    ->UseRealTime();

int main(int argc, char** argv)
{
    // Never touch the real home: the store makes sure the data folder exists.
    workDir = std::make_unique<QTemporaryDir>();
    const QByteArray home = workDir->path().toUtf8();
    ::setenv("HOME", home.constData(), 1);
    ::setenv("XDG_DATA_HOME", (home + "/data").constData(), 1);
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    std::printf("log: %d lines, %.1f MB\n", logLines, double(QFile(logPath()).size()) / 1e6);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    workDir.reset();
    return 0;
}
