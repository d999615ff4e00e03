#pragma once

// The slow, obvious reading of a transcript that the fast scanner must match: the whole file in memory,
// split at line feeds, every line decoded by Qt's JSON parser, dates by JsonLines, days and hours by
// QDateTime. Shared by the tests and the scanner's fuzz target.

#include "core/model/Enums.h"
#include "core/text/JsonLines.h"
#include "history/FileEntry.h"
#include "history/Pricing.h"
#include "history/QuickClaudeReader.h"
#include "history/SaturatingMath.h"
#include "history/TranscriptLineDecoder.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTimeZone>
#include <QUtf8StringView>

#include <cmath>
#include <map>
#include <string>
#include <utility>
#include <vector>

struct ReferenceResult
{
    std::map<qint64, DayTotals> days;
    std::vector<std::pair<qint64, qint64>> claudeLines; // counted lines: time in ms, tokens
    qint64 consumed = 0;                                // bytes up to and including the last line feed
};

namespace ReferenceReader {

inline qint64 number(const QJsonObject& object, const QString& key)
{
    const QJsonValue value = object.value(key);
    if (!value.isDouble())
        return 0;
    const QVariant variant = value.toVariant();
    if (variant.typeId() == QMetaType::LongLong)
        return variant.toLongLong();
    const double d = value.toDouble();
    if (!std::isfinite(d) || d < -9223372036854775808.0 || d >= 9223372036854775808.0)
        return 0;
    return static_cast<qint64>(d);
}

inline std::optional<qint64> stamp(const QJsonObject& object)
{
    const QJsonValue value = object.value(QLatin1String("timestamp"));
    if (!value.isString())
        return std::nullopt;
    const auto date = JsonLines::parseDate(value.toString());
    return date ? std::optional<qint64>(date->toMSecsSinceEpoch()) : std::nullopt;
}

inline void addLine(std::map<qint64, DayTotals>& days, const QTimeZone& zone, qint64 atMs, qint64 tokens,
                    qint64 cost)
{
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(atMs, zone);
    const qint64 day = local.date().toJulianDay() - QDate(1970, 1, 1).toJulianDay();
    DayTotals& totals = days[day];
    totals.tokens = SaturatingMath::add(totals.tokens, tokens);
    totals.costNanos = SaturatingMath::add(totals.costNanos, cost);
    auto& hour = totals.hours[static_cast<std::size_t>(local.time().hour())];
    hour = SaturatingMath::add(hour, tokens);
}

inline ReferenceResult read(QByteArrayView file, Provider provider, const QTimeZone& zone,
                            qsizetype maxLine = 64 << 20)
{
    using SaturatingMath::add;
    ReferenceResult result;
    QSet<QPair<QString, QString>> counted;
    std::optional<std::array<qint64, 5>> previousTotal;
    qsizetype start = 0;
    for (;;) {
        const qsizetype end = file.indexOf('\n', start);
        if (end < 0)
            break;
        QByteArrayView line = file.sliced(start, end - start);
        result.consumed = end + 1;
        start = end + 1;
        if (line.size() > maxLine)
            continue;
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty() || !QUtf8StringView(line).isValidUtf8())
            continue;
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(line.toByteArray(), &error);
        if (error.error != QJsonParseError::NoError || !document.isObject())
            continue;
        const QJsonObject root = document.object();
        if (provider == Provider::claude) {
            const auto at = stamp(root);
            const QJsonObject message = root.value(QLatin1String("message")).toObject();
            QJsonValue usageValue = message.value(QLatin1String("usage"));
            if (!usageValue.isObject())
                usageValue = root.value(QLatin1String("usage"));
            if (!at || !usageValue.isObject())
                continue;
            const QJsonObject usage = usageValue.toObject();
            const qint64 in = number(usage, QStringLiteral("input_tokens"));
            const qint64 out = number(usage, QStringLiteral("output_tokens"));
            const qint64 read = number(usage, QStringLiteral("cache_read_input_tokens"));
            const qint64 create = number(usage, QStringLiteral("cache_creation_input_tokens"));
            const qint64 total = add(add(in, out), add(read, create));
            if (total <= 0)
                continue;
            const QString id = message.value(QLatin1String("id")).toString();
            const QString request = root.value(QLatin1String("requestId")).toString();
            if (!id.isEmpty() && !request.isEmpty()) {
                if (counted.contains({id, request}))
                    continue;
                counted.insert({id, request});
            }
            QJsonValue model = message.value(QLatin1String("model"));
            if (!model.isString())
                model = root.value(QLatin1String("model"));
            const QByteArray modelName = model.toString().toUtf8();
            addLine(result.days, zone, *at, total,
                    Pricing::claudeCostNanos(std::string_view(modelName.constData(), modelName.size()), in,
                                             out, read, create));
            result.claudeLines.emplace_back(*at, total);
        } else {
            const QJsonObject payload = root.value(QLatin1String("payload")).toObject();
            const QJsonValue info = payload.value(QLatin1String("info"));
            if (payload.value(QLatin1String("type")).toString() != QLatin1String("token_count") ||
                !info.isObject())
                continue;
            const auto counts = [](const QJsonObject& u) {
                return std::array<qint64, 5>{number(u, QStringLiteral("input_tokens")),
                                             number(u, QStringLiteral("cached_input_tokens")),
                                             number(u, QStringLiteral("output_tokens")),
                                             number(u, QStringLiteral("reasoning_output_tokens")),
                                             number(u, QStringLiteral("total_tokens"))};
            };
            const QJsonValue totalValue = info.toObject().value(QLatin1String("total_token_usage"));
            if (totalValue.isObject()) {
                const auto total = counts(totalValue.toObject());
                const bool repeated = previousTotal == total;
                previousTotal = total;
                if (repeated)
                    continue;
            }
            const QJsonValue lastValue = info.toObject().value(QLatin1String("last_token_usage"));
            const auto at = stamp(root);
            if (!at || !lastValue.isObject())
                continue;
            const auto last = counts(lastValue.toObject());
            if (last[4] <= 0)
                continue;
            addLine(result.days, zone, *at, last[4], Pricing::codexCostNanos(last[0], last[1], last[2]));
        }
    }
    return result;
}

