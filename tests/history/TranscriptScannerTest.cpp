#include "history/TranscriptScanner.h"
#include "core/text/Zone.h"
#include "history/HistoryCache.h"
#include "history/IdSet.h"
#include "history/ReferenceReader.h"
#include "history/TranscriptCorpus.h"
#include "history/TranscriptLine.h"
#include "history/WordHash.h"
#include "history/ZoneCalendar.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <map>
#include <random>
#include <set>

namespace {

using namespace Corpus;

const qint64 june1 = QDateTime(QDate(2025, 6, 1), QTime(0, 0), Zone::utc()).toMSecsSinceEpoch();
constexpr qint64 hour = 3600 * 1000;

FileEntry scan(const QByteArray& bytes, Provider provider, const char* zone = "UTC",
               std::size_t piece = 1 << 20, TranscriptScanner::Limits limits = {})
{
    TranscriptScanner scanner(QTimeZone(zone), limits);
    FileEntry entry;
    entry.provider = provider;
    scanner.scanBytes(bytes, piece, entry);
    return entry;
}

struct Day
{
    QString day;
    qint64 tokens;
    qint64 costNanos;
    bool operator==(const Day&) const = default;
};

std::vector<Day> days(const std::map<qint64, DayTotals>& map)
{
    std::vector<Day> out;
    for (const auto& [day, totals] : map)
        out.push_back({ZoneCalendar::dayKey(day), totals.tokens, totals.costNanos});
    return out;
}

std::ostream& operator<<(std::ostream& os, const Day& d)
{
    return os << d.day.toStdString() << ':' << d.tokens << '/' << d.costNanos;
}

struct RuleCase
{
    const char* name;
    Provider provider;
    const char* zone;
    QByteArray lines;
    std::vector<Day> expected;
};

TEST(TranscriptScanner, LineRules)
{
    const ClaudeUsage example{100, 50, 1000, 200};
    const qint64 late = june1 + 23 * hour + 30 * 60 * 1000; // 2025-06-01T23:30:00Z
    const CodexCounts codex{1000, 800, 100, 50, 1100};
    const RuleCase cases[] = {
        // Days and hours are local: in UTC+2 the line belongs to 2 June, 01:30.
        {"opus line in UTC+2",
         Provider::claude,
         "Etc/GMT-2",
         line(claudeReply(late, "m1", "r1", "claude-opus-4-1", example)),
         {{"2025-06-02", 1350, 10500000}}},
        {"no model: Sonnet prices",
         Provider::claude,
         "UTC",
         line(QJsonObject{{"timestamp", stamp(late)}, {"usage", usageObject(example)}}),
         {{"2025-06-01", 1350, 2100000}}},
        {"HAIKU in capitals",
         Provider::claude,
         "UTC",
         line(claudeReply(late, "m1", "r1", "Claude-HAIKU-3", example)),
         {{"2025-06-01", 1350, 560000}}},
        {"one reply in three blocks counts once",
         Provider::claude,
         "UTC",
         line(claudeReply(late, "m1", "r1", "claude-sonnet-4", example)) +
             line(claudeReply(late, "m1", "r1", "claude-sonnet-4", example, "second block")) +
             line(claudeReply(late, "m1", "r1", "claude-sonnet-4", example, "third block")),
         {{"2025-06-01", 1350, 2100000}}},
        {"same message, another request: both count",
         Provider::claude,
         "UTC",
         line(claudeReply(late, "m1", "r1", "s", example)) +
             line(claudeReply(late, "m1", "r2", "s", example)),
         {{"2025-06-01", 2700, 4200000}}},
        {"without requestId every line counts",
         Provider::claude,
         "UTC",
         line(claudeReply(late, "m1", "", "s", example)) + line(claudeReply(late, "m1", "", "s", example)),
         {{"2025-06-01", 2700, 4200000}}},
        {"a zero-token line counts nothing and does not claim its ids",
         Provider::claude,
         "UTC",
         line(claudeReply(late, "m1", "r1", "s", {})) + line(claudeReply(late, "m1", "r1", "s", example)),
         {{"2025-06-01", 1350, 2100000}}},
        {"Kolkata: 20:00Z is 01:30 the next day",
         Provider::claude,
         "Asia/Kolkata",
         line(claudeReply(june1 + 20 * hour, "m", "r", "s", {1, 0, 0, 0})),
         {{"2025-06-02", 1, 3000}}},
        {"raw U+2028 inside a string does not end the line",
         Provider::claude,
         "UTC",
         line(claudeReply(late, "m", "r", "s", example,
                          QStringLiteral("a") + QChar(0x2028) + QChar(0x2029) + "b")),
         {{"2025-06-01", 1350, 2100000}}},
        {"an invalid byte loses its line only",
         Provider::claude,
         "UTC",
         QByteArray(line(claudeReply(late, "m0", "r", "s", example, "X"))).replace("\"X\"", "\"\xc3\x28\"") +
             line(claudeReply(late, "m1", "r", "s", example)),
         {{"2025-06-01", 1350, 2100000}}},
        {"CRLF line ends",
         Provider::claude,
         "UTC",
         QByteArray(line(claudeReply(late, "m", "r", "s", example))).replace("\n", "\r\n"),
         {{"2025-06-01", 1350, 2100000}}},
        {"keys spelled with escapes still count",
         Provider::claude,
         "UTC",
         "{\"timest\\u0061mp\":\"2025-06-01T10:00:00Z\",\"\\u0075sage\":{\"input_tokens\":3}}\n",
         {{"2025-06-01", 3, 9000}}},
        {"unparsable timestamps count nowhere",
         Provider::claude,
         "UTC",
         "{\"timestamp\":\"2025-06-01\",\"usage\":{\"input_tokens\":5}}\n"
         "{\"timestamp\":\"2025-06-31T00:00:00Z\",\"usage\":{\"input_tokens\":5}}\n",
         {}},
        {"codex: output holds reasoning, priced once",
         Provider::codex,
         "UTC",
         line(codexTokenCount(late, codex, codex)),
         {{"2025-06-01", 1100, 1350000}}},
        {"codex: cached above input prices no uncached input",
         Provider::codex,
         "UTC",
         line(codexTokenCount(late, std::nullopt, CodexCounts{100, 300, 0, 0, 100})),
         {{"2025-06-01", 100, 37500}}},
        {"codex: a repeated event with unchanged totals is skipped",
         Provider::codex,
         "UTC",
         line(codexTokenCount(late, codex, codex)) + line(codexTokenCount(late + 1, codex, codex)),
         {{"2025-06-01", 1100, 1350000}}},
        {"codex: equal last usage with new totals counts again",
         Provider::codex,
         "UTC",
         line(codexTokenCount(late, codex, codex)) +
             line(codexTokenCount(late + 1, CodexCounts{2000, 1600, 200, 100, 2200}, codex)),
         {{"2025-06-01", 2200, 2700000}}},
        {"codex: info null and zero totals count nothing",
         Provider::codex,
         "UTC",
         line(codexTokenCount(late, std::nullopt, std::nullopt)) +
             line(codexTokenCount(late, std::nullopt, CodexCounts{1000, 0, 5, 0, 0})) + line(codexMeta(late)),
         {}},
    };
    for (const RuleCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(days(scan(c.lines, c.provider, c.zone).days), c.expected);
    }
}

TEST(TranscriptScanner, HourKeysAreLocal)
{
    // 05:00Z in UTC-7 is 22:00 the day before; in Kolkata 10:30.
    const QByteArray bytes = line(claudeReply(june1 + 5 * hour, "m", "r", "s", {1, 0, 0, 0}));
    const FileEntry west = scan(bytes, Provider::claude, "Etc/GMT+7");
    ASSERT_EQ(west.days.size(), 1u);
    EXPECT_EQ(ZoneCalendar::dayKey(west.days.begin()->first), QStringLiteral("2025-05-31"));
    EXPECT_EQ(west.days.begin()->second.hours[22], 1);
    EXPECT_EQ(scan(bytes, Provider::claude, "Asia/Kolkata").days.begin()->second.hours[10], 1);
}

TEST(TranscriptScanner, DaylightSavingChange)
{
    // Berlin leaves summer time on 2025-10-26 at 01:00Z: 00:30Z is 02:30 CEST, 01:30Z is 02:30 CET.
    const qint64 change = QDateTime(QDate(2025, 10, 26), QTime(1, 0), Zone::utc()).toMSecsSinceEpoch();
    const QByteArray bytes = line(claudeReply(change - 30 * 60000, "a", "r", "s", {1, 0, 0, 0})) +
                             line(claudeReply(change + 30 * 60000, "b", "r", "s", {2, 0, 0, 0})) +
                             line(claudeReply(change + 21 * hour + 30 * 60000, "c", "r", "s", {4, 0, 0, 0})) +
                             line(claudeReply(change + 22 * hour, "d", "r", "s", {8, 0, 0, 0}));
    const FileEntry entry = scan(bytes, Provider::claude, "Europe/Berlin");
    ASSERT_EQ(entry.days.size(), 2u);
    const DayTotals& sunday = entry.days.begin()->second;
    EXPECT_EQ(sunday.hours[2], 3);  // both 02:30s
    EXPECT_EQ(sunday.hours[23], 4); // 23:30 CET is still Sunday
    EXPECT_EQ(std::prev(entry.days.end())->second.hours[0], 8);
}

TEST(TranscriptScanner, LinesEndOnlyAtLineFeeds)
{
    const QByteArray one = line(claudeReply(june1, "m1", "r1", "s", {1, 0, 0, 0}));
    const QByteArray two = line(claudeReply(june1, "m2", "r2", "s", {2, 0, 0, 0}));
    FileEntry entry;
    entry.provider = Provider::claude;
    TranscriptScanner scanner(QTimeZone::utc());
    // The second line arrives in two writes: its first half is not a line yet.
    const QByteArray firstWrite = one + two.first(40);
    scanner.scanBytes(firstWrite, 7, entry);
    EXPECT_EQ(entry.resume->offset, one.size());
    EXPECT_EQ(entry.days.begin()->second.tokens, 1);
    scanner.scanBytes((firstWrite + two.sliced(40)).sliced(entry.resume->offset), 7, entry);
    EXPECT_EQ(entry.resume->offset, one.size() + two.size());
    EXPECT_EQ(entry.days.begin()->second.tokens, 3);
}

// The byte pre-filter works sixteen positions at a time from the end: a word or "\\u" anywhere, across and at
// the edges of those blocks, must let the line through; a word cut off by the line's end or a near miss must
// not.
TEST(TranscriptScanner, PrefilterAgreesWithAPlainSearchAtEveryPosition)
{
    const auto plain = [](std::string_view text, std::string_view word) {
        return text.find(word) != std::string_view::npos || text.find("\\u") != std::string_view::npos;
    };
    const std::pair<bool (*)(std::string_view), std::string_view> filters[] = {
        {TranscriptLine::mayBeClaudeUsage, "usage\""}, {TranscriptLine::mayBeCodexTokenCount, "token_count"}};
    for (const auto& [filter, word] : filters) {
        std::string nearMiss(word);
        nearMiss[1] = '#'; // first and last byte still match
        for (std::size_t length = 0; length <= 70; ++length) {
            for (std::size_t at = 0; at <= length; ++at) {
                for (const std::string_view planted :
                     {word, std::string_view(nearMiss), std::string_view("\\u"),
                      word.substr(0, word.size() - 1)}) {
                    std::string text(length, 'x');
                    text.replace(at, std::min(planted.size(), length - at), planted.substr(0, length - at));
                    ASSERT_EQ(filter(text), plain(text, word)) << text;
                }
            }
        }
    }
}

// Lines are read quickly where that reading is sure to be the parser's, and by the parser everywhere else.
TEST(TranscriptScanner, QuickReadingIsTheParsersOrNone)
{
    const std::string deep = R"({"a":)" + std::string(70, '[') + std::string(70, ']');
    const std::pair<std::string, bool> rows[] = {
        // As Claude Code writes them: the id after the content, the request id after the message.
        {R"({"parentUuid":null,"message":{"model":"m","content":[{"type":"text","text":"a \"b\" {[ \\"}],"id":"msg_1"},"requestId":"req_1")",
         true},
        {R"({ "requestId" : "req_1" , "message" : { "id" : "msg_1" , "content" : "}" } )", true},
        // Look-alikes below the top level, inside text or after the first of repeated keys.
        {R"({"message":{"requestId":"req_9","id":"msg_1"},"x":{"requestId":"req_8"},"requestId":"req_1")",
         true},
        {R"({"toolUseResult":{"message":{"id":"msg_9"}},"message":{"id":"msg_1"},"requestId":"req_1")", true},
        {R"({"message":{"content":"\"id\":\"msg_9\",\"requestId\":\"req_9\"","id":"msg_1"},"requestId":"req_1")",
         true},
        {R"({"requestId":"req_1","requestId":"req_9","message":{"id":"msg_1","id":"msg_9"},"message":{"id":"msg_8"})",
         true},
        // Counts as the decoder takes them; numbers, literals and text of every kind elsewhere.
        {R"({"message":{"usage":{"input_tokens":-5,"output_tokens":"7","cache_read_input_tokens":null,"input_tokens":9,"cache_creation_input_tokens":{"a":[1]}}})",
         true},
        {R"({"message":"msg_1","model":"claude-opus-4","requestId":"req_1","n":[-0.5,0,true,false,null,[],{}],"t":"é中😀\t\/")",
         true},
        {R"({"timestamp":5,"message":{"id":"msg_1"})", true},
        {R"({"timestamp":"2025-06-01T00:00:00+05:70")", true},
        // What needs the parser: \u escapes, escapes in a key or an id, exponents, long numbers, fractions
        // that
        // count, deep nesting, and what is not JSON at all.
        {R"({"message":{"content":"caf\u00e9","id":"msg_1"},"requestId":"req_1")", false},
        {R"({"request\u0049d":"req_9","requestId":"req_1","message":{"id":"msg_1"})", false},
        {R"({"x\"requestId":"req_9","message":{"id":"msg_1"},"requestId":"req_1")", false},
        {R"({"message":{"id":"msg\/1"},"requestId":"req_1")", false},
        {R"({"n":1e5)", false},
        {R"({"n":1234567890123456789)", false},
        {R"({"message":{"usage":{"output_tokens":2.9}})", false},
        {R"({"a":[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[1]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]])",
         false},
        {deep, false},
        {R"({"a":1,)", false},
        {R"({"a":01)", false},
        {R"({"a":truex)", false},
        {"{\"a\":\"tab\tinside\"", false},
        {"{\"a\":\"\xff\"", false},
        {R"({"a":"open)", false},
        {R"({} {"a":1)", false},
    };
    for (const auto& [start, answers] : rows) {
        const std::string text = start + R"(,"timestamp":"2025-06-01T00:00:00Z","usage":{"input_tokens":1}})";
        SCOPED_TRACE(text);
        bool answered = false;
        EXPECT_TRUE(ReferenceReader::quickReadingAgrees(text, &answered));
        EXPECT_EQ(answered, answers);
    }
    // And on every line of generated transcripts.
    int answered = 0;
    for (quint32 seed = 1; seed <= 8; ++seed) {
        const QByteArray bytes = randomTranscript(seed, true, 200, june1);
        for (const QByteArray& text : bytes.split('\n')) {
            bool answer = false;
            EXPECT_TRUE(ReferenceReader::quickReadingAgrees(text.toStdString(), &answer))
                << text.toStdString();
            answered += answer ? 1 : 0;
        }
    }
    EXPECT_GT(answered, 500);
}

