#include "core/text/SnapshotLineDecoder.h"
#include "core/text/Zone.h"

#include "core/text/JsonLines.h"
#include "core/text/TerminalText.h"

#include <QJsonValue>

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

namespace {

// The parse stops ("undecided") at the first thing it does not handle; the generic decoder then runs.
struct Value
{
    enum class Type
    {
        absent,
        string,
        number,
        boolean,
        null
    };
    Type type = Type::absent;
    std::string_view text;
    double number = 0;
    bool boolean = false;
};

enum Key
{
    kId,
    kProvider,
    kTimestamp,
    kWindowKind,
    kUsedPercent,
    kRemainingPercent,
    kResetAt,
    kWindowDurationMins,
    kLimitId,
    kLimitName,
    kModelId,
    kModelDisplayName,
    kEffortLevel,
    kThinkingEnabled,
    kSpeedMode,
    kPlanType,
    kRateLimitReachedType,
    kSource,
    kSourceConfidence,
    kAccount,
    kKeyCount,
    kUnknown = kKeyCount
};

constexpr std::array<std::string_view, kKeyCount> keyNames{"id",
                                                           "provider",
                                                           "timestamp",
                                                           "windowKind",
                                                           "usedPercent",
                                                           "remainingPercent",
                                                           "resetAt",
                                                           "windowDurationMins",
                                                           "limitId",
                                                           "limitName",
                                                           "modelId",
                                                           "modelDisplayName",
                                                           "effortLevel",
                                                           "thinkingEnabled",
                                                           "speedMode",
                                                           "planType",
                                                           "rateLimitReachedType",
                                                           "source",
                                                           "sourceConfidence",
                                                           "account"};

Key keyFor(std::string_view name)
{
    // Keys are told apart by length and first letter before one comparison.
    for (int k = 0; k < kKeyCount; ++k) {
        const std::string_view candidate = keyNames[static_cast<std::size_t>(k)];
        if (candidate.size() == name.size() && candidate.front() == name.front() && candidate == name)
            return static_cast<Key>(k);
    }
    return kUnknown;
}

class Parser
{
public:
    explicit Parser(QByteArrayView line) : m_p(line.data()), m_end(line.data() + line.size()) {}

    // Fills `values`; false when the line is not a flat object this parser fully understands.
    bool parseObject(std::array<Value, kKeyCount>& values)
    {
        skipSpace();
        if (!take('{'))
            return false;
        skipSpace();
        for (;;) {
            std::string_view name;
            if (!parseString(name))
                return false;
            skipSpace();
            if (!take(':'))
                return false;
            skipSpace();
            Value value;
            if (!parseValue(value))
                return false;
            const Key key = keyFor(name);
            if (key != kUnknown) {
                Value& slot = values[static_cast<std::size_t>(key)];
                if (slot.type != Value::Type::absent)
                    return false; // duplicate keys: leave the last-wins rule to the generic decoder
                slot = value;
            }
            skipSpace();
            if (take(','))
                skipSpace();
            else if (take('}'))
                break;
            else
                return false;
        }
        skipSpace();
        return m_p == m_end;
    }

private:
    void skipSpace()
    {
        while (m_p < m_end && (*m_p == ' ' || *m_p == '\t'))
            ++m_p;
    }

    bool take(char c)
    {
        if (m_p < m_end && *m_p == c) {
            ++m_p;
            return true;
        }
        return false;
    }

    bool takeWord(std::string_view word)
    {
        if (static_cast<std::size_t>(m_end - m_p) < word.size() ||
            std::memcmp(m_p, word.data(), word.size()) != 0)
            return false;
        m_p += word.size();
        return true;
    }

    // Printable ASCII only, no escapes.
    bool parseString(std::string_view& out)
    {
        if (!take('"'))
            return false;
        const char* start = m_p;
        while (m_p < m_end) {
            const unsigned char c = static_cast<unsigned char>(*m_p);
            if (c == '"') {
                out = std::string_view(start, static_cast<std::size_t>(m_p - start));
                ++m_p;
                return true;
            }
            if (c == '\\' || c < 0x20 || c >= 0x7f)
                return false;
            ++m_p;
        }
        return false;
    }

    static bool isDigit(char c) { return c >= '0' && c <= '9'; }

