#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>

#include <optional>

// The JSON-lines codec shared by the snapshot log, provider payloads and transcripts.
namespace JsonLines {

// 2026-01-31T09:15:00Z: UTC, whole seconds.
QString formatDate(const QDateTime& date);

// Whether ±hh:mm is an offset a zone can have: none lies further than 18 hours from UTC, so "+99:99" is a
// typing error, not 100 hours.
constexpr bool isZoneOffset(int hours, int minutes)
{
    return minutes <= 59 && hours * 60 + minutes <= 18 * 60;
}

// ISO 8601 with or without fractional seconds, else a whole-string decimal number of seconds since 1970
// (milliseconds when above 5,000,000,000).
std::optional<QDateTime> parseDate(QStringView text);

// A JSON date: a string parseDate accepts, or a number of seconds (milliseconds above 5e9) since 1970.
std::optional<QDateTime> decodeDate(const QJsonValue& value);

// A JSON number that is a whole number a double holds exactly (within ±2^53); nothing for anything else.
std::optional<qint64> integer(const QJsonValue& value);

// Compact JSON with "/" unescaped and no line feed inside; no terminator is added.
QByteArray encodeLine(const QJsonObject& object);

// One JSON object as a T; nothing when the text is not one or T refuses it.
template <typename T> std::optional<T> decodeObject(QByteArrayView text);
// One trimmed line as a T: the whole line, else a complete record that follows a torn fragment on it.
template <typename T> std::optional<T> decodeLine(QByteArrayView line);
// Splits on any line terminator, trims spaces and tabs, skips blank and undecodable lines; file order kept.
template <typename T> QList<T> decodeLines(QByteArrayView text);

// Splits `text` into trimmed, non-empty lines and calls `visit` with each (no copies).
template <typename Visit> void forEachLine(QByteArrayView text, Visit&& visit)
{
    qsizetype start = 0;
    const qsizetype size = text.size();
    while (start < size) {
        qsizetype end = start;
        while (end < size && text[end] != '\n' && text[end] != '\r')
            ++end;
        qsizetype first = start;
        qsizetype last = end;
        while (first < last && (text[first] == ' ' || text[first] == '\t'))
            ++first;
        while (last > first && (text[last - 1] == ' ' || text[last - 1] == '\t'))
            --last;
        if (last > first)
            visit(text.sliced(first, last - first));
        start = end + 1;
    }
}

template <typename T> std::optional<T> decodeObject(QByteArrayView text)
{
    const QJsonDocument document = QJsonDocument::fromJson(text.toByteArray());
    if (!document.isObject())
        return std::nullopt;
    return T::fromJson(document.object());
}

template <typename T> std::optional<T> decodeLine(QByteArrayView line)
{
    if (auto value = decodeObject<T>(line))
        return value;
    // A writer that died mid-line leaves a fragment, and one that did not start on a fresh line glues its
    // complete record onto it. Records are flat objects, so such a record starts at the last `{"`.
    const qsizetype start = line.lastIndexOf(QByteArrayView("{\""));
    if (start <= 0)
        return std::nullopt;
    return decodeObject<T>(line.sliced(start));
}

template <typename T> QList<T> decodeLines(QByteArrayView text)
{
    QList<T> result;
    forEachLine(text, [&](QByteArrayView line) {
        if (auto value = decodeLine<T>(line))
            result.append(std::move(*value));
    });
    return result;
}

} // namespace JsonLines
