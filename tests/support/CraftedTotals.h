#pragma once

#include "history/UsageQueries.h"
#include "history/UsageTotals.h"

#include <QDateTime>

#include <vector>

namespace TestSupport {

// A UTC history whose last days (oldest first, the last one being the day of `now`) hold the given tokens
// and cost, spread evenly over the hours unless `hour` names the one hour they fall in.
inline UsageTotals craftedTotals(Provider provider, const std::vector<qint64>& days, const QDateTime& now,
                                 double usdPerDay = 0, int hour = -1)
{
    UsageTotals totals;
    totals.zone = "UTC";
    UsageTotals::Series& series = totals.of(provider);
    const auto numbers = UsageQueries::lastDays(totals, int(days.size()), now);
    for (std::size_t i = 0; i < days.size(); ++i) {
        if (days[i] == 0)
            continue;
        series.dayTokens[numbers[i]] = days[i];
        series.dayCostNanos[numbers[i]] = qint64(usdPerDay * 1e9);
        auto& hours = series.dayHourTokens[numbers[i]];
        for (int h = 0; h < 24; ++h) {
            const qint64 share = hour < 0 ? days[i] / 24 : (h == hour ? days[i] : 0);
            hours[std::size_t(h)] = share;
            series.hourTokens[std::size_t(h)] += share;
        }
    }
    return totals;
}

} // namespace TestSupport
