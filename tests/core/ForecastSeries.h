#pragma once

#include "core/model/UsageSnapshot.h"
#include "core/text/Zone.h"
#include "support/Reading.h"

#include <QDateTime>
#include <QList>
#include <QStringList>

#include <cmath>
#include <optional>
#include <ostream>
#include <utility>
#include <vector>

// Readable failure messages for lists of texts, one per line.
inline void PrintTo(const QStringList& lines, std::ostream* out)
{
    *out << "\n" << lines.join(QLatin1Char('\n')).toStdString();
}

// Builds snapshot series on a minute axis from a fixed origin (a winter Monday noon, when London time
// equals UTC).
namespace ForecastSeries {

inline QDateTime origin()
{
    return QDateTime(QDate(2026, 3, 2), QTime(12, 0), Zone::utc());
}

inline QDateTime at(double minutes)
{
    return origin().addMSecs(std::llround(minutes * 60'000.0));
}

// One claude five-hour snapshot; the reset is given in minutes on the same axis.
inline UsageSnapshot sample(double minute, double used, std::optional<double> resetMinute = 300,
                            std::optional<double> windowMins = 300)
{
    UsageSnapshot s = TestSupport::reading(Provider::claude, WindowKind::fiveHour, at(minute), used,
                                           resetMinute ? std::optional(at(*resetMinute)) : std::nullopt);
    s.windowDurationMins = windowMins;
    return s;
}

// (minute, used) pairs sharing one reset minute.
inline QList<UsageSnapshot> series(const std::vector<std::pair<double, double>>& points,
                                   std::optional<double> resetMinute = 300)
{
    QList<UsageSnapshot> out;
    for (const auto& [minute, used] : points)
        out << sample(minute, used, resetMinute);
    return out;
}

// Evenly spaced samples from (fromMinute, fromUsed) to (toMinute, toUsed).
inline QList<UsageSnapshot> ramp(double fromMinute, double fromUsed, double toMinute, double toUsed,
                                 int count, std::optional<double> resetMinute = 300)
{
    QList<UsageSnapshot> out;
    for (int i = 0; i < count; ++i) {
        const double f = count == 1 ? 1.0 : static_cast<double>(i) / (count - 1);
        out << sample(fromMinute + f * (toMinute - fromMinute), fromUsed + f * (toUsed - fromUsed),
                      resetMinute);
    }
    return out;
}

} // namespace ForecastSeries
