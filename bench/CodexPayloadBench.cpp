// The cost of one Codex rate-limit update between the pipe and the snapshot store: decoding the line the
// real app-server pushes, choosing the bucket and building its snapshots; and splitting pipe reads into
// lines.
#include "core/text/Zone.h"
#include "providers/codex/CodexAppServerClient.h"
#include "providers/codex/CodexParsing.h"
#include "providers/codex/CodexProcessManager.h"

#include <benchmark/benchmark.h>

#include <QJsonDocument>
#include <QJsonObject>

namespace {

// As codex-cli 0.171.0 prints it after a turn.
const QByteArray pushLine =
    R"({"method":"account/rateLimits/updated","params":{"rateLimits":{"limitId":"codex","limitName":null,)"
    R"("normalModelSlug":null,"primary":{"usedPercent":42,"windowDurationMins":300,"resetsAt":1796590000},)"
    R"("secondary":{"usedPercent":17,"windowDurationMins":10080,"resetsAt":1797000000},"credits":null,)"
    R"("individualLimit":null,"spendControlReached":null,"planType":null,"rateLimitReachedType":null}},)"
    R"("emittedAtMs":1796580802501})";

const QDateTime now = QDateTime::fromSecsSinceEpoch(1796580000, Zone::utc());

void decodePayload(benchmark::State& state)
{
    for (auto _ : state) {
        const QJsonObject message = QJsonDocument::fromJson(pushLine).object();
        auto payload = CodexRateLimitsPayload::fromJson(message.value(QLatin1StringView("params")));
        benchmark::DoNotOptimize(payload);
    }
}
BENCHMARK(decodePayload)->Unit(benchmark::kMicrosecond);

void decodeAndBuildSnapshots(benchmark::State& state)
{
    for (auto _ : state) {
        const QJsonObject message = QJsonDocument::fromJson(pushLine).object();
        const auto payload = CodexRateLimitsPayload::fromJson(message.value(QLatin1StringView("params")));
        QList<UsageSnapshot> snapshots;
        for (const CodexRateLimitBucket& bucket : payload->allBuckets())
            snapshots += CodexParsing::snapshots(bucket, now);
        if (snapshots.size() != 2)
            state.SkipWithError("expected two snapshots");
        benchmark::DoNotOptimize(snapshots);
    }
}
BENCHMARK(decodeAndBuildSnapshots)->Unit(benchmark::kMicrosecond);

// The client's whole handling of the pushed line, up to the snapshots the provider would store.
void clientHandlesPush(benchmark::State& state)
{
    CodexLaunchOptions nowhere;
    nowhere.fallbackWhich.clear();
    const auto client = CodexAppServerClient::create(std::make_shared<CodexProcessManager>(nowhere));
    qsizetype built = 0;
    client->onRateLimits = [&](const CodexRateLimitsPayload& payload) {
        for (const CodexRateLimitBucket& bucket : payload.allBuckets())
            built += CodexParsing::snapshots(bucket, now).size();
    };
    const QString line = QString::fromUtf8(pushLine);
    for (auto _ : state)
        client->handleLine(line);
    if (built != 2 * qsizetype(state.iterations()))
        state.SkipWithError("the push was not delivered every time");
}
BENCHMARK(clientHandlesPush)->Unit(benchmark::kMicrosecond);

// 1,000 pushed lines arriving in 4 KiB reads.
void assembleLines(benchmark::State& state)
{
    QByteArray stream;
    for (int i = 0; i < 1000; ++i)
        stream += pushLine + '\n';
    qsizetype lines = 0;
    for (auto _ : state) {
        LineAssembler assembler;
        const auto deliver = [&](const QString& text) { lines += text.size() > 0; };
        for (qsizetype at = 0; at < stream.size(); at += 4096)
            assembler.feed(stream.constData() + at, std::min<qsizetype>(4096, stream.size() - at), deliver);
        assembler.finish(deliver);
    }
    if (lines != 1000 * qsizetype(state.iterations()))
        state.SkipWithError("lines lost");
    state.SetBytesProcessed(qint64(state.iterations()) * stream.size());
}
BENCHMARK(assembleLines)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
