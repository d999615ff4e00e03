#include "core/forecast/SleepSchedule.h"
#include "core/text/Zone.h"

#include "core/text/JsonLines.h"

#include <QJsonValue>
#include <QTimeZone>

#include <algorithm>
#include <cmath>

namespace {

constexpr qint64 minutesPerDay = 1440;
constexpr qint64 stepSeconds = 300;
constexpr int maxSteps = 8640; // 30 days of 5-minute steps

struct Interval
{
    qint64 startMs = 0;
    qint64 endMs = 0;
    bool contains(qint64 ms) const { return startMs <= ms && ms < endMs; }
};

QDate localDate(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Zone::local()).date();
}

qint64 startOfDayMs(QDate day)
{
    return day.startOfDay(Zone::local()).toMSecsSinceEpoch();
}

// A stored minute value as a time of day. Hand-edited values beyond a day would otherwise give nights that
// overlap one another and count the same sleep twice.
qint64 timeOfDay(qint64 minutes)
{
    const qint64 rest = minutes % minutesPerDay;
    return rest < 0 ? rest + minutesPerDay : rest;
}

// The moment the local wall clock shows `minutes` (a time of day) on `day`. A wall time skipped by a
// daylight-saving jump maps to the first minute the clock does show after it. Qt 6.4 calls a skipped time
// invalid where later versions move it on by the jump, so a candidate counts only when it reads as asked.
qint64 wallTimeMs(QDate day, qint64 minutes)
{
    for (qint64 m = minutes; m < minutesPerDay; ++m) {
        const QTime wall(int(m / 60), int(m % 60));
        const QDateTime candidate(day, wall, Zone::local());
        if (candidate.isValid() && candidate.date() == day && candidate.time() == wall)
            return candidate.toMSecsSinceEpoch();
    }
    return startOfDayMs(day.addDays(1));
}

class Intervals
{
public:
    explicit Intervals(const SleepSchedule& schedule)
        : m_bed(timeOfDay(schedule.bedtimeMinutes)), m_wake(timeOfDay(schedule.wakeMinutes))
    {}

    bool neverSleeps() const { return m_bed == m_wake; }

    // The sleep interval belonging to local calendar day `day`; absent when the schedule never sleeps.
    std::optional<Interval> of(QDate day) const
    {
        if (neverSleeps())
            return std::nullopt;
        Interval interval;
        interval.startMs = wallTimeMs(day, m_bed);
        interval.endMs = m_bed < m_wake ? wallTimeMs(day, m_wake) : wallTimeMs(day.addDays(1), m_wake);
        return interval;
    }

private:
    qint64 m_bed;
    qint64 m_wake;
};

} // namespace

double SleepSchedule::sleepSeconds(const QDateTime& from, const QDateTime& to) const
{
    const Intervals intervals(*this);
    if (!enabled || intervals.neverSleeps() || !from.isValid() || !to.isValid() || to <= from)
        return 0;
    const qint64 aMs = from.toMSecsSinceEpoch();
    const qint64 bMs = to.toMSecsSinceEpoch();
    qint64 totalMs = 0;
    // Starts a day early so a sleep that began the evening before `from` counts.
    for (QDate day = localDate(aMs).addDays(-1); day.isValid() && startOfDayMs(day) < bMs;
         day = day.addDays(1)) {
        const std::optional<Interval> interval = intervals.of(day);
        if (!interval)
            continue;
        const qint64 start = std::max(aMs, interval->startMs);
        const qint64 end = std::min(bMs, interval->endMs);
        if (end > start)
            totalMs += end - start;
    }
    return double(totalMs) / 1000.0;
}

QDateTime SleepSchedule::dateAfter(double activeSeconds, const QDateTime& from) const
{
    if (std::isnan(activeSeconds))
        activeSeconds = 0;
    if (!enabled || activeSeconds <= 0 || !from.isValid()) {
        // Caps a runaway figure at about 31,700 years instead of overflowing the date.
        const double seconds = std::clamp(activeSeconds, 0.0, 1e12);
        return from.addMSecs(std::llround(seconds * 1000.0));
    }
    const Intervals intervals(*this);
    qint64 cursorMs = from.toMSecsSinceEpoch();
    double remaining = activeSeconds;
    qint64 nextDayStartMs = cursorMs; // forces the first lookup
    std::optional<Interval> previousNight;
    std::optional<Interval> ownNight;
    for (int step = 0; step < maxSteps && remaining > 0; ++step) {
        // The cursor only moves forward, so the two nights change only when it crosses into a new day.
        if (cursorMs >= nextDayStartMs) {
            const QDate day = localDate(cursorMs);
            nextDayStartMs = startOfDayMs(day.addDays(1));
            previousNight = intervals.of(day.addDays(-1));
            ownNight = intervals.of(day);
        }
        const bool asleep = (previousNight && previousNight->contains(cursorMs)) ||
                            (ownNight && ownNight->contains(cursorMs));
        if (!asleep)
            remaining -= double(stepSeconds);
        cursorMs += stepSeconds * 1000;
    }
    return from.addMSecs(cursorMs - from.toMSecsSinceEpoch());
}

std::optional<QDateTime> SleepSchedule::nextBedtime(const QDateTime& after) const
{
    if (!enabled || !after.isValid())
        return std::nullopt;
    const qint64 afterMs = after.toMSecsSinceEpoch();
    const QDate day = localDate(afterMs);
    for (const QDate candidateDay : {day, day.addDays(1)}) {
        const qint64 candidate = wallTimeMs(candidateDay, timeOfDay(bedtimeMinutes));
        if (candidate > afterMs)
            return QDateTime::fromMSecsSinceEpoch(candidate, Zone::local());
    }
    return std::nullopt;
}

QJsonObject SleepSchedule::toJson() const
{
    return QJsonObject{
        {QStringLiteral("enabled"), enabled},
        {QStringLiteral("bedtimeMinutes"), double(bedtimeMinutes)},
        {QStringLiteral("wakeMinutes"), double(wakeMinutes)},
    };
}

std::optional<SleepSchedule> SleepSchedule::fromJson(const QJsonObject& object)
{
    const QJsonValue enabledValue = object.value(QStringLiteral("enabled"));
    const std::optional<qint64> bedtime = JsonLines::integer(object.value(QStringLiteral("bedtimeMinutes")));
    const std::optional<qint64> wake = JsonLines::integer(object.value(QStringLiteral("wakeMinutes")));
    if (!enabledValue.isBool() || !bedtime || !wake)
        return std::nullopt;
    SleepSchedule schedule;
    schedule.enabled = enabledValue.toBool();
    schedule.bedtimeMinutes = *bedtime;
    schedule.wakeMinutes = *wake;
    return schedule;
}
