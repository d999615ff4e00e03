#include "core/text/SnapshotLineDecoder.h"
#include "core/text/JsonLines.h"
#include "core/text/Zone.h"

#include "SnapshotTestData.h"

#include <gtest/gtest.h>

#include <QRandomGenerator>

using namespace SnapshotTestData;

namespace {

std::optional<UsageSnapshot> generic(QByteArrayView line)
{
    const QList<UsageSnapshot> decoded = JsonLines::decodeLines<UsageSnapshot>(line);
    if (decoded.isEmpty())
        return std::nullopt;
    return decoded.front();
}

constexpr char canonical[] =
    R"({"id":"0F8E4C2A-1B3D-4E5F-8A9B-0C1D2E3F4A5B","provider":"codex","timestamp":"2026-01-31T09:15:00Z",)"
    R"("windowKind":"fiveHour","usedPercent":42.5,"remainingPercent":57.5,"resetAt":"2026-01-31T14:00:00Z",)"
    R"("windowDurationMins":300,"limitId":"codex","limitName":"Codex 5h","modelId":"gpt-5.5",)"
    R"("modelDisplayName":"GPT-5.5","effortLevel":"high","thinkingEnabled":true,"speedMode":"fast",)"
    R"("planType":"plus","rateLimitReachedType":"primary","source":"codex.app-server","sourceConfidence":"high"})";

QByteArray variant(const char* from, const char* to)
{
    QByteArray text(canonical);
    text.replace(from, to);
    return text;
}

} // namespace

