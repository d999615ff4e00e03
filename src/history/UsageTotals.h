#pragma once

#include "core/model/Enums.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <map>

// The history as the rest of the application reads it: per provider, tokens and spend per local day and
// tokens per local hour. Replaced as a whole after every scan, so a reader never sees half of one.
struct UsageTotals
{
    struct Series
    {
        std::map<qint64, qint64> dayTokens;                     // local day number → tokens
        std::map<qint64, qint64> dayCostNanos;                  // local day number → nano-dollars
        std::map<qint64, std::array<qint64, 24>> dayHourTokens; // local day number → tokens per hour
        std::array<qint64, 24> hourTokens{};                    // summed over every day

        double costUSD(qint64 day) const;
        bool operator==(const Series&) const = default;
    };

    QByteArray zone; // the IANA id the days and hours are local to
    // The default accounts' transcripts (those of every folder signed in to the default account).
    std::array<Series, 2> series;
    // Each other account's, its folders summed, by provider and account key; empty with one account each.
    std::map<std::pair<Provider, QString>, Series> accounts;

    // Another machine's or the mirrors' totals summed into these, day by day (its days taken as they are).
    void add(const UsageTotals& other);

    Series& of(Provider provider) { return series[provider == Provider::codex ? 0 : 1]; }
    const Series& of(Provider provider) const { return series[provider == Provider::codex ? 0 : 1]; }
    bool operator==(const UsageTotals&) const = default;
};
