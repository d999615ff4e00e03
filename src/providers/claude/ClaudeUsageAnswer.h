#pragma once

#include "core/model/UsageSnapshot.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

// The Claude account's extra-usage (paid overage) settings.
struct ClaudeExtraUsage
{
    bool enabled = false;
    // In currency units (the answer counts hundredths).
    double usedGBP = 0;
    std::optional<double> limitGBP;
    QString currency = QStringLiteral("GBP");

    friend bool operator==(const ClaudeExtraUsage&, const ClaudeExtraUsage&) = default;
};

// Reading the OAuth usage endpoint's answer.
namespace ClaudeUsageAnswer {

// One snapshot per recognised window ("five_hour", "seven_day", "seven_day_sonnet" and their aliases), at
// the top level or one level down, stamped `now`; the first window of a kind wins.
QList<UsageSnapshot> snapshots(const QJsonObject& answer, const QDateTime& now);

// The "extra_usage" member; nothing when it is missing or not an object.
std::optional<ClaudeExtraUsage> extraUsage(const QJsonObject& answer);

} // namespace ClaudeUsageAnswer
