#include "history/TranscriptTime.h"

#include "core/text/JsonLines.h"

#include <QString>

namespace {

bool digits(std::string_view text, std::size_t at, std::size_t count, int& out)
{
    out = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return false;
        out = out * 10 + (c - '0');
    }
    return true;
}

bool isLeap(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month)
{
    static constexpr int lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeap(year) ? 29 : lengths[month - 1];
}

// yyyy-MM-ddTHH:mm:ss[.f{1,9}](Z|±hh:mm); nothing else, so every other text goes the general way.
std::optional<qint64> parseCommon(std::string_view text)
{
    if (text.size() < 20 || text.size() > 35)
        return std::nullopt;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!digits(text, 0, 4, year) || text[4] != '-' || !digits(text, 5, 2, month) || text[7] != '-' ||
        !digits(text, 8, 2, day) || (text[10] != 'T' && text[10] != 't') || !digits(text, 11, 2, hour) ||
        text[13] != ':' || !digits(text, 14, 2, minute) || text[16] != ':' || !digits(text, 17, 2, second))
        return std::nullopt;
    if (year < 1 || month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour > 23 ||
        minute > 59 || second > 59)
        return std::nullopt;
    std::size_t pos = 19;
    qint64 millis = 0;
    if (text[pos] == '.') {
        ++pos;
        const std::size_t start = pos;
        int scale = 100;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
            millis += (text[pos] - '0') * scale;
            scale /= 10;
            ++pos;
        }
        if (pos == start || pos - start > 9)
            return std::nullopt;
    }
    qint64 offsetSeconds = 0;
    if (pos < text.size() && (text[pos] == 'Z' || text[pos] == 'z')) {
        ++pos;
    } else if (pos + 6 == text.size() && (text[pos] == '+' || text[pos] == '-')) {
        int offsetHours = 0, offsetMinutes = 0;
        if (!digits(text, pos + 1, 2, offsetHours) || text[pos + 3] != ':' ||
            !digits(text, pos + 4, 2, offsetMinutes))
            return std::nullopt;
        if (!JsonLines::isZoneOffset(offsetHours, offsetMinutes))
            return std::nullopt;
        offsetSeconds = (text[pos] == '-' ? -1 : 1) * (offsetHours * 3600 + offsetMinutes * 60);
        pos += 6;
    } else {
        return std::nullopt;
    }
    if (pos != text.size())
        return std::nullopt;
    const qint64 seconds = TranscriptTime::daysFromCivil(year, month, day) * 86400 + hour * 3600 +
                           minute * 60 + second - offsetSeconds;
    // Years 1 to 9999 once in UTC, as the general parser insists.
    constexpr qint64 first = -62135596800;  // 0001-01-01T00:00:00Z
    constexpr qint64 beyond = 253402300800; // 10000-01-01T00:00:00Z
    if (seconds < first || seconds >= beyond)
        return std::nullopt;
    return seconds * 1000 + millis;
}

} // namespace

namespace TranscriptTime {

qint64 daysFromCivil(int year, int month, int day)
{
    // Howard Hinnant's days_from_civil.
    const qint64 y = month <= 2 ? year - 1 : year;
    const qint64 era = (y >= 0 ? y : y - 399) / 400;
    const qint64 yoe = y - era * 400;
    const qint64 doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const qint64 doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civilFromDays(qint64 days, int& year, int& month, int& day)
{
    days += 719468;
    const qint64 era = (days >= 0 ? days : days - 146096) / 146097;
    const qint64 doe = days - era * 146097;
    const qint64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const qint64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const qint64 mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

std::optional<qint64> parseMs(std::string_view text)
{
    if (auto fast = parseCommon(text))
        return fast;
    const auto date =
        JsonLines::parseDate(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    if (!date)
        return std::nullopt;
    return date->toMSecsSinceEpoch();
}

} // namespace TranscriptTime