TEST(SnapshotLineDecoder, AgreesWithTheGenericDecoderOnVariedLines)
{
    struct Row
    {
        const char* name;
        QByteArray line;
        bool fastPath; // the fast path must take it (else the speed is gone)
        bool decodes;
    };
    const Row rows[] = {
        {"canonical", canonical, true, true},
        {"unknown keys", variant("\"limitId\"", "\"extra\":[1,{\"a\":null}],\"n\":-1.5e3,\"limitId\""), false,
         true},
        {"unknown flat keys", variant("\"limitId\"", "\"extra\":\"x\",\"n\":-1.5e3,\"b\":false,\"limitId\""),
         true, true},
        {"another account", variant("\"limitId\"", "\"account\":\"1a2b3c4d\",\"limitId\""), true, true},
        {"nulls for optionals", variant("\"modelId\":\"gpt-5.5\"", "\"modelId\":null"), true, true},
        {"spaces and tabs between tokens",
         variant("\"provider\":\"codex\",", " \"provider\" :\t\"codex\" , "), true, true},
        {"escaped slash", variant("codex.app-server", "codex\\/app-server"), false, true},
        {"unicode escape", variant("GPT-5.5", "GPT\\u00e9"), false, true},
        {"lone surrogate escape", variant("GPT-5.5", "\\ud800"), false, true},
        {"raw UTF-8", variant("GPT-5.5", "GPT-\xc3\xa9\xe2\x82\xac"), false, true},
        {"invalid UTF-8", variant("GPT-5.5", "GPT-\xff"), false, false},
        {"raw control character", variant("GPT-5.5", "GPT\x01"), false, true},
        {"seconds as number", variant("\"2026-01-31T09:15:00Z\"", "1769850900"), true, true},
        {"milliseconds as number", variant("\"2026-01-31T09:15:00Z\"", "1769850900123"), true, true},
        {"fractional seconds as number", variant("\"2026-01-31T09:15:00Z\"", "1769850900.25"), true, true},
        {"number string date", variant("\"2026-01-31T09:15:00Z\"", "\"1769850900.5\""), true, true},
        {"fractional date", variant("2026-01-31T09:15:00Z", "2026-01-31T09:15:00.123Z"), true, true},
        {"offset date", variant("2026-01-31T09:15:00Z", "2026-01-31T10:15:00+01:00"), true, true},
        {"lower-case date", variant("2026-01-31T09:15:00Z", "2026-01-31t09:15:00z"), true, true},
        {"impossible date", variant("2026-01-31T09:15:00Z", "2026-02-30T09:15:00Z"), false, false},
        {"leap second", variant("2026-01-31T09:15:00Z", "2026-01-31T23:59:60Z"), false, false},
        {"word date", variant("2026-01-31T09:15:00Z", "soon"), false, false},
        {"seconds with a unit", variant("2026-01-31T09:15:00Z", "1769850900s"), false, false},
        {"seconds after a space", variant("2026-01-31T09:15:00Z", " 1769850900"), false, false},
        {"lower-case id",
         variant("0F8E4C2A-1B3D-4E5F-8A9B-0C1D2E3F4A5B", "0f8e4c2a-1b3d-4e5f-8a9b-0c1d2e3f4a5b"), true, true},
        {"braced id",
         variant("0F8E4C2A-1B3D-4E5F-8A9B-0C1D2E3F4A5B", "{0F8E4C2A-1B3D-4E5F-8A9B-0C1D2E3F4A5B}"), false,
         true},
        {"null id", variant("0F8E4C2A-1B3D-4E5F-8A9B-0C1D2E3F4A5B", "00000000-0000-0000-0000-000000000000"),
         false, false},
        {"duplicate key, last wins",
         variant("\"usedPercent\":42.5", "\"usedPercent\":1,\"usedPercent\":42.5"), false, true},
        {"negative zero", variant("42.5", "-0"), true, true},
        {"negative zero fraction", variant("42.5", "-0.0"), true, true},
        {"exponent", variant("42.5", "4.25E1"), true, true},
        {"huge integer", variant("42.5", "123456789012345678901234567890"), true, true},
        {"integer beyond double precision", variant("42.5", "9007199254740993"), true, true},
        {"number out of range", variant("42.5", "1e400"), false, false},
        {"trailing dot number", variant("42.5", "42."), false, true},
        {"leading zero", variant("42.5", "042"), false, false},
        {"percent as string", variant("42.5", "\"42.5\""), false, false},
        {"percent null", variant("42.5", "null"), false, false},
        {"thinking as string", variant("true", "\"true\""), false, false},
        {"unknown provider", variant("\"codex\",\"timestamp\"", "\"gemini\",\"timestamp\""), false, false},
        {"garbage after object", QByteArray(canonical) + " x", false, false},
        {"record after a torn fragment", "{\"id\":\"0F8E4C2A-1B3D" + QByteArray(canonical), false, true},
        {"record after a fragment with a nested object",
         "{\"extra\":{\"a\":1},\"usedPer" + QByteArray(canonical), false, true},
        {"two records on one line", QByteArray(canonical) + variant("42.5", "7"), false, true},
        {"fragment after a record", QByteArray(canonical) + "{\"id\":\"0F8E", false, false},
        {"truncated", QByteArray(canonical).chopped(10), false, false},
        {"not an object", "[1,2,3]", false, false},
        {"empty object", "{}", false, false},
    };
    for (const Row& row : rows) {
        const auto fast = SnapshotLineDecoder::decodeFast(row.line);
        const auto combined = SnapshotLineDecoder::decode(row.line);
        const auto expected = generic(row.line);
        EXPECT_EQ(fast.has_value(), row.fastPath) << row.name;
        EXPECT_EQ(expected.has_value(), row.decodes) << row.name;
        ASSERT_EQ(combined.has_value(), expected.has_value()) << row.name;
        if (combined) {
            EXPECT_TRUE(identical(*combined, *expected)) << row.name;
        }
        if (fast && expected) {
            EXPECT_TRUE(identical(*fast, *expected)) << row.name;
        }
    }
}

TEST(SnapshotLineDecoder, RoundTripsWhatTheStoreWrites)
{
    QRandomGenerator random(20260131);
    QByteArray text;
    QList<UsageSnapshot> written;
    for (int i = 0; i < 500; ++i) {
        UsageSnapshot s =
            reading(static_cast<Provider>(random.bounded(2)), static_cast<WindowKind>(random.bounded(5)),
                    QDateTime::fromSecsSinceEpoch(random.bounded(1'600'000'000, 1'900'000'000), Zone::utc()),
                    random.generateDouble() * 140);
        s.remainingPercent = 100 - s.usedPercent;
        if (random.bounded(2))
            s.resetAt = s.timestamp.addSecs(random.bounded(1, 604800));
        if (random.bounded(2))
            s.windowDurationMins = random.bounded(2) ? 300 : 10080;
        if (random.bounded(2))
            s.modelId = QStringLiteral("claude-opus-4-5");
        if (random.bounded(2))
            s.thinkingEnabled = random.bounded(2) == 1;
        if (random.bounded(2))
            s.planType = QStringLiteral("max");
        written.append(s);
        text += line(s);
    }
    qsizetype fastCount = 0;
    JsonLines::forEachLine(
        text, [&](QByteArrayView l) { fastCount += SnapshotLineDecoder::decodeFast(l) ? 1 : 0; });
    EXPECT_EQ(fastCount, written.size());

    const QList<UsageSnapshot> fast = SnapshotLineDecoder::decodeLines(text);
    const QList<UsageSnapshot> slow = JsonLines::decodeLines<UsageSnapshot>(text);
    ASSERT_EQ(fast.size(), written.size());
    ASSERT_EQ(slow.size(), written.size());
    for (qsizetype i = 0; i < fast.size(); ++i) {
        EXPECT_TRUE(identical(fast[i], slow[i])) << i;
        EXPECT_EQ(fast[i], written[i]) << i;
    }
    // Appended to a log that already holds some: the same snapshots after them.
    SnapshotLog log = QList<UsageSnapshot>{written.first(), written.last()};
    EXPECT_EQ(SnapshotLineDecoder::appendDecodedLines(text, log), written.size());
    ASSERT_EQ(log.size(), written.size() + 2);
    for (qsizetype i = 0; i < written.size(); ++i)
        EXPECT_TRUE(identical(log[i + 2], slow[i])) << i;
}

