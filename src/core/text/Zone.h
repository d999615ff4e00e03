#pragma once

#include <QDateTime>
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
#include <QTimeZone>
#endif

// The local and UTC zones as QDateTime and QDate take them: a QTimeZone where Qt has the lightweight local
// and UTC zones (6.5 on; the time-spec forms are deprecated there), the time spec on Qt 6.4, which has not.
namespace Zone {

#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
inline QTimeZone utc()
{
    return QTimeZone(QTimeZone::UTC);
}
inline QTimeZone local()
{
    return QTimeZone(QTimeZone::LocalTime);
}
#else
constexpr Qt::TimeSpec utc()
{
    return Qt::UTC;
}
constexpr Qt::TimeSpec local()
{
    return Qt::LocalTime;
}
#endif

} // namespace Zone
