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

class Walker
{
public:
    Walker(std::string_view line, const QuickClaudeReader::Counted& counted)
        : m_begin(line.data()), m_at(line.data()), m_end(line.data() + line.size()), m_counted(counted)
    {}

    bool line()
    {
        skipSpace();
        if (m_at == m_end || *m_at != '{' || !object(1, Level::root))
            return false;
        skipSpace();
        if (m_at != m_end)
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
    void skipSpace()
    {
        while (m_at != m_end && (*m_at == ' ' || *m_at == '\t' || *m_at == '\r' || *m_at == '\n'))
            ++m_at;
    }

    bool take(char c)
    {
        skipSpace();
        if (m_at == m_end || *m_at != c)
            return false;
        ++m_at;
        return true;
    }

    bool value(int depth)
    {
        skipSpace();
        if (m_at == m_end)
            return false;
        switch (*m_at) {
        case '{':
            return object(depth + 1, Level::other);
        case '[':
            return array(depth + 1);
        case '"': {
            std::string_view text;
            bool plain = true;
            return string(text, plain);
        }
        case 't':
            return literal("true");
        case 'f':
            return literal("false");
        case 'n':
            return literal("null");
        default:
            return number(nullptr);
        }
    }

    bool object(int depth, Level level)
    {
        if (depth > maxDepth)
            return false;
        ++m_at;
        if (closesHere('}'))
            return true;
        for (bool closed = false; !closed;) {
            std::string_view key;
            bool plain = true;
            skipSpace();
            if (m_at == m_end || *m_at != '"' || !string(key, plain) || !take(':'))
                return false;
            // A key with escapes may spell one looked up here.
            if (level != Level::other && !plain)
                return false;
            skipSpace();
            if (m_at == m_end || !member(level, key, depth) || !separator('}', closed))
                return false;
        }
        return true;
    }

    bool array(int depth)
    {
        if (depth > maxDepth)
            return false;
        ++m_at;
        if (closesHere(']'))
            return true;
        for (bool closed = false; !closed;) {
            if (!value(depth) || !separator(']', closed))
                return false;
        }
        return true;
    }

    // An empty object or array: its closing bracket right after the opening one.
    bool closesHere(char close)
    {
        skipSpace();
        if (m_at == m_end || *m_at != close)
            return false;
        ++m_at;
        return true;
    }

    // After a member or an element: a comma, or the closing bracket (`closed`).
    bool separator(char close, bool& closed)
    {
        skipSpace();
        if (m_at == m_end)
            return false;
        const char c = *m_at++;
        closed = c == close;
        return closed || c == ',';
    }

    bool member(Level level, std::string_view key, int depth)
    {
        switch (level) {
        case Level::root:
            if (key == "timestamp")
                return stringSlot(timestamp, depth);
            if (key == "model")
                return stringSlot(model, depth);
            if (key == "requestId")
                return stringSlot(requestId, depth);
            if (key == "usage")
                return usageSlot(usage, depth);
            if (key == "message" && !messageSeen) {
                messageSeen = true;
                if (*m_at == '{') {
                    messageIsObject = true;
                    return object(depth + 1, Level::message);
                }
            }
            break;
        case Level::message:
            if (key == "model")
                return stringSlot(messageModel, depth);
            if (key == "id")
                return stringSlot(messageId, depth);
            if (key == "usage")
                return usageSlot(messageUsage, depth);
            break;
        case Level::usage:
            if (key == "input_tokens")
                return numberSlot(m_usage->input, depth);
            if (key == "output_tokens")
                return numberSlot(m_usage->output, depth);
            if (key == "cache_read_input_tokens")
                return numberSlot(m_usage->cacheRead, depth);
            if (key == "cache_creation_input_tokens")
                return numberSlot(m_usage->cacheCreation, depth);
            break;
        case Level::other:
            break;
        }
        return value(depth);
    }

    bool stringSlot(StringSlot& slot, int depth)
    {
        if (slot.seen || *m_at != '"')
            return (slot.seen = true, value(depth));
        slot.seen = slot.isString = true;
        bool plain = true;
        if (!string(slot.text, plain) || !plain) // an escaped one would need unescaping
            return false;
        // Both ids known: a repeat ends the reading here.
        if ((&slot == &messageId || &slot == &requestId) && messageId.isString && requestId.isString &&
            !messageId.text.empty() && !requestId.text.empty() && m_counted(messageId.text, requestId.text)) {
            repeat = true;
            return false;
        }
        return true;
    }

    bool usageSlot(UsageSlot& slot, int depth)
    {
        if (slot.seen || *m_at != '{')
            return (slot.seen = true, value(depth));
        slot.seen = slot.isObject = true;
        m_usage = &slot;
        return object(depth + 1, Level::usage);
    }

    bool numberSlot(NumberSlot& slot, int depth)
    {
        if (slot.seen || (*m_at != '-' && (*m_at < '0' || *m_at > '9')))
            return (slot.seen = true, value(depth));
        slot.seen = true;
        return number(&slot.value);
    }

    bool literal(std::string_view word)
    {
        if (static_cast<std::size_t>(m_end - m_at) < word.size() ||
            std::string_view(m_at, word.size()) != word)
            return false;
        m_at += word.size();
        return true;
    }

    // JSON's number grammar without exponents, each run of digits at most `maxDigits` long; an integer is
    // read into `integer` when asked for, a fraction then is refused.
    bool number(qint64* integer)
    {
        const bool negative = m_at != m_end && *m_at == '-';
        if (negative)
            ++m_at;
        const char* digits = m_at;
        if (m_at != m_end && *m_at == '0') {
            ++m_at;
        } else {
            while (m_at != m_end && *m_at >= '0' && *m_at <= '9')
                ++m_at;
        }
        const auto length = m_at - digits;
        if (length == 0 || length > maxDigits)
            return false;
        if (m_at != m_end && *m_at == '.') {
            const char* fraction = ++m_at;
            while (m_at != m_end && *m_at >= '0' && *m_at <= '9')
                ++m_at;
            if (m_at == fraction || m_at - fraction > maxDigits || integer)
                return false;
        }
        if (m_at != m_end && (*m_at == 'e' || *m_at == 'E'))
            return false;
        if (integer) {
            qint64 v = 0;
            for (const char* d = digits; d != m_at; ++d)
                v = v * 10 + (*d - '0');
            *integer = negative ? -v : v;
        }
        return true;
    }

    // From an opening quote to after the closing one. `plain`: no escapes, so `text` is the string itself.
    bool string(std::string_view& text, bool& plain)
    {
        const char* begin = m_at + 1;
        const char* end = stringEnd(begin, plain);
        if (!end)
            return false;
        text = std::string_view(begin, static_cast<std::size_t>(end - begin));
        m_at = end + 1;
        return true;
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
    const char* m_at;
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