// The ids of a file's new replies: against a plain set, with ids that share their low bits, wrap around the
// table's end, grow it, include 0, and after a clear.
TEST(TranscriptScanner, IdSetAgreesWithAPlainSet)
{
    std::mt19937_64 rng(7);
    IdSet ids;
    for (int round = 0; round < 3; ++round) {
        std::set<quint64> plain;
        for (int i = 0; i < 3000; ++i) {
            const quint64 id = rng() % 4 == 0 ? (rng() % 64) << 40 | 63 : rng() % 5000;
            ASSERT_EQ(ids.contains(id), plain.contains(id)) << id;
            ids.insert(id);
            plain.insert(id);
        }
        std::vector<quint64> all;
        ids.appendTo(all);
        std::sort(all.begin(), all.end());
        EXPECT_EQ(all, std::vector<quint64>(plain.begin(), plain.end()));
        ids.clear();
        EXPECT_TRUE(ids.empty());
        EXPECT_FALSE(ids.contains(*plain.begin()));
    }
}

// Reply ids, resume anchors and the cache checksum hash exactly the bytes they are given: not those around
// them, and every one of those, at every length and alignment of the short tail.
TEST(TranscriptScanner, WordHashReadsExactlyItsBytes)
{
    std::mt19937_64 rng(11);
    std::string around(64, '\0');
    for (char& c : around)
        c = static_cast<char>(rng());
    for (std::size_t length = 0; length <= 40; ++length) {
        for (std::size_t at = 0; at < 8; ++at) {
            std::string_view view(around.data() + at, length);
            const std::string alone(view); // other bytes after it, or none
            const quint64 hash = WordHash::of(view);
            ASSERT_EQ(hash, WordHash::of(alone)) << length << " at " << at;
            for (std::size_t i = 0; i < length; ++i) {
                std::string changed = alone;
                changed[i] = static_cast<char>(changed[i] ^ 0x20);
                ASSERT_NE(hash, WordHash::of(changed)) << length << " at " << at << " byte " << i;
            }
        }
    }
    // The cache's checksum is taken as it is written, in pieces.
    for (int round = 0; round < 200; ++round) {
        const std::string_view all(around.data(), rng() % around.size());
        WordHash::Stream stream;
        for (std::size_t at = 0; at < all.size();) {
            const std::size_t piece = std::min<std::size_t>(rng() % 12, all.size() - at);
            stream.add(all.substr(at, piece));
            at += piece;
        }
        ASSERT_EQ(stream.result(), WordHash::of(all)) << all.size();
    }
}

