#include "providers/codex/CodexRateLimitsPayload.h"

#include "core/text/JsonLines.h"

#include <QJsonObject>

namespace {

bool absent(const QJsonValue& value)
{
    return value.isUndefined() || value.isNull();
}

// False when the member is present with another type than a string.
bool readString(const QJsonObject& object, QLatin1StringView key, std::optional<QString>& out)
{
    const QJsonValue value = object.value(key);
    if (absent(value))
        return true;
    if (!value.isString())
        return false;
    out = value.toString();
    return true;
}

bool readNumber(const QJsonObject& object, QLatin1StringView key, std::optional<double>& out)
{
    const QJsonValue value = object.value(key);
    if (absent(value))
        return true;
    if (!value.isDouble())
        return false;
    out = value.toDouble();
    return true;
}

template <typename T> bool readNested(const QJsonObject& object, QLatin1StringView key, std::optional<T>& out)
{
    const QJsonValue value = object.value(key);
    if (absent(value))
        return true;
    auto decoded = T::fromJson(value);
    if (!decoded)
        return false;
    out = std::move(*decoded);
    return true;
}

} // namespace

std::optional<CodexRateLimitWindow> CodexRateLimitWindow::fromJson(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    CodexRateLimitWindow window;
    if (!readNumber(object, QLatin1StringView("usedPercent"), window.usedPercent) ||
        !readNumber(object, QLatin1StringView("windowDurationMins"), window.windowDurationMins))
        return std::nullopt;
    window.resetAt = JsonLines::decodeDate(object.value(QLatin1StringView("resetsAt")));
    return window;
}

std::optional<CodexRateLimitBucket> CodexRateLimitBucket::fromJson(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    CodexRateLimitBucket bucket;
    if (!readString(object, QLatin1StringView("limitId"), bucket.limitId) ||
        !readString(object, QLatin1StringView("limitName"), bucket.limitName) ||
        !readNested(object, QLatin1StringView("primary"), bucket.primary) ||
        !readNested(object, QLatin1StringView("secondary"), bucket.secondary) ||
        !readString(object, QLatin1StringView("planType"), bucket.planType) ||
        !readString(object, QLatin1StringView("rateLimitReachedType"), bucket.rateLimitReachedType))
        return std::nullopt;
    return bucket;
}

std::optional<CodexRateLimitsPayload> CodexRateLimitsPayload::fromJson(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    CodexRateLimitsPayload payload;
    if (!readNested(object, QLatin1StringView("rateLimits"), payload.rateLimits))
        return std::nullopt;
    const QJsonValue byId = object.value(QLatin1StringView("rateLimitsByLimitId"));
    if (!absent(byId)) {
        if (!byId.isObject())
            return std::nullopt;
        QMap<QString, CodexRateLimitBucket> buckets;
        const QJsonObject entries = byId.toObject();
        for (auto it = entries.begin(); it != entries.end(); ++it) {
            auto bucket = CodexRateLimitBucket::fromJson(it.value());
            if (!bucket)
                return std::nullopt;
            buckets.insert(it.key(), *bucket);
        }
        payload.rateLimitsByLimitId = std::move(buckets);
    }
    return payload;
}

QList<CodexRateLimitBucket> CodexRateLimitsPayload::allBuckets() const
{
    if (rateLimits)
        return {*rateLimits};
    if (!rateLimitsByLimitId || rateLimitsByLimitId->isEmpty())
        return {};
    const auto first = rateLimitsByLimitId->cbegin();
    CodexRateLimitBucket bucket = first.value();
    if (!bucket.limitId || bucket.limitId->isEmpty())
        bucket.limitId = first.key();
    return {bucket};
}