TEST(SnapshotLineDecoder, DatesTheLogCannotWriteBackAreRefusedByBothDecoders)
{
    struct Row
    {
        const char* timestamp; // as it appears in the line
        bool decodes;
    };
    const Row rows[] = {
        {"\"9999-12-31T23:59:59Z\"", true},
        {"\"9999-12-31T23:59:59-01:00\"", false}, // year 10000 in UTC
        {"\"0001-01-01T00:00:00Z\"", true},
        {"\"0001-01-01T00:30:00+01:00\"", false}, // before year 1 in UTC
        {"253402300799000", true},                // 9999-12-31T23:59:59Z in milliseconds
        {"7000000000000000", false},              // milliseconds, year 223,790
        {"-70000000000", false},                  // seconds, year -249
        {"\"7000000000000000\"", false},
        {"-62135596800", true}, // 0001-01-01T00:00:00Z
    };
    for (const Row& row : rows) {
        const QByteArray text = variant("\"2026-01-31T09:15:00Z\"", row.timestamp);
        const auto expected = generic(text);
        const auto decoded = SnapshotLineDecoder::decode(text);
        EXPECT_EQ(expected.has_value(), row.decodes) << row.timestamp;
        ASSERT_EQ(decoded.has_value(), row.decodes) << row.timestamp;
        if (decoded) {
            // What decodes is written back (in whole seconds) in a form that reads back.
            const auto again = generic(JsonLines::encodeLine(decoded->toJson()));
            ASSERT_TRUE(again.has_value()) << row.timestamp;
            EXPECT_EQ(again->timestamp.toSecsSinceEpoch(), decoded->timestamp.toSecsSinceEpoch())
                << row.timestamp;
        }
    }
}

// Another writer of the log (a bridge, an old version, a hand) may leave controls in a name: neither decoder
// lets one through, and what the store writes is as clean.
TEST(SnapshotLineDecoder, NamesFromTheLogComeWithoutControls)
{
    const QByteArray hostile = variant(R"("GPT-5.5")", R"("GPT\u001b]0;owned\u0007-5.5\u001b[2J\r\u009b1m")");
    for (const std::optional<UsageSnapshot>& s : {SnapshotLineDecoder::decode(hostile), generic(hostile)}) {
        ASSERT_TRUE(s.has_value());
        EXPECT_EQ(s->modelDisplayName, QStringLiteral("GPT-5.5"));
    }
    // A name of 60 KiB is cut to 256 characters by both; one in emoji is not cut inside a character.
    const QByteArray longName = variant(R"("GPT-5.5")", "\"" + QByteArray(60'000, 'G') + "\"");
    const QByteArray emoji =
        variant(R"("GPT-5.5")", "\"" + QByteArray("x") + QByteArray("\U0001F600").repeated(200) + "\"");
    for (const std::optional<UsageSnapshot>& s : {SnapshotLineDecoder::decode(longName), generic(longName)})
        EXPECT_EQ(s.value().modelDisplayName, QString(256, u'G'));
    EXPECT_EQ(generic(emoji).value().modelDisplayName->size(), 255);
    UsageSnapshot written = *generic(canonical);
    written.effortLevel = QStringLiteral("high\x1b[31m\x07");
    EXPECT_EQ(generic(line(written))->effortLevel, QStringLiteral("high"));
    EXPECT_FALSE(line(written).contains("\\u001b"));
}
