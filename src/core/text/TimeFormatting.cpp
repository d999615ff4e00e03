#include "core/text/TimeFormatting.h"

#include "core/text/NumberFormatting.h"

#include <QLocale>

#include <cmath>

namespace {

// The locale's own hour/minute separator around a 24-hour "HH" and "mm" ("HH:mm", "HH.mm").
QString resetTimePattern(const QLocale& locale)
{
    const QString format = locale.timeFormat(QLocale::ShortFormat);
    qsizetype hour = 0;
    while (hour < format.size() && format[hour] != QLatin1Char('h') && format[hour] != QLatin1Char('H'))
        ++hour;
    while (hour < format.size() && (format[hour] == QLatin1Char('h') || format[hour] == QLatin1Char('H')))
        ++hour;
    const qsizetype minute = format.indexOf(QLatin1Char('m'), hour);
    QString separator = minute > hour ? format.mid(hour, minute - hour) : QString();
    if (separator.isEmpty() || separator.size() > 2 || separator.contains(QLatin1Char('\'')))
        separator = QStringLiteral(":");
    return QStringLiteral("HH") + separator + QStringLiteral("mm");
}

// Weekday, day and month in the locale's order: "Mon 8 Jun" where the day comes first, "Mon, Jun 8" else.
QString resetDatePattern(const QLocale& locale)
{
    const QString format = locale.dateFormat(QLocale::ShortFormat);
    const qsizetype day = format.indexOf(QLatin1Char('d'));
    const qsizetype month = format.indexOf(QLatin1Char('M'));
    if (day >= 0 && month >= 0 && month < day)
        return QStringLiteral("ddd, MMM d");
    return QStringLiteral("ddd d MMM");
}

} // namespace

namespace TimeFormatting {

using NumberFormatting::dash;

QString countdown(std::optional<double> seconds)
{
    if (!seconds || !std::isfinite(*seconds))
        return dash;
    if (*seconds <= 0)
        return QStringLiteral("now");
    // Kept in floating point so even absurd figures cannot overflow an integer.
    const double n = std::round(*seconds);
    const double d = std::floor(n / 86400);
    const int h = int(std::fmod(n, 86400) / 3600);
    const int m = int(std::fmod(n, 3600) / 60);
    if (n < 3600)
        return m == 0 ? QStringLiteral("<1m") : QString::number(m) + QLatin1Char('m');
    if (n < 86400)
        return m == 0 ? QString::number(h) + QLatin1Char('h')
                      : QString::number(h) + QStringLiteral("h ") + QString::number(m) + QLatin1Char('m');
    const QString days = NumberFormatting::fixed(d, 0) + QLatin1Char('d');
    return h == 0 ? days : days + QLatin1Char(' ') + QString::number(h) + QLatin1Char('h');
}

QString relativeCountdown(std::optional<double> seconds)
{
    if (!seconds || !std::isfinite(*seconds))
        return dash;
    if (*seconds <= 0)
        return QStringLiteral("now");
    return QStringLiteral("in ") + countdown(seconds);
}

QString clock(const std::optional<QDateTime>& date, const QDateTime& now)
{
    if (!date || !date->isValid())
        return dash;
    const QDateTime local = date->toLocalTime();
    const QString time = local.toString(QStringLiteral("HH:mm"));
    const qint64 days = now.isValid() ? now.toLocalTime().date().daysTo(local.date()) : 0;
    if (days == 0)
        return time;
    // Without its day a time on another day reads as today's.
    const QLocale locale;
    if (days > -7 && days < 7)
        return locale.toString(local, QStringLiteral("ddd")) + QLatin1Char(' ') + time;
    return locale.toString(local, resetDatePattern(locale)) + QLatin1Char(' ') + time;
}

std::optional<QString> resetPhrase(const std::optional<QDateTime>& resetAt, const QDateTime& now)
{
    if (!resetAt || !resetAt->isValid() || !now.isValid() || *resetAt <= now)
        return std::nullopt;
    // A fresh default locale on every call follows locale changes without shared mutable state.
    const QLocale locale;
    const QDateTime reset = resetAt->toLocalTime();
    const QString time = locale.toString(reset, resetTimePattern(locale));
    const QDate resetDay = reset.date();
    const QDate today = now.toLocalTime().date();
    const qint64 days = today.daysTo(resetDay);
    if (days == 0)
        return QStringLiteral("resets ") + time + QStringLiteral(" today");
    if (days == 1)
        return QStringLiteral("resets ") + time + QStringLiteral(" tomorrow");
    if (days < 7)
        return QStringLiteral("resets ") + locale.toString(reset, QStringLiteral("ddd")) + QLatin1Char(' ') +
               time;
    return QStringLiteral("resets ") + locale.toString(reset, resetDatePattern(locale)) + QLatin1Char(' ') +
           time;
}

} // namespace TimeFormatting
