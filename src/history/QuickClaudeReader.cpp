#include "history/QuickClaudeReader.h"

#include "history/Simd.h"
#include "history/TranscriptTime.h"

#include <simdjson.h>

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr int maxDepth = 64;  // far below the full parser's limit, so all it refuses is left to it
constexpr int maxDigits = 18; // an integer this long fits 64 bits, a fraction this long a double

#if defined(__x86_64__)
// Past the 32-byte blocks from `at` that hold no quote, backslash or control byte (nor, with `high`, a byte
// of 0x80 and up): to the first block that does, or to where less than a block is left.
__attribute__((target("avx2"))) const char* skipPlainBlocks(const char* at, const char* end, bool high)
{
    const __m256i quote = _mm256_set1_epi8('"');
    const __m256i backslash = _mm256_set1_epi8('\\');
    const __m256i control = _mm256_set1_epi8(0x1f);
    const unsigned highMask = high ? ~0u : 0u;
    for (; end - at >= 32; at += 32) {
        const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
        const __m256i special = _mm256_or_si256(
            _mm256_or_si256(_mm256_cmpeq_epi8(bytes, quote), _mm256_cmpeq_epi8(bytes, backslash)),
            _mm256_cmpeq_epi8(_mm256_max_epu8(bytes, control), control));
        if (static_cast<unsigned>(_mm256_movemask_epi8(special)) |
            (static_cast<unsigned>(_mm256_movemask_epi8(bytes)) & highMask))
            break;
    }
    return at;
}
#endif

enum class Level
{
    root,
    message,
    usage,
    other
};

// The first of repeated keys is the one read, as the decoder's lookups find it.
struct StringSlot
{
    bool seen = false;
    bool isString = false;
    std::string_view text;
};

struct NumberSlot
{
    bool seen = false;
    qint64 value = 0; // what the decoder counts: 0 for anything but a number
};

struct UsageSlot
{
    bool seen = false;
    bool isObject = false;
    NumberSlot input, output, cacheRead, cacheCreation;
};

// The walk passes its position from call to call, so that it stays in a register instead of making a
// round trip through memory at every token; a null position is a line it gives no answer for.
class Walker
{
public:
    Walker(std::string_view line, const QuickClaudeReader::Counted& counted)
        : m_begin(line.data()), m_end(line.data() + line.size()), m_counted(counted)
    {}

    bool line()
    {
        const char* at = skipSpace(m_begin);
        if (at == m_end || *at != '{' || !(at = object<Level::root>(at, 1)))
            return false;
        if (skipSpace(at) != m_end)
            return false;
        // Strings were checked for the bytes JSON forbids; UTF-8 is checked once, for lines that need it.
        return !m_sawHighByte || simdjson::validate_utf8(m_begin, static_cast<std::size_t>(m_end - m_begin));
    }

    StringSlot timestamp, model, requestId, messageModel, messageId;
    bool repeat = false;
    bool messageSeen = false;
    bool messageIsObject = false;
    UsageSlot usage, messageUsage;

private:
    const char* skipSpace(const char* at) const
    {
        while (at != m_end && (*at == ' ' || *at == '\t' || *at == '\r' || *at == '\n'))
            ++at;
        return at;
    }

    // `at` is past the whitespace before the value.
    const char* value(const char* at, int depth)
    {
        if (at == m_end)
            return nullptr;
        switch (*at) {
        case '{':
            return object<Level::other>(at, depth + 1);
        case '[':
            return array(at, depth + 1);
        case '"':
            return skipString(at);
        case 't':
            return literal(at, "true");
        case 'f':
            return literal(at, "false");
        case 'n':
            return literal(at, "null");
        default:
            return number(at, nullptr);
        }
    }

    // From an opening brace to after the closing one; the level picks, at compile time, the keys looked up.
    template <Level level> const char* object(const char* at, int depth)
    {
        if (depth > maxDepth)
            return nullptr;
        at = skipSpace(at + 1);
        if (at != m_end && *at == '}')
            return at + 1;
        for (;;) {
            std::string_view key;
            bool plain = true;
            if (at == m_end || *at != '"' || !(at = string(at, key, plain)))
                return nullptr;
            at = skipSpace(at);
            // A key with escapes may spell one looked up here.
            if (at == m_end || *at != ':' || (level != Level::other && !plain))
                return nullptr;
            at = skipSpace(at + 1);
            bool closed = false;
            if (at == m_end || !(at = member<level>(at, key, depth)) || !(at = separator(at, '}', closed)))
                return nullptr;
            if (closed)
                return at;
            at = skipSpace(at);
        }
    }

