// Decodes arbitrary bytes as a snapshot log with the generic decoder and the fast one; they must agree
// snapshot for snapshot, down to the bits of every number and date.
#include "core/text/JsonLines.h"
#include "core/text/SnapshotLineDecoder.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool sameBits(double a, double b)
{
    // NOLINTNEXTLINE(bugprone-suspicious-memory-comparison): the same bits are the point
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool sameDate(const QDateTime& a, const QDateTime& b)
{
    return a.isValid() == b.isValid() && a.toMSecsSinceEpoch() == b.toMSecsSinceEpoch() &&
           a.timeSpec() == b.timeSpec();
}

bool identical(const UsageSnapshot& a, const UsageSnapshot& b)
{
    const bool resetSame =
        a.resetAt.has_value() == b.resetAt.has_value() && (!a.resetAt || sameDate(*a.resetAt, *b.resetAt));
    const bool durationSame =
        a.windowDurationMins.has_value() == b.windowDurationMins.has_value() &&
        (!a.windowDurationMins || sameBits(*a.windowDurationMins, *b.windowDurationMins));
    return a == b && sameDate(a.timestamp, b.timestamp) && resetSame && durationSame &&
           sameBits(a.usedPercent, b.usedPercent) && sameBits(a.remainingPercent, b.remainingPercent);
}

[[noreturn]] void disagree(const char* what, QByteArrayView line)
{
    std::fprintf(stderr, "fast and generic decoders disagree (%s) on: %.*s\n", what, int(line.size()),
                 line.data());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView text(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QList<UsageSnapshot> generic = JsonLines::decodeLines<UsageSnapshot>(text);
    const QList<UsageSnapshot> fast = SnapshotLineDecoder::decodeLines(text);
    if (generic.size() != fast.size())
        disagree("count", text);
    for (qsizetype i = 0; i < generic.size(); ++i) {
        if (!identical(generic[i], fast[i]))
            disagree("value", text);
        // What decodes must survive being written and read back.
        const QList<UsageSnapshot> again =
            JsonLines::decodeLines<UsageSnapshot>(JsonLines::encodeLine(generic[i].toJson()));
        if (again.size() != 1 || again.front().id != generic[i].id)
            disagree("round trip", text);
    }
    JsonLines::forEachLine(text, [](QByteArrayView line) {
        if (const auto quick = SnapshotLineDecoder::decodeFast(line)) {
            const QList<UsageSnapshot> slow = JsonLines::decodeLines<UsageSnapshot>(line);
            if (slow.size() != 1 || !identical(*quick, slow.front()))
                disagree("fast path", line);
        }
    });
    return 0;
}