// A cache is written in pieces, with blobs larger than one going out whole between them.
TEST(TranscriptScanner, ALargeCacheReadsBackAsWritten)
{
    HistoryCache cache;
    cache.zone = "Asia/Kolkata";
    for (int f = 0; f < 40; ++f) {
        FileEntry& entry = cache.files[QByteArray("/t") + QByteArray::number(f)];
        entry.size = 1000 + f;
        entry.days[20000 + f].tokens = f;
        entry.resume = ResumePoint{};
        entry.resume->offset = f;
        for (int i = 0; i < (f % 10 == 0 ? 20000 : f); ++i)
            entry.resume->claudeIds.push_back(static_cast<quint64>(f) << 32 | static_cast<quint64>(i));
        for (int i = 0; i < f * 100; ++i)
            ClaudeLineLog::append(*entry.resume, 1000ll * i, i);
    }
    const QByteArray bytes = cache.encode();
    EXPECT_GT(bytes.size(), 512 << 10); // many pieces
    const HistoryCache back = HistoryCache::decode(bytes);
    ASSERT_EQ(back.files.size(), cache.files.size());
    EXPECT_EQ(back.zone, cache.zone);
    for (const auto& [path, entry] : cache.files) {
        const FileEntry& read = back.files.at(path);
        EXPECT_EQ(read.days.at(entry.days.begin()->first).tokens, entry.days.begin()->second.tokens);
        EXPECT_EQ(read.resume->claudeIds, entry.resume->claudeIds);
        EXPECT_EQ(read.resume->claudeLines, entry.resume->claudeLines);
    }
}

