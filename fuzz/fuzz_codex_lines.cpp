// Feeds arbitrary bytes, as the Codex child's output, through the line assembler (cut into reads of a size
// the first byte picks) and then through the client's line handler and the rate-limit payload decoder.
// The lines must not depend on where the reads were cut, and every snapshot must be well formed.
#include "core/text/Zone.h"
#include "providers/codex/CodexAppServerClient.h"
#include "providers/codex/CodexParsing.h"
#include "providers/codex/CodexProcessManager.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "fuzz_codex_lines: %s\n", what);
    std::abort();
}

QStringList assemble(const char* data, qsizetype size, qsizetype readSize, qsizetype maxLineBytes)
{
    LineAssembler assembler(maxLineBytes);
    QStringList lines;
    const auto deliver = [&](const QString& line) { lines.append(line); };
    for (qsizetype at = 0; at < size; at += readSize)
        assembler.feed(data + at, std::min(readSize, size - at), deliver);
    assembler.finish(deliver);
    return lines;
}

void checkSnapshots(const CodexRateLimitsPayload& payload)
{
    const QList<CodexRateLimitBucket> buckets = payload.allBuckets();
    if (buckets.size() > 1)
        fail("more than one bucket");
    const QDateTime now = QDateTime::fromSecsSinceEpoch(1796580000, Zone::utc());
    for (const CodexRateLimitBucket& bucket : buckets) {
        const QList<UsageSnapshot> snapshots = CodexParsing::snapshots(bucket, now);
        if (snapshots.size() > 2)
            fail("more than two snapshots from one bucket");
        for (const UsageSnapshot& snapshot : snapshots) {
            if (snapshot.remainingPercent != std::max(0.0, 100.0 - snapshot.usedPercent))
                fail("remaining percent is not 100 - used, floored at 0");
            if (snapshot.windowKind != CodexParsing::classify(snapshot.windowDurationMins))
                fail("window kind does not follow the window length");
            if (snapshot.windowKind == WindowKind::weekly)
                fail("weekly is never produced for Codex");
            if (snapshot.source != CodexParsing::source || snapshot.timestamp != now)
                fail("snapshot source or timestamp wrong");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const qsizetype readSize = data[0] == 0 ? qsizetype(size) : qsizetype(data[0]);
    const char* stream = reinterpret_cast<const char*>(data + 1);
    const qsizetype length = qsizetype(size - 1);
    // A small limit so over-long lines are reached too.
    const qsizetype maxLineBytes = 200;

    const QStringList lines = assemble(stream, length, readSize, maxLineBytes);
    if (lines != assemble(stream, length, std::max<qsizetype>(length, 1), maxLineBytes))
        fail("lines depend on how the reads were cut");
    for (const QString& line : lines) {
        if (line.isEmpty() || line.contains(QLatin1Char('\n')))
            fail("empty line or line feed inside a line");
        if (line.toUtf8().size() > maxLineBytes)
            fail("line over the limit delivered");
    }

    static const auto client = [] {
        CodexLaunchOptions nowhere;
        nowhere.fallbackWhich.clear();
        return CodexAppServerClient::create(std::make_shared<CodexProcessManager>(nowhere));
    }();
    int delivered = 0;
    client->onRateLimits = [&](const CodexRateLimitsPayload& payload) {
        ++delivered;
        checkSnapshots(payload);
    };
    for (const QString& line : lines) {
        client->handleLine(line);
        const QJsonObject message = QJsonDocument::fromJson(line.toUtf8()).object();
        for (const char* member : {"result", "params"}) {
            if (const auto payload =
                    CodexRateLimitsPayload::fromJson(message.value(QLatin1StringView(member))))
                checkSnapshots(*payload);
        }
    }
    client->onRateLimits = nullptr;
    (void)delivered;
    return 0;
}
