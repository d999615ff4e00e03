#pragma once

#include <QByteArray>
#include <QString>
#include <QTimeZone>

// Local calendar days and hours of UTC instants in one time zone. Lines of a transcript come in time order,
// so the offset found for one line almost always holds for the next: it is kept with the span of time
// until the zone's neighbouring transitions.
class ZoneCalendar
{
public:
    // The zone of the process now (the TZ variable, else the system's), UTC when that names no zone.
    static QTimeZone currentZone();

    explicit ZoneCalendar(const QTimeZone& zone);

    struct Local
    {
        qint64 day = 0; // days since 1970-01-01 in the local calendar
        int hour = 0;
    };
    Local local(qint64 utcMs);
    qint64 offsetSeconds(qint64 utcMs);

    // "yyyy-MM-dd" for a day number, and back (nothing for any other text).
    static QString dayKey(qint64 day);
    static std::optional<qint64> parseDayKey(QStringView key);

private:
    QTimeZone m_zone;
    QByteArray m_id;
    qint64 m_validFrom = 1;
    qint64 m_validTo = 0; // empty until the first lookup
    qint64 m_offset = 0;
};
