#include "providers/claude/ClaudeUsageAnswer.h"

#include "core/text/JsonLines.h"

#include <QJsonValue>

#include <algorithm>
#include <array>

namespace {

struct WindowName
{
    QLatin1StringView name;
    WindowKind kind;
    double durationMins;
    QLatin1StringView limitName;
};

constexpr std::array windowNames{
    WindowName{QLatin1StringView("five_hour"), WindowKind::fiveHour, 300, QLatin1StringView("fiveHour")},
    WindowName{QLatin1StringView("current_session"), WindowKind::fiveHour, 300,
               QLatin1StringView("fiveHour")},
    WindowName{QLatin1StringView("session"), WindowKind::fiveHour, 300, QLatin1StringView("fiveHour")},
    WindowName{QLatin1StringView("seven_day"), WindowKind::sevenDay, 10080, QLatin1StringView("sevenDay")},
    WindowName{QLatin1StringView("weekly"), WindowKind::sevenDay, 10080, QLatin1StringView("sevenDay")},
    WindowName{QLatin1StringView("seven_day_overall"), WindowKind::sevenDay, 10080,
               QLatin1StringView("sevenDay")},
    WindowName{QLatin1StringView("seven_day_sonnet"), WindowKind::weekly, 10080,
               QLatin1StringView("Sonnet 7d")},
};

constexpr std::array percentKeys{QLatin1StringView("utilization"), QLatin1StringView("used_percentage"),
                                 QLatin1StringView("used_pct"), QLatin1StringView("percent_used")};

const WindowName* classify(const QString& name)
{
    for (const WindowName& candidate : windowNames) {
        if (name == candidate.name)
            return &candidate;
    }
    return nullptr;
}

std::optional<QDateTime> resetOf(const QJsonObject& window)
{
    return JsonLines::decodeDate(window.value(QLatin1StringView("resets_at")));
}

} // namespace

namespace ClaudeUsageAnswer {

QList<UsageSnapshot> snapshots(const QJsonObject& answer, const QDateTime& now)
{
    QList<std::pair<QString, QJsonObject>> candidates;
    for (auto it = answer.begin(); it != answer.end(); ++it) {
        if (it.value().isObject())
            candidates.append({it.key(), it.value().toObject()});
    }
    const qsizetype topLevel = candidates.size();
    for (qsizetype i = 0; i < topLevel; ++i) {
        const QJsonObject outer = candidates[i].second;
        for (auto it = outer.begin(); it != outer.end(); ++it) {
            if (it.value().isObject())
                candidates.append({it.key(), it.value().toObject()});
        }
    }

    QList<UsageSnapshot> result;
    for (const auto& [name, window] : std::as_const(candidates)) {
        const WindowName* known = classify(name);
        if (!known)
            continue;
        std::optional<double> used;
        for (const QLatin1StringView key : percentKeys) {
            const QJsonValue value = window.value(key);
            if (value.isDouble()) {
                used = value.toDouble();
                break;
            }
        }
        if (!used)
            continue;
        if (std::any_of(result.cbegin(), result.cend(),
                        [&](const UsageSnapshot& s) { return s.windowKind == known->kind; }))
            continue;
        const double clamped = std::clamp(*used, 0.0, 100.0);
        UsageSnapshot snapshot;
        snapshot.provider = Provider::claude;
        snapshot.timestamp = now;
        snapshot.windowKind = known->kind;
        snapshot.windowDurationMins = known->durationMins;
        snapshot.limitName = QString(known->limitName);
        snapshot.usedPercent = clamped;
        snapshot.remainingPercent = 100.0 - clamped;
        snapshot.resetAt = resetOf(window);
        snapshot.source = QStringLiteral("claude.oauth");
        snapshot.sourceConfidence = SourceConfidence::high;
        result.append(std::move(snapshot));
    }
    return result;
}

std::optional<ClaudeExtraUsage> extraUsage(const QJsonObject& answer)
{
    const QJsonValue member = answer.value(QLatin1StringView("extra_usage"));
    if (!member.isObject())
        return std::nullopt;
    const QJsonObject extra = member.toObject();
    ClaudeExtraUsage usage;
    const QJsonValue used = extra.value(QLatin1StringView("used_credits"));
    usage.usedGBP = used.isDouble() ? used.toDouble() / 100.0 : 0.0;
    usage.enabled = extra.value(QLatin1StringView("is_enabled")).toBool(false);
    const QJsonValue limit = extra.value(QLatin1StringView("monthly_limit"));
    if (limit.isDouble())
        usage.limitGBP = limit.toDouble() / 100.0;
    const QJsonValue currency = extra.value(QLatin1StringView("currency"));
    if (currency.isString())
        usage.currency = currency.toString();
    return usage;
}

} // namespace ClaudeUsageAnswer
