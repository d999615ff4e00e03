#include "core/model/UsageSnapshot.h"

#include "core/text/JsonLines.h"
#include "core/text/TerminalText.h"

#include <QJsonValue>

#include <cmath>

namespace {

// Reads one optional member: absent or null leaves `out` empty; a value of the wrong type fails.
bool readOptionalString(const QJsonObject& object, QLatin1StringView key, OptionalText& out)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull())
        return true;
    if (!value.isString())
        return false;
    // Names from outside (Claude Code, a server, another writer of the log) never carry a control into a
    // face.
    out = TerminalText::name(value.toString());
    return true;
}

bool readOptionalDouble(const QJsonObject& object, QLatin1StringView key, std::optional<double>& out)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull())
        return true;
    if (!value.isDouble())
        return false;
    out = value.toDouble();
    return true;
}

bool readOptionalDate(const QJsonObject& object, QLatin1StringView key, std::optional<QDateTime>& out)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull())
        return true;
    out = JsonLines::decodeDate(value);
    return out.has_value();
}

template <typename E> bool readEnum(const QJsonObject& object, QLatin1StringView key, E& out)
{
    const QJsonValue value = object.value(key);
    if (!value.isString())
        return false;
    const auto decoded = fromRawValue<E>(value.toString());
    if (!decoded)
        return false;
    out = *decoded;
    return true;
}

void putOptional(QJsonObject& object, QLatin1StringView key, const OptionalText& value)
{
    if (value)
        object.insert(key, TerminalText::name(*value));
}

} // namespace

QString UsageSnapshot::windowLabel() const
{
    if (windowDurationMins && *windowDurationMins > 0) {
        const double hours = *windowDurationMins / 60.0;
        if (hours < 24)
            return QString::number(std::llround(hours)) + QLatin1Char('h');
        return QString::number(std::llround(hours / 24.0)) + QLatin1Char('d');
    }
    return shortLabel(windowKind);
}

QJsonObject UsageSnapshot::toJson() const
{
    QJsonObject object;
    object.insert(QLatin1StringView("id"), id.toString(QUuid::WithoutBraces).toUpper());
    object.insert(QLatin1StringView("provider"), rawValue(provider));
    object.insert(QLatin1StringView("timestamp"), JsonLines::formatDate(timestamp));
    object.insert(QLatin1StringView("windowKind"), rawValue(windowKind));
    object.insert(QLatin1StringView("usedPercent"), usedPercent);
    object.insert(QLatin1StringView("remainingPercent"), remainingPercent);
    if (resetAt)
        object.insert(QLatin1StringView("resetAt"), JsonLines::formatDate(*resetAt));
    if (windowDurationMins)
        object.insert(QLatin1StringView("windowDurationMins"), *windowDurationMins);
    putOptional(object, QLatin1StringView("limitId"), limitId);
    putOptional(object, QLatin1StringView("limitName"), limitName);
    putOptional(object, QLatin1StringView("modelId"), modelId);
    putOptional(object, QLatin1StringView("modelDisplayName"), modelDisplayName);
    putOptional(object, QLatin1StringView("effortLevel"), effortLevel);
    if (thinkingEnabled)
        object.insert(QLatin1StringView("thinkingEnabled"), *thinkingEnabled);
    putOptional(object, QLatin1StringView("speedMode"), speedMode);
    putOptional(object, QLatin1StringView("planType"), planType);
    putOptional(object, QLatin1StringView("rateLimitReachedType"), rateLimitReachedType);
    object.insert(QLatin1StringView("source"), TerminalText::clean(source));
    object.insert(QLatin1StringView("sourceConfidence"), rawValue(sourceConfidence));
    putOptional(object, QLatin1StringView("account"), account);
    return object;
}

std::optional<UsageSnapshot> UsageSnapshot::fromJson(const QJsonObject& object)
{
    UsageSnapshot s;
    const QJsonValue id = object.value(QLatin1StringView("id"));
    if (!id.isString())
        return std::nullopt;
    s.id = QUuid::fromString(id.toString());
    if (s.id.isNull())
        return std::nullopt;

    const auto timestamp = JsonLines::decodeDate(object.value(QLatin1StringView("timestamp")));
    if (!timestamp)
        return std::nullopt;
    s.timestamp = *timestamp;

    const QJsonValue used = object.value(QLatin1StringView("usedPercent"));
    const QJsonValue remaining = object.value(QLatin1StringView("remainingPercent"));
    const QJsonValue source = object.value(QLatin1StringView("source"));
    if (!used.isDouble() || !remaining.isDouble() || !source.isString())
        return std::nullopt;
    s.usedPercent = used.toDouble();
    s.remainingPercent = remaining.toDouble();
    s.source = TerminalText::clean(source.toString());

    if (!readEnum(object, QLatin1StringView("provider"), s.provider) ||
        !readEnum(object, QLatin1StringView("windowKind"), s.windowKind) ||
        !readEnum(object, QLatin1StringView("sourceConfidence"), s.sourceConfidence))
        return std::nullopt;

    const QJsonValue thinking = object.value(QLatin1StringView("thinkingEnabled"));
    if (thinking.isBool())
        s.thinkingEnabled = thinking.toBool();
    else if (!thinking.isUndefined() && !thinking.isNull())
        return std::nullopt;

    const bool optionalsOk =
        readOptionalDate(object, QLatin1StringView("resetAt"), s.resetAt) &&
        readOptionalDouble(object, QLatin1StringView("windowDurationMins"), s.windowDurationMins) &&
        readOptionalString(object, QLatin1StringView("limitId"), s.limitId) &&
        readOptionalString(object, QLatin1StringView("limitName"), s.limitName) &&
        readOptionalString(object, QLatin1StringView("modelId"), s.modelId) &&
        readOptionalString(object, QLatin1StringView("modelDisplayName"), s.modelDisplayName) &&
        readOptionalString(object, QLatin1StringView("effortLevel"), s.effortLevel) &&
        readOptionalString(object, QLatin1StringView("speedMode"), s.speedMode) &&
        readOptionalString(object, QLatin1StringView("planType"), s.planType) &&
        readOptionalString(object, QLatin1StringView("rateLimitReachedType"), s.rateLimitReachedType) &&
        readOptionalString(object, QLatin1StringView("account"), s.account);
    if (!optionalsOk)
        return std::nullopt;
    return s;
}
