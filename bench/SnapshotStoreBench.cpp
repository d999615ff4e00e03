// Decode throughput of the snapshot log and the cost of all() after a one-line append, on a generated
// 200,000-line log in a temporary folder.
#include "core/io/SnapshotStore.h"
#include "core/text/JsonLines.h"
#include "core/text/SnapshotLineDecoder.h"
#include "core/text/Zone.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include <time.h>

namespace {

constexpr int logLines = 200'000;

std::unique_ptr<QTemporaryDir> workDir;

UsageSnapshot sample(QRandomGenerator& random, qint64 index)
{
    UsageSnapshot s;
    s.provider = random.bounded(2) ? Provider::codex : Provider::claude;
    s.windowKind = random.bounded(2) ? WindowKind::fiveHour : WindowKind::sevenDay;
    s.timestamp = QDateTime::fromSecsSinceEpoch(1'769'850'900 + index * 30, Zone::utc());
    s.usedPercent = std::round(random.generateDouble() * 10000) / 100;
    s.remainingPercent = 100 - s.usedPercent;
    s.resetAt = s.timestamp.addSecs(random.bounded(1, 604800));
    s.windowDurationMins = s.windowKind == WindowKind::fiveHour ? 300 : 10080;
    if (s.provider == Provider::codex) {
        s.limitId = QStringLiteral("codex");
        s.modelId = QStringLiteral("gpt-5.5-codex");
        s.effortLevel = QStringLiteral("medium");
        s.planType = QStringLiteral("plus");
        s.source = QStringLiteral("codex.app-server");
    } else {
        s.modelId = QStringLiteral("claude-opus-4-5-20251101");
        s.modelDisplayName = QStringLiteral("Opus 4.5");
        s.effortLevel = QStringLiteral("high");
        s.thinkingEnabled = true;
        s.planType = QStringLiteral("max");
        s.source = QStringLiteral("claude.statusline");
    }
    s.sourceConfidence = SourceConfidence::high;
    return s;
}

const QByteArray& logBytes()
{
    static const QByteArray bytes = [] {
        QRandomGenerator random(7);
        QByteArray text;
        text.reserve(qsizetype(logLines) * 420);
        for (int i = 0; i < logLines; ++i)
            text += JsonLines::encodeLine(sample(random, i).toJson()) + '\n';
        return text;
    }();
    return bytes;
}

QString logPath()
{
    static const QString path = [] {
        const QString file = workDir->filePath(QStringLiteral("snapshots.ndjson"));
        QFile out(file);
        if (out.open(QIODevice::WriteOnly | QIODevice::Truncate))
            out.write(logBytes());
        return file;
    }();
    return path;
}

void BM_DecodeGeneric(benchmark::State& state)
{
    const QByteArray& bytes = logBytes();
    for (auto _ : state)
        benchmark::DoNotOptimize(JsonLines::decodeLines<UsageSnapshot>(bytes));
    state.SetBytesProcessed(state.iterations() * bytes.size());
    state.counters["lines"] = logLines;
}

void BM_DecodeFast(benchmark::State& state)
{
    const QByteArray& bytes = logBytes();
    for (auto _ : state)
        benchmark::DoNotOptimize(SnapshotLineDecoder::decodeLines(bytes));
    state.SetBytesProcessed(state.iterations() * bytes.size());
    state.counters["lines"] = logLines;
}

// A fresh store: one file read plus a full decode.
double fullReadSeconds()
{
    SnapshotStore store(logPath());
    QElapsedTimer timer;
    timer.start();
    benchmark::DoNotOptimize(store.log());
    return timer.nsecsElapsed() / 1e9;
}

double processCpuSeconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

void BM_StoreFullRead(benchmark::State& state)
{
    const qint64 size = QFile(logPath()).size();
    // The work runs on the store's queue thread: CPU time of the whole process tells its cost on a busy
    // machine.
    double cpu = 0;
    for (auto _ : state) {
        SnapshotStore store(logPath());
        const double start = processCpuSeconds();
        benchmark::DoNotOptimize(store.log());
        cpu += processCpuSeconds() - start;
    }
    state.SetBytesProcessed(state.iterations() * size);
    state.counters["cpu_MB_per_s"] = double(size) * double(state.iterations()) / cpu / 1e6;
}

// The "All" benchmarks read log(), the shared form the application uses; all() adds a copy to a plain list.
void BM_AllUnchanged(benchmark::State& state)
{
    SnapshotStore store(logPath());
    store.log();
    for (auto _ : state)
        benchmark::DoNotOptimize(store.log());
}

void BM_AllAfterOneLineAppend(benchmark::State& state)
{
    const QString path = workDir->filePath(QStringLiteral("growing.ndjson"));
    QFile::remove(path);
    QFile::copy(logPath(), path);
    double full = 1e9;
    for (int i = 0; i < 3; ++i)
        full = std::min(full, fullReadSeconds());

    SnapshotStore store(path);
    store.log();
    QRandomGenerator random(11);
    qint64 index = logLines;
    const SnapshotStore::ReadStats before = store.readStats();
    double spent = 0;
    for (auto _ : state) {
        state.PauseTiming();
        store.append(sample(random, index++));
        state.ResumeTiming();
        QElapsedTimer timer;
        timer.start();
        benchmark::DoNotOptimize(store.log());
        spent += timer.nsecsElapsed() / 1e9;
    }
    const SnapshotStore::ReadStats after = store.readStats();
    state.counters["full_read_ms"] = full * 1000;
    state.counters["full_reads"] = double(after.fullReads - before.fullReads);
    state.counters["times_cheaper"] = full / (spent / double(state.iterations()));
}

} // namespace

BENCHMARK(BM_DecodeGeneric)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_DecodeFast)->Unit(benchmark::kMillisecond)->Iterations(5);
// The store works on its queue thread, so only wall time tells its cost.
BENCHMARK(BM_StoreFullRead)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_AllUnchanged)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_AllAfterOneLineAppend)->Unit(benchmark::kMicrosecond)->Iterations(2000)->UseRealTime();

int main(int argc, char** argv)
{
    // Never touch the real home: the store makes sure the data folder exists.
    workDir = std::make_unique<QTemporaryDir>();
    const QByteArray home = workDir->path().toUtf8();
    ::setenv("HOME", home.constData(), 1);
    ::setenv("XDG_DATA_HOME", (home + "/data").constData(), 1);
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    const qint64 size = QFile(logPath()).size();
    std::printf("log: %d lines, %.1f MB\n", logLines, double(size) / 1e6);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    workDir.reset();
    return 0;
}
