#include "history/ZoneCalendar.h"
#include "core/text/Zone.h"

#include "history/TranscriptTime.h"

#include <QDateTime>

#include <charconv>
#include <limits>

namespace {

qint64 floorDiv(qint64 a, qint64 b)
{
    const qint64 q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

} // namespace

QTimeZone ZoneCalendar::currentZone()
{
    QTimeZone zone = QTimeZone::systemTimeZone();
    return zone.isValid() ? zone : QTimeZone::utc();
}

// Built anew from the id rather than copied, so each scanning thread has zone data of its own.
ZoneCalendar::ZoneCalendar(const QTimeZone& zone)
    : m_zone(zone.isValid() ? QTimeZone(zone.id()) : QTimeZone::utc())
{
    if (!m_zone.isValid())
        m_zone = QTimeZone::utc();
    m_id = m_zone.id();
}

qint64 ZoneCalendar::offsetSeconds(qint64 utcMs)
{
    if (utcMs >= m_validFrom && utcMs < m_validTo)
        return m_offset;
    const QDateTime at = QDateTime::fromMSecsSinceEpoch(utcMs, Zone::utc());
    m_offset = m_zone.offsetFromUtc(at);
    if (m_zone.hasTransitions()) {
        const auto previous = m_zone.previousTransition(at.addMSecs(1));
        const auto next = m_zone.nextTransition(at);
        m_validFrom = previous.atUtc.isValid() ? previous.atUtc.toMSecsSinceEpoch()
                                               : std::numeric_limits<qint64>::min();
        m_validTo =
            next.atUtc.isValid() ? next.atUtc.toMSecsSinceEpoch() : std::numeric_limits<qint64>::max();
        // A transition table that disagrees with the offset lookup only narrows the span to this instant.
        if (m_validFrom > utcMs || m_validTo <= utcMs) {
            m_validFrom = utcMs;
            m_validTo = utcMs + 1;
        }
    } else {
        // Without a transition table the offset is trusted for the quarter hour only; zones change on those.
        m_validFrom = floorDiv(utcMs, 900000) * 900000;
        m_validTo = m_validFrom + 900000;
    }
    return m_offset;
}

ZoneCalendar::Local ZoneCalendar::local(qint64 utcMs)
{
    const qint64 localMs = utcMs + offsetSeconds(utcMs) * 1000;
    const qint64 day = floorDiv(localMs, 86400000);
    const qint64 msOfDay = localMs - day * 86400000;
    return {day, static_cast<int>(msOfDay / 3600000)};
}

QString ZoneCalendar::dayKey(qint64 day)
{
    int year = 0, month = 0, dayOfMonth = 0;
    TranscriptTime::civilFromDays(day, year, month, dayOfMonth);
    char text[16] = {};
    char* end = text;
    const auto put = [&](int value, int width) {
        char digits[12];
        auto result = std::to_chars(digits, digits + sizeof digits, value);
        for (int pad = width - static_cast<int>(result.ptr - digits); pad > 0; --pad)
            *end++ = '0';
        for (char* c = digits; c != result.ptr; ++c)
            *end++ = *c;
    };
    put(year, 4);
    *end++ = '-';
    put(month, 2);
    *end++ = '-';
    put(dayOfMonth, 2);
    return QString::fromLatin1(text, end - text);
}

std::optional<qint64> ZoneCalendar::parseDayKey(QStringView key)
{
    if (key.size() != 10 || key[4] != QLatin1Char('-') || key[7] != QLatin1Char('-'))
        return std::nullopt;
    const auto number = [&](qsizetype from, qsizetype count, int& out) {
        out = 0;
        for (qsizetype i = from; i < from + count; ++i) {
            const char16_t c = key[i].unicode();
            if (c < u'0' || c > u'9')
                return false;
            out = out * 10 + (c - u'0');
        }
        return true;
    };
    int year = 0, month = 0, day = 0;
    if (!number(0, 4, year) || !number(5, 2, month) || !number(8, 2, day))
        return std::nullopt;
    const QDate date(year, month, day);
    if (!date.isValid() || year < 1)
        return std::nullopt;
    return TranscriptTime::daysFromCivil(year, month, day);
}
