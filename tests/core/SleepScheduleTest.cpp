#include "core/SleepSchedule.h"
#include "ZoneGuard.h"

#include <gtest/gtest.h>

#include <QJsonDocument>

namespace {

QDateTime local(int year, int month, int day, int hour, int minute = 0)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute), Qt::LocalTime);
}

SleepSchedule night(qint64 bedtime = 1380, qint64 wake = 420)
{
    SleepSchedule schedule;
    schedule.enabled = true;
    schedule.bedtimeMinutes = bedtime;
    schedule.wakeMinutes = wake;
    return schedule;
}

constexpr double hour = 3600;

} // namespace

TEST(SleepSchedule, SleepSecondsOverRanges)
{
    ZoneGuard zone("Europe/London");
    SleepSchedule disabled = night();
    disabled.enabled = false;
    struct Row
    {
        const char* name;
        SleepSchedule schedule;
        QDateTime from;
        QDateTime to;
        double expected;
    };
    const Row rows[] = {
        {"a full day holds one 8-hour night", night(), local(2026, 6, 10, 8), local(2026, 6, 11, 8),
         8 * hour},
        {"a night that began the evening before counts from the start point", night(), local(2026, 6, 11, 2),
         local(2026, 6, 11, 12), 5 * hour},
        {"start and end inside the same night", night(), local(2026, 6, 10, 23, 30), local(2026, 6, 11, 1),
         1.5 * hour},
        {"daytime only", night(), local(2026, 6, 10, 9), local(2026, 6, 10, 17), 0},
        {"three nights over three days", night(), local(2026, 6, 10, 12), local(2026, 6, 13, 12), 24 * hour},
        {"a nap inside one day (bedtime before wake)", night(13 * 60, 14 * 60), local(2026, 6, 10, 0),
         local(2026, 6, 11, 0), 1 * hour},
        {"bedtime equal to wake never sleeps", night(600, 600), local(2026, 6, 10, 0), local(2026, 6, 12, 0),
         0},
        {"disabled", disabled, local(2026, 6, 10, 8), local(2026, 6, 11, 8), 0},
        {"end not after start", night(), local(2026, 6, 11, 3), local(2026, 6, 11, 2), 0},
        {"empty range", night(), local(2026, 6, 11, 3), local(2026, 6, 11, 3), 0},
        {"UTC inputs are read in the local calendar (BST)", night(),
         QDateTime(QDate(2026, 6, 10), QTime(21, 0), Qt::UTC),
         QDateTime(QDate(2026, 6, 11), QTime(7, 0), Qt::UTC), 8 * hour},
        {"spring-forward night is 7 hours", night(), local(2026, 3, 28, 12), local(2026, 3, 29, 12),
         7 * hour},
        {"fall-back night is 9 hours", night(), local(2026, 10, 24, 12), local(2026, 10, 25, 12), 9 * hour},
    };
    for (const Row& row : rows)
        EXPECT_DOUBLE_EQ(row.schedule.sleepSeconds(row.from, row.to), row.expected) << row.name;
}

TEST(SleepSchedule, OtherZonesUseTheirOwnMidnight)
{
    ZoneGuard zone("America/New_York");
    // 23:00-07:00 New York time is 03:00-11:00 UTC in June.
    const QDateTime from(QDate(2026, 6, 11), QTime(0, 0), Qt::UTC);
    const QDateTime to(QDate(2026, 6, 11), QTime(12, 0), Qt::UTC);
    EXPECT_DOUBLE_EQ(night().sleepSeconds(from, to), 8 * hour);
    EXPECT_DOUBLE_EQ(night().sleepSeconds(from, from.addSecs(4 * 3600)), 1 * hour);
}

