#pragma once

#include <QDateTime>
#include <QJsonValue>
#include <QList>
#include <QMap>
#include <QString>

#include <optional>

// One quota window as the Codex app server reports it.
struct CodexRateLimitWindow
{
    std::optional<double> usedPercent;
    std::optional<double> windowDurationMins;
    // JSON key "resetsAt"; never fails decoding (an unreadable value leaves it empty).
    std::optional<QDateTime> resetAt;

    // Fails on a member of the wrong type; absent or null members stay empty.
    static std::optional<CodexRateLimitWindow> fromJson(const QJsonValue& value);

    friend bool operator==(const CodexRateLimitWindow&, const CodexRateLimitWindow&) = default;
};

// One rate-limit bucket with up to two windows.
struct CodexRateLimitBucket
{
    std::optional<QString> limitId;
    std::optional<QString> limitName;
    std::optional<CodexRateLimitWindow> primary;
    std::optional<CodexRateLimitWindow> secondary;
    std::optional<QString> planType;
    std::optional<QString> rateLimitReachedType;

    static std::optional<CodexRateLimitBucket> fromJson(const QJsonValue& value);

    friend bool operator==(const CodexRateLimitBucket&, const CodexRateLimitBucket&) = default;
};

// The object carried by "account/rateLimits/read" results and "account/rateLimits/updated" notifications.
struct CodexRateLimitsPayload
{
    std::optional<CodexRateLimitBucket> rateLimits;
    // Ordered by key, so "the first entry" is the smallest key.
    std::optional<QMap<QString, CodexRateLimitBucket>> rateLimitsByLimitId;

    // Succeeds or fails as a whole; anything but a JSON object fails.
    static std::optional<CodexRateLimitsPayload> fromJson(const QJsonValue& value);

    // The one bucket to use: rateLimits, else the first keyed bucket (its limitId defaulting to the key).
    QList<CodexRateLimitBucket> allBuckets() const;

    friend bool operator==(const CodexRateLimitsPayload&, const CodexRateLimitsPayload&) = default;
};