    // From an opening bracket to after the closing one.
    const char* array(const char* at, int depth)
    {
        if (depth > maxDepth)
            return nullptr;
        at = skipSpace(at + 1);
        if (at != m_end && *at == ']')
            return at + 1;
        for (;;) {
            bool closed = false;
            if (!(at = value(at, depth)) || !(at = separator(at, ']', closed)))
                return nullptr;
            if (closed)
                return at;
            at = skipSpace(at);
        }
    }

    // After a member or an element: past the comma, or past the closing bracket (`closed`).
    const char* separator(const char* at, char close, bool& closed) const
    {
        at = skipSpace(at);
        if (at == m_end)
            return nullptr;
        closed = *at == close;
        return closed || *at == ',' ? at + 1 : nullptr;
    }

    // `at` is the member's value, past the whitespace before it.
    template <Level level> const char* member(const char* at, std::string_view key, int depth)
    {
        if constexpr (level == Level::root) {
            if (key == "timestamp")
                return stringSlot(at, timestamp, depth);
            if (key == "model")
                return stringSlot(at, model, depth);
            if (key == "requestId")
                return stringSlot(at, requestId, depth);
            if (key == "usage")
                return usageSlot(at, usage, depth);
            if (key == "message" && !messageSeen) {
                messageSeen = true;
                if (*at == '{') {
                    messageIsObject = true;
                    return object<Level::message>(at, depth + 1);
                }
            }
        } else if constexpr (level == Level::message) {
            if (key == "model")
                return stringSlot(at, messageModel, depth);
            if (key == "id")
                return stringSlot(at, messageId, depth);
            if (key == "usage")
                return usageSlot(at, messageUsage, depth);
        } else if constexpr (level == Level::usage) {
            if (key == "input_tokens")
                return numberSlot(at, m_usage->input, depth);
            if (key == "output_tokens")
                return numberSlot(at, m_usage->output, depth);
            if (key == "cache_read_input_tokens")
                return numberSlot(at, m_usage->cacheRead, depth);
            if (key == "cache_creation_input_tokens")
                return numberSlot(at, m_usage->cacheCreation, depth);
        } else {
            (void)key;
        }
        // Most values are strings: read in place, they spare the call.
        return *at == '"' ? skipString(at) : value(at, depth);
    }

    const char* stringSlot(const char* at, StringSlot& slot, int depth)
    {
        if (slot.seen || *at != '"')
            return (slot.seen = true, value(at, depth));
        slot.seen = slot.isString = true;
        bool plain = true;
        if (!(at = string(at, slot.text, plain)) || !plain) // an escaped one would need unescaping
            return nullptr;
        // Both ids known: a repeat ends the reading here.
        if ((&slot == &messageId || &slot == &requestId) && messageId.isString && requestId.isString &&
            !messageId.text.empty() && !requestId.text.empty() && m_counted(messageId.text, requestId.text)) {
            repeat = true;
            return nullptr;
        }
        return at;
    }

    const char* usageSlot(const char* at, UsageSlot& slot, int depth)
    {
        if (slot.seen || *at != '{')
            return (slot.seen = true, value(at, depth));
        slot.seen = slot.isObject = true;
        m_usage = &slot;
        return object<Level::usage>(at, depth + 1);
    }

    const char* numberSlot(const char* at, NumberSlot& slot, int depth)
    {
        if (slot.seen || (*at != '-' && (*at < '0' || *at > '9')))
            return (slot.seen = true, value(at, depth));
        slot.seen = true;
        return number(at, &slot.value);
    }

    const char* literal(const char* at, std::string_view word) const
    {
        if (static_cast<std::size_t>(m_end - at) < word.size() || std::string_view(at, word.size()) != word)
            return nullptr;
        return at + word.size();
    }

    // JSON's number grammar without exponents, each run of digits at most `maxDigits` long; an integer is
    // read into `integer` when asked for, a fraction then is refused.
    const char* number(const char* at, qint64* integer) const
    {
        const bool negative = at != m_end && *at == '-';
        if (negative)
            ++at;
        const char* digits = at;
        if (at != m_end && *at == '0') {
            ++at;
        } else {
            while (at != m_end && *at >= '0' && *at <= '9')
                ++at;
        }
        const char* digitsEnd = at;
        const auto length = digitsEnd - digits;
        if (length == 0 || length > maxDigits)
            return nullptr;
        if (at != m_end && *at == '.') {
            const char* fraction = ++at;
            while (at != m_end && *at >= '0' && *at <= '9')
                ++at;
            if (at == fraction || at - fraction > maxDigits || integer)
                return nullptr;
        }
        if (at != m_end && (*at == 'e' || *at == 'E'))
            return nullptr;
        if (integer) {
            qint64 v = 0;
            for (const char* d = digits; d != digitsEnd; ++d)
                v = v * 10 + (*d - '0');
            *integer = negative ? -v : v;
        }
        return at;
    }