TEST(SleepSchedule, DateAfterSkipsSleepInFiveMinuteSteps)
{
    ZoneGuard zone("Europe/London");
    SleepSchedule disabled = night();
    disabled.enabled = false;
    struct Row
    {
        const char* name;
        SleepSchedule schedule;
        double active;
        QDateTime from;
        QDateTime expected;
    };
    const Row rows[] = {
        {"10 waking hours from 08:00 land at 18:00", night(), 10 * hour, local(2026, 6, 10, 8),
         local(2026, 6, 10, 18)},
        {"the night is skipped", night(), 16 * hour + 1800, local(2026, 6, 10, 8), local(2026, 6, 11, 8, 30)},
        {"starting asleep waits for the wake time", night(), 1 * hour, local(2026, 6, 11, 3),
         local(2026, 6, 11, 8)},
        {"bedtime equal to wake rounds up to the next step", night(600, 600), 301, local(2026, 6, 10, 8),
         local(2026, 6, 10, 8, 10)},
        {"bedtime equal to wake, exact steps", night(600, 600), 3600, local(2026, 6, 10, 8),
         local(2026, 6, 10, 9)},
        {"disabled is plain addition", disabled, 301, local(2026, 6, 10, 8),
         local(2026, 6, 10, 8).addSecs(301)},
        {"no active time", night(), 0, local(2026, 6, 11, 3), local(2026, 6, 11, 3)},
        {"negative active time", night(), -500, local(2026, 6, 11, 3), local(2026, 6, 11, 3)},
        {"walks at most 30 days", night(), 1e9, local(2026, 6, 10, 8), local(2026, 6, 10, 8).addDays(30)},
        {"spring-forward night sleeps 7 real hours", night(), 2 * hour, local(2026, 3, 28, 22),
         local(2026, 3, 29, 8)},
        {"fall-back night sleeps 9 real hours", night(), 2 * hour, local(2026, 10, 24, 22),
         local(2026, 10, 25, 8)},
    };
    for (const Row& row : rows) {
        const QDateTime result = row.schedule.dateAfter(row.active, row.from);
        EXPECT_EQ(result.toMSecsSinceEpoch(), row.expected.toMSecsSinceEpoch())
            << row.name << ": " << result.toString(Qt::ISODate).toStdString();
    }
}

TEST(SleepSchedule, DateAfterAgreesWithSleepSecondsWithinOneStep)
{
    ZoneGuard zone("Europe/London");
    const QDateTime from = local(2026, 6, 10, 8, 2);
    for (double active : {1.0, 299.0, 300.0, 3601.0, 20 * hour, 50 * hour}) {
        const QDateTime result = night().dateAfter(active, from);
        const double awake = double(from.secsTo(result)) - night().sleepSeconds(from, result);
        // Steps straddling bedtime or wake are counted whole, so agreement is within a step either way.
        EXPECT_GT(awake, active - 300) << active;
        EXPECT_LT(awake, active + 300) << active;
    }
}

TEST(SleepSchedule, NextBedtime)
{
    ZoneGuard zone("Europe/London");
    SleepSchedule disabled = night();
    disabled.enabled = false;
    struct Row
    {
        const char* name;
        SleepSchedule schedule;
        QDateTime after;
        std::optional<QDateTime> expected;
    };
    const Row rows[] = {
        {"later the same day", night(), local(2026, 6, 10, 8), local(2026, 6, 10, 23)},
        {"strictly after: at bedtime gives the next one", night(), local(2026, 6, 10, 23),
         local(2026, 6, 11, 23)},
        {"after bedtime gives tomorrow's", night(), local(2026, 6, 10, 23, 30), local(2026, 6, 11, 23)},
        {"early-morning bedtime", night(90, 480), local(2026, 6, 10, 8), local(2026, 6, 11, 1, 30)},
        {"wall-clock bedtime on the fall-back day", night(), local(2026, 10, 25, 8), local(2026, 10, 25, 23)},
        {"a bedtime skipped by the clock change falls on the jump", night(90, 480), local(2026, 3, 29, 0),
         local(2026, 3, 29, 2)},
        {"disabled", disabled, local(2026, 6, 10, 8), std::nullopt},
    };
    for (const Row& row : rows) {
        const std::optional<QDateTime> result = row.schedule.nextBedtime(row.after);
        ASSERT_EQ(result.has_value(), row.expected.has_value()) << row.name;
        if (result) {
            EXPECT_EQ(result->toMSecsSinceEpoch(), row.expected->toMSecsSinceEpoch())
                << row.name << ": " << result->toString(Qt::ISODate).toStdString();
        }
    }
}

