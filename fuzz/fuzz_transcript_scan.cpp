// Scans arbitrary bytes as a Claude or Codex transcript with the fast scanner (small chunks, two sittings
// with the cache written and read between them) and with the plain reference reader; they must agree on
// every day, hour, cost, counted line and on where the complete lines end.
//
// The two read JSON with different parsers (simdjson, Qt) that disagree on what JSON does not settle:
// duplicate keys, lone surrogate escapes, raw control characters. An input holding such a line is passed
// over; on every other input the two must agree exactly.
#include "history/HistoryCache.h"
#include "history/ReferenceReader.h"
#include "history/TranscriptScanner.h"

#include <QJsonArray>

#include <simdjson.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

qsizetype keyCount(const QJsonValue& value)
{
    qsizetype count = 0;
    if (value.isObject()) {
        const QJsonObject object = value.toObject();
        count += object.size();
        for (auto it = object.begin(); it != object.end(); ++it)
            count += keyCount(it.value());
    } else if (value.isArray()) {
        for (const QJsonValue& item : value.toArray())
            count += keyCount(item);
    }
    return count;
}

qsizetype keyCount(simdjson::dom::element element)
{
    qsizetype count = 0;
    if (element.is_object()) {
        const simdjson::dom::object object = element.get_object().value_unsafe();
        for (auto field : object)
            count += 1 + keyCount(field.value);
    } else if (element.is_array()) {
        const simdjson::dom::array array = element.get_array().value_unsafe();
        for (auto item : array)
            count += keyCount(item);
    }
    return count;
}

bool parsersAgree(QByteArrayView line)
{
    static simdjson::dom::parser parser;
    simdjson::dom::element element;
    const bool fast =
        !parser.parse(line.data(), static_cast<std::size_t>(line.size())).get(element) && element.is_object();
    const QJsonDocument document = QJsonDocument::fromJson(line.toByteArray());
    if (fast != document.isObject())
        return false;
    return !fast || keyCount(element) == keyCount(document.object());
}

// Where the quick reading of a line answers, it must be the parser's.
void checkQuickReading(QByteArrayView file)
{
    for (qsizetype start = 0, end = 0; (end = file.indexOf('\n', start)) >= 0; start = end + 1) {
        if (!ReferenceReader::quickReadingAgrees(
                std::string_view(file.data() + start, static_cast<std::size_t>(end - start)))) {
            std::fprintf(stderr, "the quick reading differs from the parser's\n");
            std::abort();
        }
    }
}

bool everyLineUnambiguous(QByteArrayView file, qsizetype maxLine)
{
    for (qsizetype start = 0, end = 0; (end = file.indexOf('\n', start)) >= 0; start = end + 1) {
        QByteArrayView line = file.sliced(start, end - start);
        if (line.size() > maxLine)
            continue;
        if (line.endsWith('\r'))
            line.chop(1);
        if (!line.isEmpty() && QUtf8StringView(line).isValidUtf8() && !parsersAgree(line))
            return false;
    }
    return true;
}

[[noreturn]] void disagree(const char* what, QByteArrayView input)
{
    std::fprintf(stderr, "scanner and reference disagree (%s) on %lld bytes\n", what,
                 static_cast<long long>(input.size()));
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 3)
        return 0;
    // Three control bytes: provider and zone, chunk size, where the first sitting stops.
    const Provider provider = data[0] & 1 ? Provider::codex : Provider::claude;
    const QTimeZone zone(data[0] & 2 ? "Asia/Kolkata" : "America/New_York");
    const std::size_t chunk = 16 + data[1] % 200;
    const QByteArrayView file(reinterpret_cast<const char*>(data + 3), static_cast<qsizetype>(size - 3));
    const qsizetype firstSitting = file.size() * data[2] / 255;
    constexpr std::size_t maxLine = 700;
    checkQuickReading(file);
    if (!everyLineUnambiguous(file, maxLine))
        return 0;

    TranscriptScanner scanner(zone, {chunk, maxLine});
    FileEntry entry;
    entry.provider = provider;
    scanner.scanBytes(file.first(firstSitting), 1 + data[2] % 37, entry);
    entry.size = firstSitting;
    HistoryCache cache;
    cache.files[QByteArrayLiteral("/f.jsonl")] = entry;
    const HistoryCache reloaded = HistoryCache::decode(cache.encode());
    if (reloaded.files.size() != 1)
        disagree("cache round trip", file);
    entry = reloaded.files.begin()->second;
    scanner.scanBytes(file.sliced(entry.resume->offset), 1 + data[1] % 53, entry);

    const ReferenceResult expected = ReferenceReader::read(file, provider, zone, maxLine);
    if (entry.resume->offset != expected.consumed)
        disagree("offset", file);
    if (entry.days != expected.days)
        disagree("days", file);
    if (ClaudeLineLog::entries(entry.resume->claudeLines) != expected.claudeLines)
        disagree("counted lines", file);
    return 0;
}