    const char* skipString(const char* at)
    {
        std::string_view text;
        bool plain = true;
        return string(at, text, plain);
    }

    // From an opening quote to after the closing one. `plain`: no escapes, so `text` is the string itself.
    const char* string(const char* at, std::string_view& text, bool& plain)
    {
        const char* begin = at + 1;
        const char* end = stringEnd(begin, plain);
        if (!end)
            return nullptr;
        text = std::string_view(begin, static_cast<std::size_t>(end - begin));
        return end + 1;
    }

    // The closing quote of a string that starts at `at`, or null where the string is not one JSON allows or
    // holds a \u escape (whose code points the full parser checks).
    const char* stringEnd(const char* at, bool& plain)
    {
        const char* const end = m_end;
        for (;;) {
#if defined(__SSE2__)
            const __m128i quote = _mm_set1_epi8('"');
            const __m128i backslash = _mm_set1_epi8('\\');
            const __m128i control = _mm_set1_epi8(0x1f);
            // Bytes of 0x80 and up matter only until the first: it sends the line to the UTF-8 check.
            const unsigned high = m_sawHighByte ? 0 : 0xffff;
            while (end - at >= 16) {
                const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
                const __m128i special =
                    _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, backslash)),
                                 _mm_cmpeq_epi8(_mm_max_epu8(bytes, control), control));
                const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(special)) |
                                      (static_cast<unsigned>(_mm_movemask_epi8(bytes)) & high);
                if (mask) {
                    at += __builtin_ctz(mask);
                    break;
                }
                at += 16;
#if defined(__x86_64__)
                // A long run of text, as replies hold: on in steps of 32 where the processor can.
                if (m_avx2)
                    at = skipPlainBlocks(at, end, high != 0);
#endif
            }
#endif
            if (at == end)
                return nullptr;
            const auto c = static_cast<unsigned char>(*at);
            if (c == '"')
                return at;
            ++at;
            if (c < 0x20)
                return nullptr;
            if (c >= 0x80) {
                m_sawHighByte = true;
            } else if (c == '\\') {
                plain = false;
                if (at == end)
                    return nullptr;
                switch (*at++) {
                case '"':
                case '\\':
                case '/':
                case 'b':
                case 'f':
                case 'n':
                case 'r':
                case 't':
                    break;
                default:
                    return nullptr;
                }
            }
        }
    }

    const char* m_begin;
    const char* m_end;
    const QuickClaudeReader::Counted& m_counted;
    UsageSlot* m_usage = nullptr;
    bool m_sawHighByte = false;
#if defined(__x86_64__)
    bool m_avx2 = Simd::hasAvx2();
#endif
};

} // namespace

namespace QuickClaudeReader {

Result read(std::string_view line, const Counted& counted)
{
    Walker walker(line, counted);
    if (!walker.line())
        return {walker.repeat ? Outcome::repeat : Outcome::unsure, {}};
    Result result;
    result.outcome = Outcome::countsNot;
    if (!walker.timestamp.isString)
        return result;
    const auto atMs = TranscriptTime::parseMs(walker.timestamp.text);
    const bool messageUsage = walker.messageIsObject && walker.messageUsage.isObject;
    if (!atMs || (!messageUsage && !walker.usage.isObject))
        return result;
    const UsageSlot& usage = messageUsage ? walker.messageUsage : walker.usage;
    TranscriptLine::Claude& claude = result.line;
    claude.atMs = *atMs;
    claude.input = usage.input.value;
    claude.output = usage.output.value;
    claude.cacheRead = usage.cacheRead.value;
    claude.cacheCreation = usage.cacheCreation.value;
    if (walker.messageIsObject && walker.messageModel.isString)
        claude.model = walker.messageModel.text;
    else if (walker.model.isString)
        claude.model = walker.model.text;
    if (walker.messageIsObject && walker.messageId.isString)
        claude.messageId = walker.messageId.text;
    if (walker.requestId.isString)
        claude.requestId = walker.requestId.text;
    result.outcome = Outcome::counts;
    return result;
}

} // namespace QuickClaudeReader
