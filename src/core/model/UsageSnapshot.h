#pragma once

#include "core/model/Enums.h"
#include "core/model/OptionalText.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QUuid>

#include <optional>

// One observation of how much of one provider's quota window is used at one moment.
struct UsageSnapshot
{
    QUuid id = QUuid::createUuid();
    Provider provider = Provider::codex;
    QDateTime timestamp;
    WindowKind windowKind = WindowKind::unknown;
    double usedPercent = 0;
    double remainingPercent = 0;
    std::optional<QDateTime> resetAt;
    std::optional<double> windowDurationMins;
    OptionalText limitId;
    OptionalText limitName;
    OptionalText modelId;
    OptionalText modelDisplayName;
    OptionalText effortLevel;
    std::optional<bool> thinkingEnabled;
    OptionalText speedMode;
    OptionalText planType;
    OptionalText rateLimitReachedType;
    QString source;
    SourceConfidence sourceConfidence = SourceConfidence::medium;
    // The short key of the account it belongs to (AccountFolders::key); absent for the default account, so a
    // log of one account reads and writes as it always has.
    OptionalText account;

    // "5h", "7d" from the stated duration, else the window kind's short label.
    QString windowLabel() const;

    // Absent optionals are left out; dates are ISO 8601 UTC with whole seconds.
    QJsonObject toJson() const;
    // Fails on a missing required key, a wrongly typed value or an unknown enum string.
    static std::optional<UsageSnapshot> fromJson(const QJsonObject& object);

    friend bool operator==(const UsageSnapshot&, const UsageSnapshot&) = default;
};
