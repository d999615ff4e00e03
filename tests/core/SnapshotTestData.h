#pragma once

#include "core/model/UsageSnapshot.h"
#include "core/text/JsonLines.h"
#include "core/text/Zone.h"
#include "support/Reading.h"
#include "support/TestSupport.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QString>

#include <cmath>
#include <cstring>

namespace SnapshotTestData {

using TestSupport::reading;

inline QDateTime utc(int year, int month, int day, int hour = 0, int minute = 0, int second = 0)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second), Zone::utc());
}

inline QByteArray line(const UsageSnapshot& s)
{
    return JsonLines::encodeLine(s.toJson()) + '\n';
}

using TestSupport::readFile;
using TestSupport::writeFile;

using TestSupport::appendFile;

inline bool sameBits(double a, double b)
{
    // NOLINTNEXTLINE(bugprone-suspicious-memory-comparison): the same bits are the point
    return std::memcmp(&a, &b, sizeof a) == 0;
}

inline bool sameDate(const QDateTime& a, const QDateTime& b)
{
    return a.isValid() == b.isValid() && a.toMSecsSinceEpoch() == b.toMSecsSinceEpoch() &&
           a.timeSpec() == b.timeSpec() && a.offsetFromUtc() == b.offsetFromUtc();
}

// Equal field by field, down to the bits of every number and the timeSpec() of every date.
inline bool identical(const UsageSnapshot& a, const UsageSnapshot& b)
{
    const auto sameOptionalDate = [](const std::optional<QDateTime>& x, const std::optional<QDateTime>& y) {
        return x.has_value() == y.has_value() && (!x || sameDate(*x, *y));
    };
    const auto sameOptionalNumber = [](const std::optional<double>& x, const std::optional<double>& y) {
        return x.has_value() == y.has_value() && (!x || sameBits(*x, *y));
    };
    return a == b && sameDate(a.timestamp, b.timestamp) && sameOptionalDate(a.resetAt, b.resetAt) &&
           sameBits(a.usedPercent, b.usedPercent) && sameBits(a.remainingPercent, b.remainingPercent) &&
           sameOptionalNumber(a.windowDurationMins, b.windowDurationMins);
}

} // namespace SnapshotTestData
