// Feeds arbitrary bytes, as the OAuth usage endpoint's answer, to the usage reader. Every snapshot must be a
// well-formed Claude reading that survives the trip through the snapshot log unchanged.
#include "core/text/JsonLines.h"
#include "core/text/SnapshotLineDecoder.h"
#include "core/text/Zone.h"
#include "providers/claude/ClaudeUsageAnswer.h"

#include <QJsonDocument>
#include <QSet>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "fuzz_claude_usage: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (!document.isObject())
        return 0;
    const QDateTime now = QDateTime::fromSecsSinceEpoch(1796580000, Zone::utc());
    const QList<UsageSnapshot> snapshots = ClaudeUsageAnswer::snapshots(document.object(), now);
    if (snapshots.size() > 3)
        fail("more than one snapshot per window kind");
    QSet<WindowKind> kinds;
    for (const UsageSnapshot& s : snapshots) {
        if (kinds.contains(s.windowKind))
            fail("two snapshots of one window kind");
        kinds.insert(s.windowKind);
        if (!(s.usedPercent >= 0 && s.usedPercent <= 100) || s.remainingPercent != 100 - s.usedPercent)
            fail("percentages outside 0...100 or not adding up");
        if (s.provider != Provider::claude || s.source != QLatin1String("claude.oauth") || s.timestamp != now)
            fail("not a Claude OAuth reading of now");
        // The log keeps whole seconds: compare what a reader gets back with what was written.
        const QByteArray line = JsonLines::encodeLine(s.toJson());
        const std::optional<UsageSnapshot> again = SnapshotLineDecoder::decode(line);
        if (!again)
            fail("a snapshot the log cannot read back");
        if (s.resetAt &&
            (!again->resetAt || JsonLines::formatDate(*again->resetAt) != JsonLines::formatDate(*s.resetAt)))
            fail("the reset time does not survive the log");
        if (again->usedPercent != s.usedPercent || again->windowKind != s.windowKind)
            fail("the reading does not survive the log");
    }
    if (const auto extra = ClaudeUsageAnswer::extraUsage(document.object())) {
        if (extra->currency.isNull())
            fail("extra usage without a currency");
    }
    return 0;
}
