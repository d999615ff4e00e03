#include "history/TranscriptLineDecoder.h"

#include "history/SaturatingMath.h"
#include "history/TranscriptTime.h"

#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

using simdjson::dom::element;
using simdjson::dom::element_type;
using simdjson::dom::object;

// A line above this size is parsed by a parser of its own, so the everyday one stays small.
constexpr std::size_t largeLine = 4u << 20;

// An integer as it is, a fraction truncated toward zero; anything else (or out of range) counts as 0.
qint64 number(element value)
{
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

qint64 coerce(const object& parent, std::string_view key)
{
    element value;
    return parent.at_key(key).get(value) ? 0 : number(value);
}

// The first of repeated keys counts.
void take(std::optional<element>& slot, element value)
{
    if (!slot)
        slot = value;
}

std::string_view text(const std::optional<element>& value)
{
    std::string_view result;
    if (!value || value->get_string().get(result))
        return {};
    return result;
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

// Whether `line` holds `word` or the escape start "\u" (with which a key can spell any word). Searched from
// the end, because the usage object and the token counts close the lines that carry them, and sixteen
// positions at a time: a position is a candidate when the first and the last byte of the word both match
// there, as in Wojciech Mula's SIMD substring search; glibc's memmem is several times slower on the long runs
// of text that transcripts are made of.
bool containsWordOrEscape(std::string_view line, std::string_view word)
{
    const char* p = line.data();
    const std::size_t n = line.size();
    const std::size_t last = word.size() - 1;
    const auto escapeAt = [&](std::size_t i) { return p[i] == '\\' && i + 1 < n && p[i + 1] == 'u'; };
    const auto wordAt = [&](std::size_t i) {
        return i + last < n && p[i] == word.front() && std::memcmp(p + i, word.data(), word.size()) == 0;
    };
    // Positions from `top` up are decided; those past n - word.size() can only start an escape.
    std::size_t top = n;
    for (; top > 0 && top + last > n; --top) {
        if (escapeAt(top - 1))
            return true;
    }
#if defined(__SSE2__)
    const __m128i first = _mm_set1_epi8(word.front());
    const __m128i final = _mm_set1_epi8(word.back());
    const __m128i backslash = _mm_set1_epi8('\\');
    const __m128i u = _mm_set1_epi8('u');
    for (; top >= 16; top -= 16) {
        const std::size_t i = top - 16;
        const __m128i head = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const __m128i tail = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + last));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 1));
        if (_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(head, backslash), _mm_cmpeq_epi8(next, u))))
            return true;
        auto mask = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(head, first), _mm_cmpeq_epi8(tail, final))));
        for (; mask; mask &= mask - 1) {
            if (std::memcmp(p + i + static_cast<std::size_t>(__builtin_ctz(mask)), word.data(),
                            word.size()) == 0)
                return true;
        }
    }
#endif
    for (; top > 0; --top) {
        if (escapeAt(top - 1) || wordAt(top - 1))
            return true;
    }
    return false;
}

} // namespace

namespace TranscriptLine {

bool mayBeClaudeUsage(std::string_view line)
{
    return containsWordOrEscape(line, "usage\"");
}

bool mayBeCodexTokenCount(std::string_view line)
{
    return containsWordOrEscape(line, "token_count");
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
    // One pass over each object instead of a lookup per key; the first of repeated keys counts, as a lookup
    // would find it.
    std::optional<element> stamp, message, usage, model, requestId;
    for (const auto field : root) {
        if (field.key == "timestamp")
            take(stamp, field.value);
        else if (field.key == "message")
            take(message, field.value);
        else if (field.key == "usage")
            take(usage, field.value);
        else if (field.key == "model")
            take(model, field.value);
        else if (field.key == "requestId")
            take(requestId, field.value);
    }
    std::string_view stampText;
    if (!stamp || stamp->get_string().get(stampText))
        return std::nullopt;
    const auto atMs = TranscriptTime::parseMs(stampText);
    if (!atMs)
        return std::nullopt;

    std::optional<element> innerUsage, innerModel, messageId;
    object messageObject;
    const bool hasMessage = message && !message->get_object().get(messageObject);
    if (hasMessage) {
        for (const auto field : messageObject) {
            if (field.key == "usage")
                take(innerUsage, field.value);
            else if (field.key == "model")
                take(innerModel, field.value);
            else if (field.key == "id")
                take(messageId, field.value);
        }
    }
    object usageObject;
    if ((!innerUsage || innerUsage->get_object().get(usageObject)) &&
        (!usage || usage->get_object().get(usageObject)))
        return std::nullopt;

    std::optional<element> input, output, cacheRead, cacheCreation;
    for (const auto field : usageObject) {
        if (field.key == "input_tokens")
            take(input, field.value);
        else if (field.key == "output_tokens")
            take(output, field.value);
        else if (field.key == "cache_read_input_tokens")
            take(cacheRead, field.value);
        else if (field.key == "cache_creation_input_tokens")
            take(cacheCreation, field.value);
    }
    const auto count = [](const std::optional<element>& value) { return value ? number(*value) : 0; };
    TranscriptLine::Claude result;
    result.atMs = *atMs;
    result.input = count(input);
    result.output = count(output);
    result.cacheRead = count(cacheRead);
    result.cacheCreation = count(cacheCreation);
    result.model = text(hasMessage && innerModel && innerModel->is_string() ? innerModel : model);
    if (hasMessage)
        result.messageId = text(messageId);
    result.requestId = text(requestId);
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
