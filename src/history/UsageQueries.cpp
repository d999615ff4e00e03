#include "history/UsageQueries.h"

#include "history/Pricing.h"
#include "history/SaturatingMath.h"
#include "history/ZoneCalendar.h"

#include <QTimeZone>

namespace {

QTimeZone zoneOf(const UsageTotals& totals)
{
    QTimeZone zone(totals.zone);
    return zone.isValid() ? zone : ZoneCalendar::currentZone();
}

} // namespace

double UsageTotals::Series::costUSD(qint64 day) const
{
    const auto found = dayCostNanos.find(day);
    return found == dayCostNanos.end() ? 0.0 : Pricing::nanosToUsd(found->second);
}

namespace {

void addSeries(UsageTotals::Series& into, const UsageTotals::Series& from)
{
    for (const auto& [day, tokens] : from.dayTokens)
        into.dayTokens[day] = SaturatingMath::add(into.dayTokens[day], tokens);
    for (const auto& [day, nanos] : from.dayCostNanos)
        into.dayCostNanos[day] = SaturatingMath::add(into.dayCostNanos[day], nanos);
    for (const auto& [day, hours] : from.dayHourTokens) {
        std::array<qint64, 24>& to = into.dayHourTokens[day];
        for (std::size_t h = 0; h < hours.size(); ++h)
            to[h] = SaturatingMath::add(to[h], hours[h]);
    }
    for (std::size_t h = 0; h < from.hourTokens.size(); ++h)
        into.hourTokens[h] = SaturatingMath::add(into.hourTokens[h], from.hourTokens[h]);
}

} // namespace

void UsageTotals::add(const UsageTotals& other)
{
    for (std::size_t i = 0; i < series.size(); ++i)
        addSeries(series[i], other.series[i]);
    for (const auto& [account, from] : other.accounts)
        addSeries(accounts[account], from);
}

namespace UsageQueries {

qint64 dayNumber(const QDate& date)
{
    return date.toJulianDay() - QDate(1970, 1, 1).toJulianDay();
}

qint64 dayOf(const UsageTotals& totals, const QDateTime& at)
{
    return dayNumber(at.toTimeZone(zoneOf(totals)).date());
}

std::vector<qint64> lastDays(const UsageTotals& totals, int n, const QDateTime& now)
{
    std::vector<qint64> days;
    const QDateTime local = now.toTimeZone(zoneOf(totals));
    for (int k = n - 1; k >= 0; --k) {
        const QDateTime earlier = local.addDays(-k);
        if (earlier.isValid())
            days.push_back(dayNumber(earlier.date()));
    }
    return days;
}

qint64 tokens(const UsageTotals& totals, Provider provider, const QDateTime& since)
{
    const auto& map = totals.of(provider).dayTokens;
    qint64 sum = 0;
    for (auto it = map.lower_bound(dayOf(totals, since)); it != map.end(); ++it)
        sum = SaturatingMath::add(sum, it->second);
    return sum;
}

double costUSD(const UsageTotals& totals, Provider provider, const QDateTime& since)
{
    const auto& map = totals.of(provider).dayCostNanos;
    qint64 sum = 0;
    for (auto it = map.lower_bound(dayOf(totals, since)); it != map.end(); ++it)
        sum = SaturatingMath::add(sum, it->second);
    return Pricing::nanosToUsd(sum);
}

std::vector<DayTokens> recentSeries(const UsageTotals& totals, Provider provider, int days,
                                    const QDateTime& now)
{
    std::vector<DayTokens> series;
    const auto& map = totals.of(provider).dayTokens;
    for (const qint64 day : lastDays(totals, days, now)) {
        const auto found = map.find(day);
        series.push_back({ZoneCalendar::dayKey(day), found == map.end() ? 0 : found->second});
    }
    return series;
}

double averageDailyTokens(const UsageTotals& totals, Provider provider, int lastDays, const QDateTime& now)
{
    double sum = 0;
    int active = 0;
    for (const DayTokens& day : recentSeries(totals, provider, lastDays, now)) {
        if (day.tokens >= 1) {
            sum += static_cast<double>(day.tokens);
            ++active;
        }
    }
    return active == 0 ? 0.0 : sum / active;
}

std::vector<qint64> weeklyTotals(const UsageTotals& totals, Provider provider, int weeks,
                                 const QDateTime& now)
{
    const auto series = recentSeries(totals, provider, weeks * 7, now);
    std::vector<qint64> sums;
    for (std::size_t start = 0; start + 7 <= series.size(); start += 7) {
        qint64 sum = 0;
        for (std::size_t i = start; i < start + 7; ++i)
            sum = SaturatingMath::add(sum, series[i].tokens);
        sums.push_back(sum);
    }
    return sums;
}

std::optional<HourSpan> peakWindow(const UsageTotals& totals, int blockHours)
{
    std::array<double, 24> hours{};
    double all = 0;
    for (const Provider provider : {Provider::codex, Provider::claude}) {
        for (std::size_t h = 0; h < 24; ++h) {
            hours[h] += static_cast<double>(totals.of(provider).hourTokens[h]);
            all += static_cast<double>(totals.of(provider).hourTokens[h]);
        }
    }
    if (all < 1 || blockHours < 0 || blockHours > 24)
        return std::nullopt;
    int bestStart = 0;
    double best = -1;
    for (int start = 0; start + blockHours <= 24; ++start) {
        double sum = 0;
        for (int h = start; h < start + blockHours; ++h)
            sum += hours[static_cast<std::size_t>(h)];
        if (sum > best) {
            best = sum;
            bestStart = start;
        }
    }
    return HourSpan{bestStart, bestStart + blockHours};
}

std::optional<std::array<double, 24>> normalizedHourly(const UsageTotals& totals, Provider provider)
{
    std::array<double, 24> shares{};
    double total = 0;
    for (std::size_t h = 0; h < 24; ++h) {
        shares[h] = static_cast<double>(totals.of(provider).hourTokens[h]);
        total += shares[h];
    }
    if (total <= 0)
        return std::nullopt;
    for (double& share : shares)
        share /= total;
    return shares;
}

double effectiveDays(const UsageTotals& totals, const QDateTime& from, const QDateTime& to, Provider provider)
{
    if (!(to > from))
        return 0.0;
    const auto shares = normalizedHourly(totals, provider);
    if (!shares)
        return static_cast<double>(from.msecsTo(to)) / 86400000.0;
    const QTimeZone zone = zoneOf(totals);
    double sum = 0;
    QDateTime cursor = from.toTimeZone(zone);
    const QDateTime end = to.toTimeZone(zone);
    for (int step = 0; step < 1440 && cursor < end; ++step) {
        const int hour = cursor.time().hour();
        QDateTime hourStart(cursor.date(), QTime(hour, 0), zone);
        // An hour start the zone skips (or that lies after the cursor in a repeated hour) falls back to it.
        if (!hourStart.isValid() || hourStart > cursor)
            hourStart = cursor;
        QDateTime stepEnd = std::min(hourStart.addSecs(3600), end);
        if (stepEnd <= cursor)
            stepEnd = std::min(cursor.addSecs(3600), end);
        sum += (*shares)[static_cast<std::size_t>(hour)] * static_cast<double>(cursor.msecsTo(stepEnd)) /
               3600000.0;
        cursor = stepEnd;
    }
    return sum;
}

} // namespace UsageQueries
