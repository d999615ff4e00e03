#pragma once

#include "core/text/Zone.h"

#include <QDateTime>

#include <cmath>
#include <limits>
#include <optional>

// Small numeric helpers shared by the forecasting engines. Every engine must survive NaN, infinities
// and dates out of range, so conversions from seconds to dates go through here.
namespace ForecastMath {

// Equal numbers, or both NaN.
inline bool sameNumber(double a, double b)
{
    return a == b || (std::isnan(a) && std::isnan(b));
}

inline bool sameNumber(const std::optional<double>& a, const std::optional<double>& b)
{
    if (a.has_value() != b.has_value())
        return false;
    return !a || sameNumber(*a, *b);
}

// Clamps to lo...hi; NaN stays NaN so that it prints as "—" instead of passing for a number.
inline double clampNumber(double value, double lo, double hi)
{
    if (std::isnan(value))
        return value;
    return value < lo ? lo : (value > hi ? hi : value);
}

// Seconds since the epoch as a float; NaN for an invalid date.
inline double epochSeconds(const QDateTime& date)
{
    return date.isValid() ? static_cast<double>(date.toMSecsSinceEpoch()) / 1000.0
                          : std::numeric_limits<double>::quiet_NaN();
}

// Seconds from `from` to `to`; NaN when either is invalid.
inline double secondsBetween(const QDateTime& from, const QDateTime& to)
{
    // Not msecsTo: an integer difference of two extreme dates could overflow.
    return epochSeconds(to) - epochSeconds(from);
}

// No quota window resets further ahead than this; a reset time beyond it is a bad reading, and walking the
// nights up to it (year 9999) would keep a core busy every cycle.
inline constexpr double resetHorizonSeconds = 400.0 * 86400;

// A reset time the engines can work with: present, valid and within the horizon from `now`.
inline bool knownReset(const std::optional<QDateTime>& resetAt, const QDateTime& now)
{
    return resetAt && resetAt->isValid() && !(secondsBetween(now, *resetAt) > resetHorizonSeconds);
}

// The reading's window is over: its reset time has come, whatever it said before.
inline bool resetPassed(const std::optional<QDateTime>& resetAt, const QDateTime& now)
{
    return resetAt && resetAt->isValid() && now.isValid() && *resetAt <= now;
}

// `date` moved by `seconds`; absent when the seconds are not finite or the result leaves the range
// a date can hold (a float outside the integer range must never reach an integer conversion).
inline std::optional<QDateTime> addSeconds(const QDateTime& date, double seconds)
{
    constexpr double limitMs = 9.0e15; // about 285,000 years, far inside qint64 and QDateTime's range
    if (!date.isValid() || !std::isfinite(seconds))
        return std::nullopt;
    const double targetMs = static_cast<double>(date.toMSecsSinceEpoch()) + std::round(seconds * 1000.0);
    if (!(std::fabs(targetMs) < limitMs))
        return std::nullopt;
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(targetMs), Zone::utc());
}

} // namespace ForecastMath