// Whether the quick reading of a Claude line is the parser's wherever it answers, the ids it asks about
// included. `answered` tells whether it did.
inline bool quickReadingAgrees(std::string_view line, bool* answered = nullptr)
{
    static TranscriptLineDecoder decoder;
    std::optional<std::pair<std::string, std::string>> asked;
    const auto quick =
        QuickClaudeReader::read(line, [&](std::string_view messageId, std::string_view requestId) {
            asked.emplace(messageId, requestId);
            return false;
        });
    const auto parsed = decoder.claude(line, false);
    if (answered)
        *answered = quick.outcome != QuickClaudeReader::Outcome::unsure;
    if (parsed && asked && (asked->first != parsed->messageId || asked->second != parsed->requestId))
        return false;
    switch (quick.outcome) {
    case QuickClaudeReader::Outcome::counts: {
        const TranscriptLine::Claude& q = quick.line;
        return parsed && q.atMs == parsed->atMs && q.input == parsed->input && q.output == parsed->output &&
               q.cacheRead == parsed->cacheRead && q.cacheCreation == parsed->cacheCreation &&
               q.model == parsed->model && q.messageId == parsed->messageId &&
               q.requestId == parsed->requestId;
    }
    case QuickClaudeReader::Outcome::countsNot:
        return !parsed;
    case QuickClaudeReader::Outcome::repeat: // nothing was counted
        return false;
    case QuickClaudeReader::Outcome::unsure:
        return true;
    }
    return false;
}

} // namespace ReferenceReader
