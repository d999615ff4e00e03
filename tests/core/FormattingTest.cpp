#include "QtPrinters.h"
#include "ZoneGuard.h"
#include "core/forecast/PaceCalculator.h"
#include "core/text/JsonLines.h"
#include "core/text/NumberFormatting.h"
#include "core/text/TimeFormatting.h"
#include "core/text/Zone.h"

#include <gtest/gtest.h>

#include <QLocale>
#include <QRegularExpression>

#include <clocale>
#include <limits>

namespace {

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();
constexpr double infinity = std::numeric_limits<double>::infinity();
const char* const dash = "\u2014";

// Sets the default locale for one scope and restores the previous one.
struct LocaleGuard
{
    explicit LocaleGuard(const char* name) { QLocale::setDefault(QLocale(QString::fromLatin1(name))); }
    ~LocaleGuard() { QLocale::setDefault(previous); }
    QLocale previous;
};

// The process locale as a German desktop session leaves it (Qt calls setlocale(LC_ALL, "") at start-up,
// and its default locale follows LANG), restored afterwards.
struct GermanSession
{
    GermanSession() : previous(std::setlocale(LC_ALL, nullptr))
    {
        installed = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    }
    ~GermanSession()
    {
        std::setlocale(LC_ALL, previous.c_str());
        QLocale::setDefault(previousDefault);
    }
    std::string previous;
    QLocale previousDefault;
    bool installed = false;
};

QDateTime june(int day, int h, int m = 0)
{
    return QDateTime(QDate(2026, 6, day), QTime(h, m), Zone::local());
}

} // namespace

TEST(NumberFormatting, PercentAndSignedPointsRoundHalvesAwayFromZero)
{
    const std::tuple<std::optional<double>, const char*, const char*> rows[] = {
        {42, "42%", "+42pp"},   {-1, "-1%", "-1pp"},     {0, "0%", "+0pp"},          {2.5, "3%", "+3pp"},
        {-2.5, "-3%", "-3pp"},  {-0.4, "0%", "0pp"},     {std::nullopt, dash, dash}, {notANumber, dash, dash},
        {infinity, dash, dash}, {-infinity, dash, dash},
    };
    for (const auto& [value, percent, points] : rows) {
        EXPECT_EQ(NumberFormatting::percent(value), QString::fromUtf8(percent)) << value.value_or(-999);
        EXPECT_EQ(NumberFormatting::signedPoints(value), QString::fromUtf8(points)) << value.value_or(-999);
    }
}

