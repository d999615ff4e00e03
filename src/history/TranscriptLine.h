#pragma once

#include <QtGlobal>

#include <optional>
#include <string_view>

// What one transcript line says about usage, read by TranscriptLineDecoder.
namespace TranscriptLine {

// A Claude Code line with a readable timestamp and a usage object ("message"."usage", else the top-level
// "usage"). The views point into the line or the decoder and last until either changes.
struct Claude
{
    qint64 atMs = 0;
    qint64 input = 0;
    qint64 output = 0;
    qint64 cacheRead = 0;
    qint64 cacheCreation = 0;
    std::string_view model;     // "message"."model", else the top-level "model"; empty when neither
    std::string_view messageId; // "message"."id"; empty when absent or not a string
    std::string_view requestId; // top-level "requestId"
};

struct CodexCounts
{
    qint64 input = 0;
    qint64 cachedInput = 0;
    qint64 output = 0; // includes the reasoning tokens
    qint64 reasoningOutput = 0;
    qint64 total = 0;
    bool operator==(const CodexCounts&) const = default;
};

// A Codex "event_msg" line whose payload is a "token_count" event with an "info" object.
struct Codex
{
    std::optional<qint64> atMs;
    std::optional<CodexCounts> total; // info.total_token_usage
    std::optional<CodexCounts> last;  // info.last_token_usage
};

// Byte tests that every line able to count passes; a key written with \u escapes passes too.
bool mayBeClaudeUsage(std::string_view line);
bool mayBeCodexTokenCount(std::string_view line);

} // namespace TranscriptLine
