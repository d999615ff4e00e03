#include "core/SleepSchedule.h"

#include <QJsonValue>
#include <QTimeZone>

#include <algorithm>
#include <cmath>

namespace {

constexpr qint64 minutesPerDay = 1440;
constexpr qint64 stepSeconds = 300;
constexpr int maxSteps = 8640; // 30 days of 5-minute steps
// Keeps hand-edited minute values from walking dates off the calendar.
constexpr qint64 minuteLimit = 10'000'000;

struct Interval
{
    qint64 startMs = 0;
    qint64 endMs = 0;
    bool contains(qint64 ms) const { return startMs <= ms && ms < endMs; }
};

QDate localDate(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::LocalTime).date();
}

qint64 startOfDayMs(QDate day)
{
    return day.startOfDay(Qt::LocalTime).toMSecsSinceEpoch();
}

// The moment the local wall clock shows `minutes` after midnight of `day`. A wall time skipped by a
// daylight-saving jump maps to the first minute the clock does show after it.
qint64 wallTimeMs(QDate day, qint64 minutes)
{
    minutes = std::clamp(minutes, -minuteLimit, minuteLimit);
    qint64 days = minutes / minutesPerDay;
    qint64 rest = minutes % minutesPerDay;
    if (rest < 0) {
        rest += minutesPerDay;
        --days;
    }
    const QDate date = day.addDays(days);
    for (qint64 m = rest; m < minutesPerDay; ++m) {
        const QDateTime candidate(date, QTime(int(m / 60), int(m % 60)), Qt::LocalTime);
        if (candidate.isValid())
            return candidate.toMSecsSinceEpoch();
    }
    return startOfDayMs(date.addDays(1));
}

std::optional<qint64> jsonInteger(const QJsonValue& value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    // Exact integers only, within the range a double holds without loss.
    if (!std::isfinite(number) || std::floor(number) != number || std::fabs(number) > 9007199254740992.0)
        return std::nullopt;
    return static_cast<qint64>(number);
}

class Intervals
{
public:
    explicit Intervals(const SleepSchedule& schedule) : m_schedule(schedule) {}

    // The sleep interval belonging to local calendar day `day`; absent when the schedule never sleeps.
    std::optional<Interval> of(QDate day) const
    {
        const qint64 bed = m_schedule.bedtimeMinutes;
        const qint64 wake = m_schedule.wakeMinutes;
        if (bed == wake)
            return std::nullopt;
        Interval interval;
        interval.startMs = wallTimeMs(day, bed);
        interval.endMs = bed < wake ? wallTimeMs(day, wake) : wallTimeMs(day.addDays(1), wake);
        return interval;
    }

private:
    const SleepSchedule& m_schedule;
};

} // namespace

double SleepSchedule::sleepSeconds(const QDateTime& from, const QDateTime& to) const
{
    if (!enabled || bedtimeMinutes == wakeMinutes || !from.isValid() || !to.isValid() || to <= from)
        return 0;
    const qint64 aMs = from.toMSecsSinceEpoch();
    const qint64 bMs = to.toMSecsSinceEpoch();
    const Intervals intervals(*this);
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
        const qint64 candidate = wallTimeMs(candidateDay, bedtimeMinutes);
        if (candidate > afterMs)
            return QDateTime::fromMSecsSinceEpoch(candidate, Qt::LocalTime);
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
    const std::optional<qint64> bedtime = jsonInteger(object.value(QStringLiteral("bedtimeMinutes")));
    const std::optional<qint64> wake = jsonInteger(object.value(QStringLiteral("wakeMinutes")));
    if (!enabledValue.isBool() || !bedtime || !wake)
        return std::nullopt;
    SleepSchedule schedule;
    schedule.enabled = enabledValue.toBool();
    schedule.bedtimeMinutes = *bedtime;
    schedule.wakeMinutes = *wake;
    return schedule;
}
