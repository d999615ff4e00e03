#include "core/forecast/SleepSchedule.h"
#include "ZoneGuard.h"
#include "core/text/Zone.h"

#include <gtest/gtest.h>

#include <QJsonDocument>

namespace {

constexpr qint64 hour = 3600;

QDateTime local(int month, int day, int h, int m = 0)
{
    return QDateTime(QDate(2026, month, day), QTime(h, m), Zone::local());
}

SleepSchedule night(qint64 bedtime = 1380, qint64 wake = 420, bool enabled = true)
{
    return SleepSchedule{enabled, bedtime, wake};
}

} // namespace

// Europe/London: clocks go forward on 29 March 2026 and back on 25 October 2026.
TEST(SleepSchedule, SleepSecondsInTheLocalCalendar)
{
    ZoneGuard zone("Europe/London");
    struct Row
    {
        const char* name;
        SleepSchedule schedule;
        QDateTime from;
        qint64 spanHours;
        double expectedHours;
    };
    const Row rows[] = {
        {"08:00 to 08:00 holds one 8-hour night", night(), local(6, 10, 8), 24, 8},
        {"a night begun the evening before counts from the start", night(), local(6, 11, 2), 10, 5},
        {"inside one night", night(), local(6, 10, 23), 1, 1},
        {"three nights", night(), local(6, 10, 12), 72, 24},
        {"a nap within one day", night(13 * 60, 14 * 60), local(6, 10, 0), 24, 1},
        {"bedtime equal to wake", night(600, 600), local(6, 10, 0), 48, 0},
        {"disabled", night(1380, 420, false), local(6, 10, 8), 24, 0},
        {"end before start", night(), local(6, 11, 3), -1, 0},
        {"spring-forward night lasts 7 hours", night(), local(3, 28, 12), 23, 7},
        {"fall-back night lasts 9 hours", night(), local(10, 24, 12), 25, 9},
    };
    for (const Row& row : rows) {
        const QDateTime to = row.from.addSecs(row.spanHours * hour);
        EXPECT_DOUBLE_EQ(row.schedule.sleepSeconds(row.from, to), row.expectedHours * hour) << row.name;
    }
    // UTC instants are placed in the local calendar: 23:00-07:00 BST is 22:00-06:00 UTC.
    const QDateTime utc(QDate(2026, 6, 10), QTime(21, 0), Zone::utc());
    EXPECT_DOUBLE_EQ(night().sleepSeconds(utc, utc.addSecs(2 * hour)), 1 * hour);
}

TEST(SleepSchedule, DateAfterWalksWakingTimeInFiveMinuteSteps)
{
    ZoneGuard zone("Europe/London");
    struct Row
    {
        const char* name;
        SleepSchedule schedule;
        double activeSeconds;
        QDateTime from;
        QDateTime expected;
    };
    const Row rows[] = {
        {"10 waking hours from 08:00", night(), 10 * hour, local(6, 10, 8), local(6, 10, 18)},
        {"the night is skipped", night(), 16.5 * hour, local(6, 10, 8), local(6, 11, 8, 30)},
        {"starting asleep waits for the wake time", night(), hour, local(6, 11, 3), local(6, 11, 8)},
        {"bedtime equal to wake rounds up to a step", night(600, 600), 301, local(6, 10, 8),
         local(6, 10, 8, 10)},
        {"disabled is plain addition", night(1380, 420, false), 301, local(6, 10, 8),
         local(6, 10, 8).addSecs(301)},
        {"nothing to do", night(), -500, local(6, 11, 3), local(6, 11, 3)},
        {"stops after 30 days", night(), 1e9, local(6, 10, 8), local(6, 10, 8).addDays(30)},
        {"spring-forward night", night(), 2 * hour, local(3, 28, 22), local(3, 29, 8)},
        {"fall-back night", night(), 2 * hour, local(10, 24, 22), local(10, 25, 8)},
    };
    for (const Row& row : rows) {
        const QDateTime result = row.schedule.dateAfter(row.activeSeconds, row.from);
        EXPECT_EQ(result, row.expected) << row.name << ": " << result.toString(Qt::ISODate).toStdString();
    }
}

TEST(SleepSchedule, NextBedtimeIsStrictlyAfter)
{
    ZoneGuard zone("Europe/London");
    struct Row
    {
        const char* name;
        SleepSchedule schedule;
        QDateTime after;
        std::optional<QDateTime> expected;
    };
    const Row rows[] = {
        {"later the same day", night(), local(6, 10, 8), local(6, 10, 23)},
        {"at bedtime gives the next one", night(), local(6, 10, 23), local(6, 11, 23)},
        {"after midnight bedtime", night(90, 480), local(6, 10, 8), local(6, 11, 1, 30)},
        {"a bedtime the clocks skip falls on the jump", night(90, 480), local(3, 29, 0), local(3, 29, 2)},
        {"disabled", night(1380, 420, false), local(6, 10, 8), std::nullopt},
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.schedule.nextBedtime(row.after), row.expected) << row.name;
}

TEST(SleepSchedule, MinuteValuesBeyondADayActAsTheirTimeOfDay)
{
    ZoneGuard zone("Europe/London");
    // Read literally, a wake time days later gives overlapping nights that count the same sleep twice.
    const std::pair<SleepSchedule, SleepSchedule> pairs[] = {
        {night(1380, 420 + 5 * 1440), night(1380, 420)},
        {night(-60, 420), night(1380, 420)},
        {night(0, 1440), night(0, 0)},
        {night(-9'000'000'000'000LL, 9'000'000'000'000LL),
         night(1440 - 9'000'000'000'000LL % 1440, 9'000'000'000'000LL % 1440)},
    };
    const QDateTime from = local(3, 27, 20);
    for (const auto& [stored, same] : pairs) {
        EXPECT_EQ(stored.sleepSeconds(from, from.addDays(3)), same.sleepSeconds(from, from.addDays(3)));
        EXPECT_EQ(stored.dateAfter(5 * hour, from), same.dateAfter(5 * hour, from));
        EXPECT_EQ(stored.nextBedtime(from), same.nextBedtime(from));
    }
}

TEST(SleepSchedule, JsonNeedsAllThreeKeysWithTheirTypes)
{
    const SleepSchedule custom{true, 60, 540};
    const std::pair<const char*, std::optional<SleepSchedule>> rows[] = {
        {R"({"enabled":true,"bedtimeMinutes":60,"wakeMinutes":540})", custom},
        {R"({"enabled":true,"bedtimeMinutes":60.0,"wakeMinutes":540,"extra":1})", custom},
        {R"({"enabled":true,"bedtimeMinutes":60})", std::nullopt},
        {R"({"enabled":1,"bedtimeMinutes":60,"wakeMinutes":540})", std::nullopt},
        {R"({"enabled":true,"bedtimeMinutes":"60","wakeMinutes":540})", std::nullopt},
        {R"({"enabled":true,"bedtimeMinutes":60.5,"wakeMinutes":540})", std::nullopt},
        {R"({"enabled":true,"bedtimeMinutes":1e300,"wakeMinutes":540})", std::nullopt},
    };
    for (const auto& [json, expected] : rows)
        EXPECT_EQ(SleepSchedule::fromJson(QJsonDocument::fromJson(json).object()), expected) << json;
    EXPECT_EQ(SleepSchedule::fromJson(custom.toJson()), custom);
}
