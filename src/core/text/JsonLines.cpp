#include "core/text/JsonLines.h"
#include "core/text/Zone.h"

#include <QTimeZone>

#include <charconv>
#include <cmath>

namespace {

constexpr double millisecondThreshold = 5'000'000'000.0;

// Only years 1 to 9999 survive formatDate and parseDate; anything else would be written out in a form
// no reader accepts, and the snapshot carrying it would vanish at the next rewrite of the log.
std::optional<QDateTime> writable(std::optional<QDateTime> date)
{
    if (!date)
        return date;
    const int year = date->toUTC().date().year();
    if (year < 1 || year > 9999)
        return std::nullopt;
    return date;
}

std::optional<QDateTime> fromEpochNumber(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    const double seconds = value > millisecondThreshold ? value / 1000.0 : value;
    const double msecs = std::round(seconds * 1000.0);
    if (std::fabs(msecs) > 8.0e15) // beyond what a calendar date can hold
        return std::nullopt;
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(msecs), Zone::utc());
}

// Internet date-time: yyyy-MM-ddTHH:mm:ss[.fraction](Z|±hh:mm). Anything looser is refused.
std::optional<QDateTime> parseInternetDateTime(QStringView text)
{
    const auto digits = [&](qsizetype at, qsizetype count, int& out) {
        if (at + count > text.size())
            return false;
        out = 0;
        for (qsizetype i = at; i < at + count; ++i) {
            const QChar c = text[i];
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return false;
            out = out * 10 + (c.unicode() - '0');
        }
        return true;
    };
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (text.size() < 20 || !digits(0, 4, year) || text[4] != QLatin1Char('-') || !digits(5, 2, month) ||
        text[7] != QLatin1Char('-') || !digits(8, 2, day) ||
        (text[10] != QLatin1Char('T') && text[10] != QLatin1Char('t')) || !digits(11, 2, hour) ||
        text[13] != QLatin1Char(':') || !digits(14, 2, minute) || text[16] != QLatin1Char(':') ||
        !digits(17, 2, second))
        return std::nullopt;

    qsizetype pos = 19;
    qint64 msecs = 0;
    if (pos < text.size() && text[pos] == QLatin1Char('.')) {
        ++pos;
        const qsizetype fractionStart = pos;
        double scale = 100;
        double fraction = 0;
        while (pos < text.size() && text[pos].isDigit()) {
            fraction += (text[pos].unicode() - '0') * scale;
            scale /= 10;
            ++pos;
        }
        if (pos == fractionStart)
            return std::nullopt;
        msecs = static_cast<qint64>(fraction);
    }
    int offsetSeconds = 0;
    if (pos < text.size() && (text[pos] == QLatin1Char('Z') || text[pos] == QLatin1Char('z'))) {
        ++pos;
    } else if (pos < text.size() && (text[pos] == QLatin1Char('+') || text[pos] == QLatin1Char('-'))) {
        const int sign = text[pos] == QLatin1Char('-') ? -1 : 1;
        int offsetHours = 0, offsetMinutes = 0;
        if (!digits(pos + 1, 2, offsetHours) || pos + 3 >= text.size() || text[pos + 3] != QLatin1Char(':') ||
            !digits(pos + 4, 2, offsetMinutes))
            return std::nullopt;
        if (!JsonLines::isZoneOffset(offsetHours, offsetMinutes))
            return std::nullopt;
        offsetSeconds = sign * (offsetHours * 3600 + offsetMinutes * 60);
        pos += 6;
    } else {
        return std::nullopt;
    }
    if (pos != text.size())
        return std::nullopt;

    const QDate date(year, month, day);
    const QTime time(hour, minute, second);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    QDateTime result(date, time, Zone::utc());
    return result.addSecs(-offsetSeconds).addMSecs(msecs);
}

} // namespace

namespace JsonLines {

QString formatDate(const QDateTime& date)
{
    return date.toUTC().toString(Qt::ISODate);
}

std::optional<QDateTime> parseDate(QStringView text)
{
    if (auto date = parseInternetDateTime(text))
        return writable(date);
    // Whole-string decimal number, read without the process locale (a German one would stop at the
    // point): leading whitespace or any trailing character fails.
    QByteArray latin = text.toLatin1();
    if (latin.contains('?')) // a character Latin-1 cannot hold
        return std::nullopt;
    const char* first = latin.constData();
    const char* const last = first + latin.size();
    if (first != last && *first == '+' && last - first > 1 && first[1] != '-')
        ++first;
    double value = 0;
    const auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc() || end != last)
        return std::nullopt;
    return writable(fromEpochNumber(value));
}

std::optional<QDateTime> decodeDate(const QJsonValue& value)
{
    if (value.isString()) {
        if (auto date = parseDate(value.toString()))
            return date;
    }
    if (value.isDouble())
        return writable(fromEpochNumber(value.toDouble()));
    return std::nullopt;
}

std::optional<qint64> integer(const QJsonValue& value)
{
    constexpr double exactIntegerLimit = 9007199254740992.0;
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (!std::isfinite(number) || std::floor(number) != number || std::fabs(number) > exactIntegerLimit)
        return std::nullopt;
    return static_cast<qint64>(number);
}

QByteArray encodeLine(const QJsonObject& object)
{
    QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact);
    line.replace('\n', ' ');
    return line;
}

} // namespace JsonLines