    // Strict JSON number grammar; anything looser or out of range goes to the generic decoder.
    bool parseNumber(double& out)
    {
        const char* start = m_p;
        take('-');
        if (take('0')) {
        } else if (m_p < m_end && isDigit(*m_p)) {
            while (m_p < m_end && isDigit(*m_p))
                ++m_p;
        } else {
            return false;
        }
        if (take('.')) {
            if (m_p >= m_end || !isDigit(*m_p))
                return false;
            while (m_p < m_end && isDigit(*m_p))
                ++m_p;
        }
        if (m_p < m_end && (*m_p == 'e' || *m_p == 'E')) {
            ++m_p;
            if (!take('+'))
                take('-');
            if (m_p >= m_end || !isDigit(*m_p))
                return false;
            while (m_p < m_end && isDigit(*m_p))
                ++m_p;
        }
        double value = 0;
        const auto [end, error] = std::from_chars(start, m_p, value);
        if (error != std::errc() || end != m_p || !std::isfinite(value))
            return false;
        // QJsonValue keeps integral values as integers, so a negative zero reads back as 0.
        out = value == 0 ? 0.0 : value;
        return true;
    }

    bool parseValue(Value& value)
    {
        if (m_p >= m_end)
            return false;
        switch (*m_p) {
        case '"':
            value.type = Value::Type::string;
            return parseString(value.text);
        case 't':
            value.type = Value::Type::boolean;
            value.boolean = true;
            return takeWord("true");
        case 'f':
            value.type = Value::Type::boolean;
            value.boolean = false;
            return takeWord("false");
        case 'n':
            value.type = Value::Type::null;
            return takeWord("null");
        default:
            value.type = Value::Type::number;
            return parseNumber(value.number);
        }
    }

