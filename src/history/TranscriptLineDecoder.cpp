#include "history/TranscriptLineDecoder.h"

#include "history/SaturatingMath.h"
#include "history/Simd.h"
#include "history/TranscriptTime.h"

#include <cmath>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

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

#if defined(__x86_64__)
__attribute__((target("avx2"))) bool wordOrEscapeInBlocks(const char* p, std::size_t& top,
                                                          std::string_view word)
{
    const std::size_t last = word.size() - 1;
    const __m256i first = _mm256_set1_epi8(word.front());
    const __m256i final = _mm256_set1_epi8(word.back());
    const __m256i backslash = _mm256_set1_epi8('\\');
    const __m256i u = _mm256_set1_epi8('u');
    for (; top >= 32; top -= 32) {
        const std::size_t i = top - 32;
        const __m256i head = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
        // Runs of text hold neither a backslash nor the word's last byte (for the Claude word, a quote): such
        // a block is passed over before the compares that find where a word starts.
        const __m256i tail = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i + last));
        const __m256i backslashes = _mm256_cmpeq_epi8(head, backslash);
        const __m256i finals = _mm256_cmpeq_epi8(tail, final);
        if (!_mm256_movemask_epi8(_mm256_or_si256(backslashes, finals)))
            continue;
        const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i + 1));
        const __m256i escapes = _mm256_and_si256(backslashes, _mm256_cmpeq_epi8(next, u));
        const __m256i words = _mm256_and_si256(_mm256_cmpeq_epi8(head, first), finals);
        auto mask = static_cast<unsigned>(_mm256_movemask_epi8(_mm256_or_si256(escapes, words)));
        for (; mask; mask &= mask - 1) {
            const char* at = p + i + static_cast<std::size_t>(__builtin_ctz(mask));
            if (at[0] == '\\' || std::memcmp(at, word.data(), word.size()) == 0)
                return true;
        }
    }
    return false;
}
#endif

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
#if defined(__x86_64__)
    if (Simd::hasAvx2() && wordOrEscapeInBlocks(p, top, word))
        return true;
#endif
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
