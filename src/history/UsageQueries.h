#pragma once

#include "history/UsageTotals.h"

#include <QDateTime>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

// Questions asked of a history: totals since a day, day series, averages, busy hours. Days are calendar
// days in the zone the history was scanned in.
namespace UsageQueries {

// The day number the totals are kept by: days since 1970-01-01 of a local date.
qint64 dayNumber(const QDate& date);

struct DayTokens
{
    QString day; // "yyyy-MM-dd"
    qint64 tokens = 0;
    bool operator==(const DayTokens&) const = default;
};

struct HourSpan
{
    int start = 0;
    int end = 0; // may be 24
    bool operator==(const HourSpan&) const = default;
};

// Local day number of an instant, in the history's zone.
qint64 dayOf(const UsageTotals& totals, const QDateTime& at);
// The n days ending with the day of `now`, oldest first.
std::vector<qint64> lastDays(const UsageTotals& totals, int n, const QDateTime& now);

// Whole days: a `since` at 15:00 counts that whole day.
qint64 tokens(const UsageTotals& totals, Provider provider, const QDateTime& since);
double costUSD(const UsageTotals& totals, Provider provider, const QDateTime& since);
std::vector<DayTokens> recentSeries(const UsageTotals& totals, Provider provider, int days,
                                    const QDateTime& now);
// Mean over the days with any tokens; 0 when there are none.
double averageDailyTokens(const UsageTotals& totals, Provider provider, int lastDays, const QDateTime& now);
// Runs of 7 days counted back from today, oldest first.
std::vector<qint64> weeklyTotals(const UsageTotals& totals, Provider provider, int weeks,
                                 const QDateTime& now);
// The busiest span of `blockHours` local hours over both providers, never past midnight.
std::optional<HourSpan> peakWindow(const UsageTotals& totals, int blockHours);
// Each hour's share of the provider's tokens; nothing when it has none.
std::optional<std::array<double, 24>> normalizedHourly(const UsageTotals& totals, Provider provider);
// The span in days weighted by the provider's activity in each local hour (at most 1440 hours are walked).
double effectiveDays(const UsageTotals& totals, const QDateTime& from, const QDateTime& to,
                     Provider provider);

} // namespace UsageQueries