    const char* m_p;
    const char* m_end;
};

QString latin1(std::string_view text)
{
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The canonical 8-4-4-4-12 form only; braces and other spellings go to QUuid::fromString.
std::optional<QUuid> parseUuid(std::string_view text)
{
    if (text.size() != 36)
        return std::nullopt;
    std::array<unsigned char, 16> bytes{};
    std::size_t at = 0;
    for (std::size_t i = 0; i < 16; ++i) {
        if (at == 8 || at == 13 || at == 18 || at == 23) {
            if (text[at] != '-')
                return std::nullopt;
            ++at;
        }
        const int high = hexValue(text[at]);
        const int low = hexValue(text[at + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes[i] = static_cast<unsigned char>(high * 16 + low);
        at += 2;
    }
    const auto u16 = [&](std::size_t i) { return static_cast<ushort>(bytes[i] << 8 | bytes[i + 1]); };
    const uint u32 = static_cast<uint>(bytes[0]) << 24 | static_cast<uint>(bytes[1]) << 16 |
                     static_cast<uint>(bytes[2]) << 8 | bytes[3];
    const QUuid uuid(u32, u16(4), u16(6), bytes[8], bytes[9], bytes[10], bytes[11], bytes[12], bytes[13],
                     bytes[14], bytes[15]);
    if (uuid.isNull())
        return std::nullopt;
    return uuid;
}

int digits(std::string_view text, std::size_t at, std::size_t count)
{
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// 2026-01-31T09:15:00Z, the form this program writes; every other form goes through JsonLines::parseDate.
std::optional<QDateTime> parseDateFast(std::string_view text)
{
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':' || text[19] != 'Z')
        return std::nullopt;
    const int year = digits(text, 0, 4);
    const int month = digits(text, 5, 2);
    const int day = digits(text, 8, 2);
    const int hour = digits(text, 11, 2);
    const int minute = digits(text, 14, 2);
    const int second = digits(text, 17, 2);
    if (year < 0 || month < 0 || day < 0 || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
        second < 0 || second > 59)
        return std::nullopt;
    const QDate date(year, month, day);
    if (!date.isValid())
        return std::nullopt;
    constexpr qint64 unixEpochJulianDay = 2440588;
    const qint64 msecs = (date.toJulianDay() - unixEpochJulianDay) * 86'400'000 +
                         (hour * 3600 + minute * 60 + second) * qint64(1000);
    return QDateTime::fromMSecsSinceEpoch(msecs, Zone::utc());
}

std::optional<QDateTime> readDate(const Value& value)
{
    if (value.type == Value::Type::string) {
        if (auto date = parseDateFast(value.text))
            return date;
        return JsonLines::parseDate(latin1(value.text));
    }
    if (value.type == Value::Type::number)
        return JsonLines::decodeDate(QJsonValue(value.number));
    return std::nullopt;
}

template <typename E, std::size_t N>
std::optional<E> readEnum(const Value& value, const std::array<E, N>& cases)
{
    if (value.type != Value::Type::string)
        return std::nullopt;
    // The raw values are plain ASCII, so comparing bytes is exact.
    static const std::array<QByteArray, N> raw = [&] {
        std::array<QByteArray, N> names;
        for (std::size_t i = 0; i < N; ++i)
            names[i] = rawValue(cases[i]).toLatin1();
        return names;
    }();
    for (std::size_t i = 0; i < N; ++i) {
        if (std::string_view(raw[i].constData(), static_cast<std::size_t>(raw[i].size())) == value.text)
            return cases[i];
    }
    return std::nullopt;
}

bool isAbsent(const Value& value)
{
    return value.type == Value::Type::absent || value.type == Value::Type::null;
}

bool readOptionalString(const Value& value, OptionalText& out)
{
    if (isAbsent(value))
        return true;
    if (value.type != Value::Type::string)
        return false;
    // Printable ASCII already: only the generic decoder's cut to a name's length is left to do.
    out = latin1(value.text.substr(0, static_cast<std::size_t>(TerminalText::maxName)));
    return true;
}

} // namespace

namespace SnapshotLineDecoder {

std::optional<UsageSnapshot> decodeFast(QByteArrayView line)
{
    std::array<Value, kKeyCount> v;
    if (!Parser(line).parseObject(v))
        return std::nullopt;
    const auto at = [&](Key key) -> const Value& { return v[static_cast<std::size_t>(key)]; };

    // Copied from a blank rather than default-made: the default constructor draws a random id.
    static const UsageSnapshot blank;
    UsageSnapshot s(blank);
    if (at(kId).type != Value::Type::string)
        return std::nullopt;
    const auto id = parseUuid(at(kId).text);
    const auto provider = readEnum(at(kProvider), allProviders);
    const auto windowKind = readEnum(at(kWindowKind), allWindowKinds);
    const auto confidence = readEnum(at(kSourceConfidence), allSourceConfidences);
    const auto timestamp = readDate(at(kTimestamp));
    if (!id || !provider || !windowKind || !confidence || !timestamp)
        return std::nullopt;
    if (at(kUsedPercent).type != Value::Type::number || at(kRemainingPercent).type != Value::Type::number ||
        at(kSource).type != Value::Type::string)
        return std::nullopt;
    s.id = *id;
    s.provider = *provider;
    s.windowKind = *windowKind;
    s.sourceConfidence = *confidence;
    s.timestamp = *timestamp;
    s.usedPercent = at(kUsedPercent).number;
    s.remainingPercent = at(kRemainingPercent).number;
    s.source = latin1(at(kSource).text);

    if (!isAbsent(at(kResetAt))) {
        s.resetAt = readDate(at(kResetAt));
        if (!s.resetAt)
            return std::nullopt;
    }
    if (!isAbsent(at(kWindowDurationMins))) {
        if (at(kWindowDurationMins).type != Value::Type::number)
            return std::nullopt;
        s.windowDurationMins = at(kWindowDurationMins).number;
    }
    if (!isAbsent(at(kThinkingEnabled))) {
        if (at(kThinkingEnabled).type != Value::Type::boolean)
            return std::nullopt;
        s.thinkingEnabled = at(kThinkingEnabled).boolean;
    }
    if (!readOptionalString(at(kLimitId), s.limitId) || !readOptionalString(at(kLimitName), s.limitName) ||
        !readOptionalString(at(kModelId), s.modelId) ||
        !readOptionalString(at(kModelDisplayName), s.modelDisplayName) ||
        !readOptionalString(at(kEffortLevel), s.effortLevel) ||
        !readOptionalString(at(kSpeedMode), s.speedMode) || !readOptionalString(at(kPlanType), s.planType) ||
        !readOptionalString(at(kRateLimitReachedType), s.rateLimitReachedType) ||
        !readOptionalString(at(kAccount), s.account))
        return std::nullopt;
    return s;
}

std::optional<UsageSnapshot> decode(QByteArrayView line)
{
    if (auto snapshot = decodeFast(line))
        return snapshot;
    return JsonLines::decodeLine<UsageSnapshot>(line);
}

QList<UsageSnapshot> decodeLines(QByteArrayView text)
{
    QList<UsageSnapshot> result;
    result.reserve(text.count('\n') + 1);
    JsonLines::forEachLine(text, [&](QByteArrayView line) {
        if (auto snapshot = decode(line))
            result.append(std::move(*snapshot));
    });
    return result;
}

qsizetype appendDecodedLines(QByteArrayView text, SnapshotLog& log)
{
    const qsizetype before = log.size();
    JsonLines::forEachLine(text, [&](QByteArrayView line) {
        if (auto snapshot = decode(line))
            log.append(std::move(*snapshot));
    });
    return log.size() - before;
}

} // namespace SnapshotLineDecoder
