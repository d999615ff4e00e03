#pragma once

#include <QDateTime>
#include <QJsonObject>

#include <optional>

// The hours in which the user does not work, as minutes after local midnight.
struct SleepSchedule
{
    bool enabled = false;
    qint64 bedtimeMinutes = 1380; // 23:00
    qint64 wakeMinutes = 420;     // 07:00

    // Seconds of [from, to) inside sleep intervals; 0 when disabled, when to is not after from, or when
    // bedtime equals wake.
    double sleepSeconds(const QDateTime& from, const QDateTime& to) const;
    // When `activeSeconds` of waking time have passed since `from`, in 5-minute steps.
    QDateTime dateAfter(double activeSeconds, const QDateTime& from) const;
    // The next sleep start strictly after `after`; absent when disabled.
    std::optional<QDateTime> nextBedtime(const QDateTime& after) const;

    QJsonObject toJson() const;
    // All three keys are required.
    static std::optional<SleepSchedule> fromJson(const QJsonObject& object);

    friend bool operator==(const SleepSchedule&, const SleepSchedule&) = default;
};