TEST(TranscriptScanner, OverlongLinesAreSkippedWhole)
{
    const QByteArray small = line(claudeReply(june1, "m1", "r1", "s", {1, 0, 0, 0}));
    const QByteArray big =
        line(claudeReply(june1, "m2", "r2", "s", {2, 0, 0, 0}, QString(5000, QLatin1Char('y'))));
    const QByteArray bytes = small + big + QByteArray(small).replace("m1", "m3");
    for (const std::size_t piece : {std::size_t(3), std::size_t(100), std::size_t(1 << 20)}) {
        SCOPED_TRACE(piece);
        const FileEntry entry = scan(bytes, Provider::claude, "UTC", piece, {64, 4096});
        EXPECT_EQ(entry.days.begin()->second.tokens, 2);
        EXPECT_EQ(entry.resume->offset, bytes.size());
    }
}

// The fast scanner, fed in small pieces and in several sittings with the cache written and read between
// them, against the plain reading of the whole file.
TEST(TranscriptScanner, MatchesReferenceReaderOnGeneratedTranscripts)
{
    const char* zones[] = {"UTC", "Asia/Kolkata", "America/New_York", "Europe/Berlin", "Pacific/Chatham"};
    const qint64 start = QDateTime(QDate(2025, 3, 1), QTime(0, 0), Zone::utc()).toMSecsSinceEpoch();
    int compared = 0;
    for (quint32 seed = 1; seed <= 24; ++seed) {
        for (const bool claude : {true, false}) {
            const QByteArray bytes = randomTranscript(seed, claude, 400, start + seed * 86400000ll * 9);
            const char* zone = zones[seed % 5];
            const Provider provider = claude ? Provider::claude : Provider::codex;
            SCOPED_TRACE(testing::Message() << "seed " << seed << (claude ? " claude " : " codex ") << zone);
            const ReferenceResult expected = ReferenceReader::read(bytes, provider, QTimeZone(zone));

            const std::size_t chunk = std::size_t(1) << (6 + seed % 12); // 64 B to 128 KiB
            TranscriptScanner scanner(QTimeZone(zone), {chunk, 64u << 20});
            FileEntry entry;
            entry.provider = provider;
            std::mt19937 rng(seed);
            qint64 written = 0;
            for (int sitting = 0; sitting < 3; ++sitting) {
                written = sitting == 2 ? bytes.size() : std::max<qint64>(written, rng() % bytes.size());
                scanner.scanBytes(bytes.first(written).sliced(entry.resume ? entry.resume->offset : 0),
                                  1 + rng() % (3 * chunk), entry);
                entry.size = written;
                HistoryCache cache;
                cache.files[QByteArrayLiteral("/t.jsonl")] = entry;
                entry = HistoryCache::decode(cache.encode()).files.at(QByteArrayLiteral("/t.jsonl"));
            }
            EXPECT_EQ(entry.resume->offset, expected.consumed);
            EXPECT_EQ(days(entry.days), days(expected.days));
            bool hoursEqual = true;
            for (const auto& [day, totals] : expected.days)
                hoursEqual = hoursEqual && entry.days[day].hours == totals.hours;
            EXPECT_TRUE(hoursEqual);
            EXPECT_EQ(ClaudeLineLog::entries(entry.resume->claudeLines), expected.claudeLines);
            if (!expected.claudeLines.empty()) {
                EXPECT_EQ(entry.resume->newestLineMs, std::ranges::max(expected.claudeLines).first);
            }
            compared += expected.days.empty() ? 0 : 1;
        }
    }
    EXPECT_GT(compared, 40); // the corpora do count something
}