TEST(SleepSchedule, JsonNeedsAllThreeKeysWithTheirTypes)
{
    struct Row
    {
        const char* json;
        std::optional<SleepSchedule> expected;
    };
    SleepSchedule custom;
    custom.enabled = true;
    custom.bedtimeMinutes = 60;
    custom.wakeMinutes = 540;
    const Row rows[] = {
        {R"({"enabled":true,"bedtimeMinutes":60,"wakeMinutes":540})", custom},
        {R"({"enabled":true,"bedtimeMinutes":60.0,"wakeMinutes":540,"extra":1})", custom},
        {R"({"enabled":true,"bedtimeMinutes":60})", std::nullopt},
        {R"({"bedtimeMinutes":60,"wakeMinutes":540})", std::nullopt},
        {R"({"enabled":1,"bedtimeMinutes":60,"wakeMinutes":540})", std::nullopt},
        {R"({"enabled":true,"bedtimeMinutes":"60","wakeMinutes":540})", std::nullopt},
        {R"({"enabled":true,"bedtimeMinutes":60.5,"wakeMinutes":540})", std::nullopt},
        {R"({"enabled":true,"bedtimeMinutes":null,"wakeMinutes":540})", std::nullopt},
        {R"({"enabled":true,"bedtimeMinutes":1e300,"wakeMinutes":540})", std::nullopt},
    };
    for (const Row& row : rows) {
        const auto decoded = SleepSchedule::fromJson(QJsonDocument::fromJson(row.json).object());
        EXPECT_EQ(decoded, row.expected) << row.json;
    }
    EXPECT_EQ(SleepSchedule::fromJson(custom.toJson()), custom);
    EXPECT_EQ(custom.toJson().keys(), (QStringList{"bedtimeMinutes", "enabled", "wakeMinutes"}));
}

TEST(SleepSchedule, MinuteValuesBeyondADayActAsTheirTimeOfDay)
{
    ZoneGuard zone("Europe/London");
    struct Row
    {
        const char* name;
        SleepSchedule stored;
        SleepSchedule same;
    };
    const Row rows[] = {
        // Read literally, a wake time days later gives nights that overlap and count sleep twice.
        {"wake several days on", night(1380, 420 + 5 * 1440), night(1380, 420)},
        {"negative bedtime", night(-60, 420), night(1380, 420)},
        {"bedtime a day on", night(1380 + 1440, 420), night(1380, 420)},
        {"a whole day is no sleep", night(0, 1440), night(0, 0)},
        {"huge values", night(-9'000'000'000'000LL, 9'000'000'000'000LL),
         night(1440 - 9'000'000'000'000LL % 1440, 9'000'000'000'000LL % 1440)},
    };
    const QDateTime from = local(2026, 3, 27, 20);
    for (const Row& row : rows) {
        const double asleep = row.stored.sleepSeconds(from, from.addDays(3));
        EXPECT_EQ(asleep, row.same.sleepSeconds(from, from.addDays(3))) << row.name;
        EXPECT_LE(asleep, 3 * 86400.0) << row.name;
        EXPECT_EQ(row.stored.dateAfter(5 * hour, from), row.same.dateAfter(5 * hour, from)) << row.name;
        EXPECT_EQ(row.stored.nextBedtime(from), row.same.nextBedtime(from)) << row.name;
    }
}
