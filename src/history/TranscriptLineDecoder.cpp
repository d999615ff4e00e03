#include "history/TranscriptLineDecoder.h"

#include "history/SaturatingMath.h"
#include "history/TranscriptTime.h"

#include <cmath>
#include <cstring>

namespace {

using simdjson::dom::element;
using simdjson::dom::element_type;
using simdjson::dom::object;

// A line above this size is parsed by a parser of its own, so the everyday one stays small.
constexpr std::size_t largeLine = 4u << 20;

// An integer as it is, a fraction truncated toward zero; anything else (or out of range) counts as 0.
qint64 coerce(const object& parent, std::string_view key)
{
    element value;
    if (parent.at_key(key).get(value))
        return 0;
    switch (value.type()) {
    case element_type::INT64:
        return value.get_int64().value_unsafe();
    case element_type::DOUBLE: {
        const double d = value.get_double().value_unsafe();
        if (!std::isfinite(d) || d < -9223372036854775808.0 || d >= 9223372036854775808.0)
            return 0;
        return static_cast<qint64>(d);
    }
    default: // an unsigned beyond the signed range, a string, ...
        return 0;
    }
}

std::string_view stringAt(const object& parent, std::string_view key)
{
    std::string_view text;
    if (parent.at_key(key).get_string().get(text))
        return {};
    return text;
}

std::optional<object> objectAt(const object& parent, std::string_view key)
{
    object child;
    if (parent.at_key(key).get_object().get(child))
        return std::nullopt;
    return child;
}

std::optional<TranscriptLine::CodexCounts> codexCounts(const object& info, std::string_view key)
{
    const auto counts = objectAt(info, key);
    if (!counts)
        return std::nullopt;
    return TranscriptLine::CodexCounts{
        coerce(*counts, "input_tokens"), coerce(*counts, "cached_input_tokens"),
        coerce(*counts, "output_tokens"), coerce(*counts, "reasoning_output_tokens"),
        coerce(*counts, "total_tokens")};
}

bool contains(std::string_view line, std::string_view needle)
{
    return memmem(line.data(), line.size(), needle.data(), needle.size()) != nullptr;
}

} // namespace

namespace TranscriptLine {

bool mayBeClaudeUsage(std::string_view line)
{
    return contains(line, "usage\"") || contains(line, "\\u");
}

bool mayBeCodexTokenCount(std::string_view line)
{
    return contains(line, "token_count") || contains(line, "\\u");
}

} // namespace TranscriptLine

TranscriptLineDecoder::TranscriptLineDecoder() = default;

simdjson::simdjson_result<element> TranscriptLineDecoder::parse(std::string_view line, bool padded)
{
    if (line.size() > largeLine) {
        m_large = std::make_unique<simdjson::dom::parser>();
        return m_large->parse(line.data(), line.size(), !padded);
    }
    m_large.reset();
    return m_parser.parse(line.data(), line.size(), !padded);
}

std::optional<TranscriptLine::Claude> TranscriptLineDecoder::claude(std::string_view line, bool padded)
{
    object root;
    if (parse(line, padded).get_object().get(root))
        return std::nullopt;
    std::string_view stamp;
    if (root.at_key("timestamp").get_string().get(stamp))
        return std::nullopt;
    const auto atMs = TranscriptTime::parseMs(stamp);
    if (!atMs)
        return std::nullopt;
    const auto message = objectAt(root, "message");
    std::optional<object> usage;
    if (message)
        usage = objectAt(*message, "usage");
    if (!usage)
        usage = objectAt(root, "usage");
    if (!usage)
        return std::nullopt;

    TranscriptLine::Claude result;
    result.atMs = *atMs;
    result.input = coerce(*usage, "input_tokens");
    result.output = coerce(*usage, "output_tokens");
    result.cacheRead = coerce(*usage, "cache_read_input_tokens");
    result.cacheCreation = coerce(*usage, "cache_creation_input_tokens");
    if (message) {
        element model;
        if (!message->at_key("model").get(model) && model.is_string())
            result.model = model.get_string().value_unsafe();
        else
            result.model = stringAt(root, "model");
        result.messageId = stringAt(*message, "id");
    } else {
        result.model = stringAt(root, "model");
    }
    result.requestId = stringAt(root, "requestId");
    return result;
}

std::optional<TranscriptLine::Codex> TranscriptLineDecoder::codex(std::string_view line, bool padded)
{
    object root;
    if (parse(line, padded).get_object().get(root))
        return std::nullopt;
    const auto payload = objectAt(root, "payload");
    if (!payload || stringAt(*payload, "type") != "token_count")
        return std::nullopt;
    const auto info = objectAt(*payload, "info");
    if (!info)
        return std::nullopt;
    TranscriptLine::Codex result;
    std::string_view stamp;
    if (!root.at_key("timestamp").get_string().get(stamp))
        result.atMs = TranscriptTime::parseMs(stamp);
    result.total = codexCounts(*info, "total_token_usage");
    result.last = codexCounts(*info, "last_token_usage");
    return result;
}