TEST(TranscriptScanner, FileGrowsShrinksOrIsRewritten)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("s.jsonl"));
    const auto reply = [](const char* id, qint64 tokens) {
        return line(claudeReply(june1, id, "r", "s", {tokens, 0, 0, 0}));
    };
    TranscriptScanner scanner(QTimeZone::utc());
    FileEntry entry;
    const auto tokens = [&] { return entry.days.empty() ? 0 : entry.days.begin()->second.tokens; };

    ASSERT_TRUE(TestSupport::writeFile(path, reply("a", 1) + reply("b", 2)));
    EXPECT_EQ(scanner.scanFile(path, QFileInfo(path).size(), entry), QFileInfo(path).size());
    EXPECT_EQ(tokens(), 3);

    // Growth reads the added bytes only; a repeat of an earlier reply still counts once.
    const qint64 before = QFileInfo(path).size();
    ASSERT_TRUE(TestSupport::appendFile(path, reply("c", 4) + reply("a", 1)));
    EXPECT_EQ(scanner.scanFile(path, QFileInfo(path).size(), entry), QFileInfo(path).size() - before);
    EXPECT_EQ(tokens(), 7);

    // Replaced by a shorter file: read anew.
    ASSERT_TRUE(TestSupport::writeFile(path, reply("z", 16)));
    scanner.scanFile(path, QFileInfo(path).size(), entry);
    EXPECT_EQ(tokens(), 16);

    // Rewritten in place to something longer with other content: the bytes before the offset differ.
    ASSERT_TRUE(TestSupport::writeFile(path, reply("y", 32) + reply("x", 64)));
    scanner.scanFile(path, QFileInfo(path).size(), entry);
    EXPECT_EQ(tokens(), 96);

    EXPECT_EQ(scanner.scanFile(dir.filePath(QStringLiteral("missing.jsonl")), 0, entry), -1);
}

} // namespace