TEST(NumberFormatting, MoneyAndTokens)
{
    // The two-decimal form is chosen on the converted amount before rounding.
    const std::tuple<bool, double, const char*> money[] = {
        {false, 12.34, "$12.34"},  {true, 200, "£158"},     {false, 100, "$100"},      {true, 10, "£7.90"},
        {true, 126.58, "£100.00"}, {false, 0.125, "$0.12"}, {false, notANumber, dash}, {true, infinity, dash},
    };
    for (const auto& [gbp, usd, expected] : money)
        EXPECT_EQ(NumberFormatting::money(gbp, usd), QString::fromUtf8(expected)) << usd;

    const std::pair<qint64, const char*> tokens[] = {
        {999, "999"},
        {1000, "1K"},
        {1500, "2K"},
        {2500, "2K"},
        {999'999, "1000K"},
        {1'000'000, "1M"},
        {1'000'000'000, "1.0B"},
        {1'250'000'000, "1.2B"},
        {-5000, "-5000"},
    };
    for (const auto& [count, expected] : tokens)
        EXPECT_EQ(NumberFormatting::tokens(count), QString::fromLatin1(expected)) << count;
}

TEST(NumberFormatting, TextsAndDatesIgnoreTheProcessLocale)
{
    GermanSession german;
    ASSERT_TRUE(german.installed) << "de_DE.UTF-8 is missing: scripts/deps.sh generates it";
    ASSERT_EQ(QLocale().decimalPoint(), QStringLiteral(","));

    EXPECT_EQ(NumberFormatting::fixed(14.3, 1), QStringLiteral("14.3"));
    UsageSnapshot weekAhead;
    weekAhead.timestamp = QDateTime(QDate(2026, 6, 1), QTime(0, 0), Zone::utc());
    weekAhead.resetAt = weekAhead.timestamp.addDays(4);
    weekAhead.windowDurationMins = 7 * 1440;
    weekAhead.usedPercent = 60;
    weekAhead.remainingPercent = 40;
    EXPECT_EQ(PaceCalculator::pace(weekAhead, 14.3, std::nullopt, weekAhead.timestamp).summary,
              QStringLiteral("Over pace by +17pp. Daily budget ~14.3%."));
    EXPECT_EQ(JsonLines::parseDate(u"1769850900.25"),
              QDateTime::fromMSecsSinceEpoch(1'769'850'900'250, Zone::utc()));
}

TEST(TimeFormatting, CountdownAndRelativeCountdown)
{
    const std::tuple<std::optional<double>, const char*, const char*> rows[] = {
        {59, "<1m", "in <1m"},
        {119.6, "2m", "in 2m"},
        {3600, "1h", "in 1h"},
        {3660, "1h 1m", "in 1h 1m"},
        {86399, "23h 59m", "in 23h 59m"},
        {86400, "1d", "in 1d"},
        {90000, "1d 1h", "in 1d 1h"},
        {0, "now", "now"},
        {-30, "now", "now"},
        {std::nullopt, dash, dash},
        {notANumber, dash, dash},
        {infinity, dash, dash},
    };
    for (const auto& [seconds, countdown, relative] : rows) {
        EXPECT_EQ(TimeFormatting::countdown(seconds), QString::fromUtf8(countdown)) << seconds.value_or(-999);
        EXPECT_EQ(TimeFormatting::relativeCountdown(seconds), QString::fromUtf8(relative));
    }
    // Far beyond any integer type: still a day count, not an overflow.
    EXPECT_TRUE(QRegularExpression("^\\d+d( \\d+h)?$").match(TimeFormatting::countdown(1e300)).hasMatch());
}

TEST(TimeFormatting, ClockShowsLocalTimeWithItsDayWhenNotToday)
{
    ZoneGuard zone("Europe/London");
    const QLocale locale;
    const QDateTime at = QDateTime(QDate(2026, 6, 10), QTime(8, 5), Zone::utc());
    const QString wednesday = locale.dayName(3, QLocale::ShortFormat);
    EXPECT_EQ(TimeFormatting::clock(at, at.addSecs(-9 * 3600)), "09:05");
    // 23:30 UTC on the 9th is already the 10th in London: the day is the local one.
    EXPECT_EQ(TimeFormatting::clock(at, QDateTime(QDate(2026, 6, 9), QTime(23, 30), Zone::utc())), "09:05");
    EXPECT_EQ(TimeFormatting::clock(at, at.addDays(-1)), wednesday + " 09:05");
    EXPECT_EQ(TimeFormatting::clock(at, at.addDays(1)), wednesday + " 09:05");
    const QString farOff = TimeFormatting::clock(at, at.addDays(-8));
    EXPECT_TRUE(farOff.startsWith(wednesday) && farOff.contains(locale.monthName(6, QLocale::ShortFormat)) &&
                farOff.endsWith(" 09:05"))
        << farOff.toStdString();
    EXPECT_EQ(TimeFormatting::clock(std::nullopt, at), QString::fromUtf8(dash));
}

TEST(TimeFormatting, ResetPhraseByCalendarDays)
{
    ZoneGuard zone("Europe/London");
    LocaleGuard locale("en_GB");
    const QDateTime now = june(10, 10); // a Wednesday
    const std::pair<std::optional<QDateTime>, std::optional<QString>> rows[] = {
        {june(10, 14, 5), "resets 14:05 today"},
        {june(11, 0, 30), "resets 00:30 tomorrow"},
        {june(11, 23), "resets 23:00 tomorrow"},
        {june(13, 9), "resets Sat 09:00"},
        {june(16, 9), "resets Tue 09:00"},
        {june(17, 9), "resets Wed 17 Jun 09:00"},
        {june(18, 9), "resets Thu 18 Jun 09:00"},
        {QDateTime(QDate(2026, 6, 10), QTime(23, 30), Zone::utc()), "resets 00:30 tomorrow"},
        {now, std::nullopt},
        {std::nullopt, std::nullopt},
    };
    for (const auto& [resetAt, expected] : rows)
        EXPECT_EQ(TimeFormatting::resetPhrase(resetAt, now), expected);
}

TEST(TimeFormatting, ResetPhraseFollowsLocaleChanges)
{
    ZoneGuard zone("Europe/London");
    // {June} is the locale's own short month name, which Qt's locale data words differently by version.
    const std::tuple<const char*, const char*, const char*> rows[] = {
        {"en_GB", "resets Sat 09:05", "resets Thu 18 {June} 21:05"},
        // A 12-hour locale keeps the 24-hour time but puts the month first.
        {"en_US", "resets Sat 09:05", "resets Thu, {June} 18 21:05"},
        {"fi_FI", "resets la 09.05", "resets to 18 {June} 21.05"},
        {"en_GB", "resets Sat 09:05", "resets Thu 18 {June} 21:05"},
    };
    for (const auto& [name, soon, later] : rows) {
        LocaleGuard locale(name);
        const QString june18 = QString::fromUtf8(later).replace(QStringLiteral("{June}"),
                                                                QLocale().monthName(6, QLocale::ShortFormat));
        EXPECT_EQ(TimeFormatting::resetPhrase(june(13, 9, 5), june(10, 10)), QString::fromUtf8(soon)) << name;
        EXPECT_EQ(TimeFormatting::resetPhrase(june(18, 21, 5), june(10, 10)), june18) << name;
    }
}
