#pragma once

// Transcript lines shaped like the ones Claude Code and Codex write, and seeded random transcripts mixing
// them with the quirks a scanner meets: replies written once per content block, repeated Codex events,
// invalid UTF-8, raw U+2028 in text, CRLF, blank and broken lines, lines longer than a read chunk.

#include "core/text/Zone.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <optional>
#include <random>

namespace Corpus {

struct ClaudeUsage
{
    qint64 input = 0;
    qint64 output = 0;
    qint64 cacheRead = 0;
    qint64 cacheCreation = 0;
};

struct CodexCounts
{
    qint64 input = 0;
    qint64 cached = 0;
    qint64 output = 0;
    qint64 reasoning = 0;
    qint64 total = 0;
};

inline QString stamp(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Zone::utc())
        .toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"));
}

inline QByteArray line(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

inline QJsonObject usageObject(const ClaudeUsage& u)
{
    return {{"input_tokens", u.input},
            {"cache_creation_input_tokens", u.cacheCreation},
            {"cache_read_input_tokens", u.cacheRead},
            {"output_tokens", u.output},
            {"cache_creation",
             QJsonObject{{"ephemeral_5m_input_tokens", u.cacheCreation}, {"ephemeral_1h_input_tokens", 0}}},
            {"service_tier", "standard"}};
}

// One content block of an assistant reply, as Claude Code writes it.
inline QJsonObject claudeReply(qint64 ms, const QString& messageId, const QString& requestId,
                               const QString& model, const ClaudeUsage& usage,
                               const QString& text = QStringLiteral("Done."))
{
    QJsonObject message{{"id", messageId},
                        {"type", "message"},
                        {"role", "assistant"},
                        {"model", model},
                        {"content", QJsonArray{QJsonObject{{"type", "text"}, {"text", text}}}},
                        {"usage", usageObject(usage)}};
    QJsonObject object{
        {"parentUuid", "0b4f-parent"}, {"isSidechain", false},        {"userType", "external"},
        {"cwd", "/home/user/project"}, {"sessionId", "5e55-session"}, {"version", "2.1.332"},
        {"type", "assistant"},         {"message", message},          {"timestamp", stamp(ms)}};
    if (!requestId.isEmpty())
        object.insert(QStringLiteral("requestId"), requestId);
    return object;
}

inline QJsonObject claudeUser(qint64 ms, const QString& text)
{
    return {{"parentUuid", QJsonValue::Null}, {"type", "user"},
            {"sessionId", "5e55-session"},    {"version", "2.1.332"},
            {"cwd", "/home/user/project"},    {"message", QJsonObject{{"role", "user"}, {"content", text}}},
            {"timestamp", stamp(ms)}};
}

inline QJsonObject codexCounts(const CodexCounts& c)
{
    return {{"input_tokens", c.input},
            {"cached_input_tokens", c.cached},
            {"output_tokens", c.output},
            {"reasoning_output_tokens", c.reasoning},
            {"total_tokens", c.total}};
}

inline QJsonObject codexMeta(qint64 ms)
{
    return {
        {"timestamp", stamp(ms)},
        {"type", "session_meta"},
        {"payload",
         QJsonObject{{"id", "0199-session"}, {"cwd", "/home/user/project"}, {"originator", "codex_cli_rs"}}}};
}

inline QJsonObject codexTurn(qint64 ms)
{
    return {{"timestamp", stamp(ms)},
            {"type", "turn_context"},
            {"payload", QJsonObject{{"cwd", "/home/user/project"}, {"model", "gpt-5-codex"}}}};
}

// A token_count event; without totals its info is null, as Codex writes before the first reply.
inline QJsonObject codexTokenCount(qint64 ms, std::optional<CodexCounts> total,
                                   std::optional<CodexCounts> last)
{
    QJsonValue info = QJsonValue::Null;
    if (total || last) {
        QJsonObject object;
        if (total)
            object.insert(QStringLiteral("total_token_usage"), codexCounts(*total));
        if (last)
            object.insert(QStringLiteral("last_token_usage"), codexCounts(*last));
        object.insert(QStringLiteral("model_context_window"), 272000);
        info = object;
    }
    return {{"timestamp", stamp(ms)},
            {"type", "event_msg"},
            {"payload",
             QJsonObject{{"type", "token_count"},
                         {"info", info},
                         {"rate_limits", QJsonObject{{"primary", QJsonObject{{"used_percent", 12.5}}}}}}}};
}

// A transcript of about `steps` events from `startMs` on, deterministic for a seed.
inline QByteArray randomTranscript(quint32 seed, bool claude, int steps, qint64 startMs)
{
    std::mt19937 rng(seed);
    const auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    QByteArray out;
    qint64 ms = startMs;
    CodexCounts running;
    const QStringList models{QStringLiteral("claude-sonnet-4-5-20250929"),
                             QStringLiteral("claude-opus-4-1-20250805"),
                             QStringLiteral("claude-3-5-HAIKU-20241022"), QStringLiteral("<synthetic>")};
    const auto text = [&]() {
        QString t = QStringLiteral("Edit the parser");
        switch (pick(6)) {
        case 0:
            t += QChar(0x2028) + QStringLiteral("next paragraph") + QChar(0x2029);
            break;
        case 1:
            t += QString(pick(40) == 0 ? 300000 : 3000 + pick(3000), QLatin1Char('x'));
            break; // beyond a chunk
        case 2:
            t += QStringLiteral("\r\n\"quoted\" \\ \u00e9\u4e2d\U0001F600");
            break;
        default:
            break;
        }
        return t;
    };
    for (int step = 0; step < steps; ++step) {
        ms += 1000 + pick(4 * 3600 * 1000 / std::max(1, steps / 8)); // crosses several midnights
        const int kind = pick(12);
        if (claude) {
            if (kind < 3) {
                out += line(claudeUser(ms, text()));
            } else if (kind < 8) {
                const ClaudeUsage usage{pick(500), pick(3000) + (kind == 7 ? 0 : 1), pick(200000),
                                        pick(20000)};
                const QString id = QStringLiteral("msg_%1").arg(pick(40)); // some ids recur in later replies
                const QString request = kind == 6 ? QString() : QStringLiteral("req_%1").arg(pick(40));
                const QString& model = models[pick(models.size())];
                const int blocks = 1 + pick(3);
                for (int b = 0; b < blocks; ++b)
                    out += line(claudeReply(ms + b, id, request, model, usage, text()));
                if (pick(4) == 0) {
                    // The same ids nested, in a key that only ends with the name, or in the top-level key
                    // spelled with an escape (which makes the line a repeat).
                    QJsonObject other = claudeReply(ms, id, QString(), model, usage);
                    QJsonObject message = other.value(QLatin1String("message")).toObject();
                    message.insert(QStringLiteral("requestId"), request);
                    other.insert(QStringLiteral("message"), message);
                    const int variant = pick(3);
                    if (variant > 0)
                        other.insert(variant == 1 ? QStringLiteral("x\"requestId")
                                                  : QStringLiteral("ESCAPED"),
                                     request);
                    out += line(other).replace("\"ESCAPED\"", "\"request\\u0049d\"");
                }
            } else if (kind == 8) {
                ClaudeUsage zero;
                out += line(claudeReply(ms, QStringLiteral("msg_z%1").arg(step), QStringLiteral("req_z"),
                                        models[0], zero));
            } else if (kind == 9) {
                // A reply that would count but carries an invalid byte: dropped alone.
                QByteArray bad =
                    line(claudeReply(ms, QStringLiteral("msg_bad%1").arg(step), QStringLiteral("r"),
                                     models[0], {10, 10, 10, 10}, QStringLiteral("BADBYTE")));
                bad.replace("BADBYTE", "\xff\xfe");
                out += bad;
            } else if (kind == 10) {
                QJsonObject top{
                    {"timestamp", stamp(ms)}, {"model", models[1]}, {"usage", usageObject({5, 7, 0, 0})}};
                out += line(top);
                out.insert(out.size() - 1, '\r'); // CRLF
            } else {
                const char* odd[] = {
                    "\n", "{\"timestamp\":\"2025-13-01T00:00:00Z\",\"usage\":{\"input_tokens\":5}}\n",
                    "{\"timestamp\":\"2025-06-01T00:00:00Z\",\"usage\":{\"input_tokens\":5}",
                    "not json at all\n", "[1,2,3]\n",
                    "{\"timestamp\":\"2025-06-01T10:00:00+05:30\",\"usage\":{\"output_tokens\":2.9}}\n",
                    // Offsets no zone has: not a date.
                    "{\"timestamp\":\"2025-06-01T10:00:00+05:70\",\"usage\":{\"output_tokens\":3}}\n",
                    "{\"timestamp\":\"2025-06-01T10:00:00-18:01\",\"usage\":{\"output_tokens\":3}}\n"};
                out += odd[pick(std::size(odd))];
                if (!out.endsWith('\n'))
                    out += '\n';
            }
        } else {
            if (kind < 2) {
                out += line(kind == 0 ? codexMeta(ms) : codexTurn(ms));
            } else if (kind < 4) {
                out += line(codexTokenCount(ms, std::nullopt, std::nullopt));
            } else if (kind < 10) {
                const CodexCounts last{1000 + pick(5000), pick(800), 10 + pick(500), pick(50), 0};
                CodexCounts withTotal = last;
                withTotal.total = last.input + last.output;
                running.input += withTotal.input;
                running.cached += withTotal.cached;
                running.output += withTotal.output;
                running.reasoning += withTotal.reasoning;
                running.total += withTotal.total;
                out += line(codexTokenCount(ms, running, withTotal));
                if (kind == 9) // the same event written twice
                    out += line(codexTokenCount(ms + 5, running, withTotal));
            } else if (kind == 10) {
                out += line(codexTokenCount(ms, std::nullopt, CodexCounts{10, 0, 5, 0, 15}));
            } else {
                QByteArray bad = line(codexTokenCount(ms, std::nullopt, CodexCounts{1, 0, 1, 0, 2}));
                bad.replace("event_msg", "event\xc3\x28msg");
                out += bad;
            }
        }
    }
    if (pick(2) == 0) // a last line still being written
        out += "{\"timestamp\":\"" + stamp(ms + 1000).toUtf8() + "\",\"usage\":{\"input_tokens\":";
    return out;
}

} // namespace Corpus
