#include "QtPrinters.h"
#include "ZoneGuard.h"
#include "core/NumberFormatting.h"
#include "core/TimeFormatting.h"

#include <gtest/gtest.h>

#include <QLocale>

#include <cmath>
#include <limits>

namespace {

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();
constexpr double infinity = std::numeric_limits<double>::infinity();
const QString dash = QStringLiteral("\u2014");

// Sets the default locale for one test and restores the previous one.
class LocaleGuard
{
public:
    explicit LocaleGuard(const char* name) { QLocale::setDefault(QLocale(QString::fromLatin1(name))); }
    ~LocaleGuard() { QLocale::setDefault(m_previous); }
    LocaleGuard(const LocaleGuard&) = delete;
    LocaleGuard& operator=(const LocaleGuard&) = delete;

private:
    QLocale m_previous;
};

} // namespace

TEST(NumberFormatting, PercentAndSignedPoints)
{
    struct Row
    {
        std::optional<double> value;
        const char* percent;
        const char* points;
    };
    const Row rows[] = {
        {42, "42%", "+42pp"},
        {-1, "-1%", "-1pp"},
        {0, "0%", "+0pp"},
        {0.5, "1%", "+1pp"},
        {-0.5, "-1%", "-1pp"},
        {2.5, "3%", "+3pp"},
        {-2.5, "-3%", "-3pp"},
        {99.49, "99%", "+99pp"},
        {-0.4, "0%", "0pp"},
        {140.6, "141%", "+141pp"},
        {std::nullopt, "\u2014", "\u2014"},
        {notANumber, "\u2014", "\u2014"},
        {infinity, "\u2014", "\u2014"},
        {-infinity, "\u2014", "\u2014"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(NumberFormatting::percent(row.value), QString::fromUtf8(row.percent))
            << row.value.value_or(-999);
        EXPECT_EQ(NumberFormatting::signedPoints(row.value), QString::fromUtf8(row.points))
            << row.value.value_or(-999);
    }
}

TEST(NumberFormatting, Money)
{
    struct Row
    {
        bool gbp;
        double usd;
        const char* expected;
    };
    const Row rows[] = {
        {false, 12.34, "$12.34"},   {true, 200, "£158"},   {false, 100, "$100"},
        {false, 99.99, "$99.99"},   {true, 10, "£7.90"},   {true, 126.58, "£100.00"},
        {true, 126.5, "£99.94"},    {false, 0, "$0.00"},   {false, 1234.5, "$1235"},
        {false, 0.125, "$0.13"},    {false, -5, "$-5.00"}, {false, notANumber, "\u2014"},
        {true, infinity, "\u2014"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(NumberFormatting::money(row.gbp, row.usd), QString::fromUtf8(row.expected)) << row.usd;
}

TEST(NumberFormatting, TokensAtEachThreshold)
{
    struct Row
    {
        qint64 count;
        const char* expected;
    };
    const Row rows[] = {
        {0, "0"},
        {999, "999"},
        {1000, "1K"},
        {1499, "1K"},
        {1500, "2K"},
        {999'999, "1000K"},
        {1'000'000, "1M"},
        {34'400'000, "34M"},
        {999'999'999, "1000M"},
        {1'000'000'000, "1.0B"},
        {1'250'000'000, "1.3B"},
        {-5000, "-5000"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(NumberFormatting::tokens(row.count), QString::fromLatin1(row.expected)) << row.count;
}

TEST(TimeFormatting, CountdownAndRelativeCountdown)
{
    struct Row
    {
        std::optional<double> seconds;
        const char* countdown;
        const char* relative;
    };
    const Row rows[] = {
        {59, "<1m", "in <1m"},
        {0.4, "<1m", "in <1m"},
        {60, "1m", "in 1m"},
        {119.6, "2m", "in 2m"},
        {3599, "59m", "in 59m"},
        {3600, "1h", "in 1h"},
        {3660, "1h 1m", "in 1h 1m"},
        {86399, "23h 59m", "in 23h 59m"},
        {86400, "1d", "in 1d"},
        {90000, "1d 1h", "in 1d 1h"},
        {90000 + 3599, "1d 1h", "in 1d 1h"},
        {10 * 86400 + 7200, "10d 2h", "in 10d 2h"},
        {1e300, nullptr, nullptr},
        {0, "now", "now"},
        {-30, "now", "now"},
        {std::nullopt, "\u2014", "\u2014"},
        {notANumber, "\u2014", "\u2014"},
        {infinity, "\u2014", "\u2014"},
        {-infinity, "\u2014", "\u2014"},
    };
    for (const Row& row : rows) {
        const QString countdown = TimeFormatting::countdown(row.seconds);
        if (!row.countdown) { // only has to stay well-formed
            EXPECT_TRUE(countdown.endsWith(QLatin1Char('d')) || countdown.endsWith(QLatin1Char('h')))
                << countdown.toStdString();
            continue;
        }
        EXPECT_EQ(countdown, QString::fromUtf8(row.countdown)) << row.seconds.value_or(-999);
        EXPECT_EQ(TimeFormatting::relativeCountdown(row.seconds), QString::fromUtf8(row.relative))
            << row.seconds.value_or(-999);
    }
}

TEST(TimeFormatting, ClockUsesLocalTime)
{
    ZoneGuard zone("Europe/London");
    EXPECT_EQ(TimeFormatting::clock(QDateTime(QDate(2026, 6, 10), QTime(8, 5), Qt::UTC)), "09:05");
    EXPECT_EQ(TimeFormatting::clock(QDateTime(QDate(2026, 1, 10), QTime(23, 59), Qt::UTC)), "23:59");
    EXPECT_EQ(TimeFormatting::clock(std::nullopt), dash);
    EXPECT_EQ(TimeFormatting::clock(QDateTime()), dash);
}

TEST(TimeFormatting, ResetPhraseByDistance)
{
    ZoneGuard zone("Europe/London");
    LocaleGuard locale("en_GB");
    // Wednesday 10 June 2026, 10:00 local.
    const QDateTime now(QDate(2026, 6, 10), QTime(10, 0), Qt::LocalTime);
    struct Row
    {
        const char* name;
        std::optional<QDateTime> resetAt;
        std::optional<QString> expected;
    };
    const Row rows[] = {
        {"later today", now.addSecs(4 * 3600 + 300), QStringLiteral("resets 14:05 today")},
        {"just before midnight", QDateTime(QDate(2026, 6, 10), QTime(23, 59), Qt::LocalTime),
         QStringLiteral("resets 23:59 today")},
        {"tomorrow, under 24 hours away", QDateTime(QDate(2026, 6, 11), QTime(0, 30), Qt::LocalTime),
         QStringLiteral("resets 00:30 tomorrow")},
        {"tomorrow, over 24 hours away", QDateTime(QDate(2026, 6, 11), QTime(23, 0), Qt::LocalTime),
         QStringLiteral("resets 23:00 tomorrow")},
        {"3 days away", QDateTime(QDate(2026, 6, 13), QTime(9, 0), Qt::LocalTime),
         QStringLiteral("resets Sat 09:00")},
        {"6 days away", QDateTime(QDate(2026, 6, 16), QTime(9, 0), Qt::LocalTime),
         QStringLiteral("resets Tue 09:00")},
        {"7 days away", QDateTime(QDate(2026, 6, 17), QTime(9, 0), Qt::LocalTime),
         QStringLiteral("resets Wed 17 Jun 09:00")},
        {"8 days away", QDateTime(QDate(2026, 6, 18), QTime(9, 0), Qt::LocalTime),
         QStringLiteral("resets Thu 18 Jun 09:00")},
        {"given in UTC, shown in local time", QDateTime(QDate(2026, 6, 10), QTime(23, 30), Qt::UTC),
         QStringLiteral("resets 00:30 tomorrow")},
        {"equal to now", now, std::nullopt},
        {"in the past", now.addSecs(-60), std::nullopt},
        {"absent", std::nullopt, std::nullopt},
    };
    for (const Row& row : rows)
        EXPECT_EQ(TimeFormatting::resetPhrase(row.resetAt, now), row.expected) << row.name;
}

TEST(TimeFormatting, ResetPhraseCountsCalendarDaysAcrossClockChanges)
{
    ZoneGuard zone("Europe/London");
    LocaleGuard locale("en_GB");
    // Across the spring-forward night the two day starts are only 23 hours apart.
    const QDateTime now(QDate(2026, 3, 28), QTime(23, 30), Qt::LocalTime);
    EXPECT_EQ(TimeFormatting::resetPhrase(QDateTime(QDate(2026, 3, 29), QTime(0, 15), Qt::LocalTime), now),
              QStringLiteral("resets 00:15 tomorrow"));
    EXPECT_EQ(TimeFormatting::resetPhrase(QDateTime(QDate(2026, 4, 4), QTime(0, 15), Qt::LocalTime), now),
              QStringLiteral("resets Sat 4 Apr 00:15"));
}

TEST(TimeFormatting, ResetPhraseFollowsTheCurrentLocale)
{
    ZoneGuard zone("Europe/London");
    const QDateTime now(QDate(2026, 6, 10), QTime(10, 0), Qt::LocalTime);
    const QDateTime soon(QDate(2026, 6, 13), QTime(9, 5), Qt::LocalTime);
    const QDateTime later(QDate(2026, 6, 18), QTime(21, 5), Qt::LocalTime);
    struct Row
    {
        const char* locale;
        const char* soon;
        const char* later;
    };
    const Row rows[] = {
        {"en_GB", "resets Sat 09:05", "resets Thu 18 Jun 21:05"},
        // A 12-hour locale still gets the 24-hour time, and its month-first order.
        {"en_US", "resets Sat 09:05", "resets Thu, Jun 18 21:05"},
        {"de_DE", "resets Sa. 09:05", "resets Do. 18 Juni 21:05"},
        {"fi_FI", "resets la 09.05", "resets to 18 kesäk. 21.05"},
        {"en_GB", "resets Sat 09:05", "resets Thu 18 Jun 21:05"},
    };
    for (const Row& row : rows) {
        LocaleGuard locale(row.locale);
        EXPECT_EQ(TimeFormatting::resetPhrase(soon, now), QString::fromUtf8(row.soon)) << row.locale;
        EXPECT_EQ(TimeFormatting::resetPhrase(later, now), QString::fromUtf8(row.later)) << row.locale;
    }
}
