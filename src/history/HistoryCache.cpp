#include "history/HistoryCache.h"

#include "history/ZoneCalendar.h"

#include <QFile>
#include <QUtf8StringView>

#include <simdjson.h>

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int formatVersion = 2;
constexpr qint64 maxCacheBytes = 1ll << 30;

using simdjson::dom::array;
using simdjson::dom::element;
using simdjson::dom::object;

class Writer
{
public:
    void raw(std::string_view text) { m_out.append(text.data(), static_cast<qsizetype>(text.size())); }
    void ch(char c) { m_out.append(c); }
    void integer(qint64 value)
    {
        char buffer[24];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
        raw(std::string_view(buffer, static_cast<std::size_t>(result.ptr - buffer)));
    }
    void number(double value)
    {
        char buffer[32];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, std::isfinite(value) ? value : 0.0);
        raw(std::string_view(buffer, static_cast<std::size_t>(result.ptr - buffer)));
    }
    void string(QByteArrayView utf8)
    {
        ch('"');
        for (const char c : utf8) {
            const auto byte = static_cast<unsigned char>(c);
            if (c == '"' || c == '\\') {
                ch('\\');
                ch(c);
            } else if (byte < 0x20) {
                static constexpr char hex[] = "0123456789abcdef";
                raw("\\u00");
                ch(hex[byte >> 4]);
                ch(hex[byte & 15]);
            } else {
                ch(c);
            }
        }
        ch('"');
    }
    // Text known to need no escaping (base64).
    void plainString(QByteArrayView text)
    {
        ch('"');
        m_out.append(text);
        ch('"');
    }
    void key(std::string_view name)
    {
        string(QByteArrayView(name.data(), static_cast<qsizetype>(name.size())));
        ch(':');
    }
    QByteArray take() { return std::move(m_out); }

private:
    QByteArray m_out;
};

void encodeEntry(Writer& w, const FileEntry& entry)
{
    w.ch('{');
    w.key("size");
    w.integer(entry.size);
    w.raw(",");
    w.key("mtime");
    w.number(entry.mtime);
    w.raw(",");
    w.key("provider");
    w.string(entry.provider == Provider::codex ? "codex" : "claude");
    // Day keys sort in day order, so each member list is written in ascending order.
    const auto dayMap = [&](std::string_view name, auto&& value) {
        w.raw(",");
        w.key(name);
        w.ch('{');
        bool first = true;
        for (const auto& [day, totals] : entry.days) {
            if (!first)
                w.ch(',');
            first = false;
            w.string(ZoneCalendar::dayKey(day).toLatin1());
            w.ch(':');
            value(totals);
        }
        w.ch('}');
    };
    dayMap("byDay", [&](const DayTotals& t) { w.integer(t.tokens); });
    dayMap("byDayCost", [&](const DayTotals& t) { w.number(static_cast<double>(t.costNanos) / 1e9); });
    dayMap("byDayHour", [&](const DayTotals& t) {
        w.ch('[');
        for (std::size_t h = 0; h < 24; ++h) {
            if (h)
                w.ch(',');
            w.integer(t.hours[h]);
        }
        w.ch(']');
    });
    std::array<qint64, 24> hours{};
    for (const auto& [day, totals] : entry.days)
        for (std::size_t h = 0; h < 24; ++h)
            hours[h] += totals.hours[h];
    w.raw(",");
    w.key("byHour");
    w.ch('{');
    bool first = true;
    for (std::size_t h = 0; h < 24; ++h) {
        if (!hours[h])
            continue;
        if (!first)
            w.ch(',');
        first = false;
        const char key[3] = {static_cast<char>('0' + h / 10), static_cast<char>('0' + h % 10), 0};
        w.key(key);
        w.integer(hours[h]);
    }
    w.ch('}');
    if (const auto& resume = entry.resume) {
        w.raw(",");
        w.key("offset");
        w.integer(resume->offset);
        w.raw(",");
        w.key("inode");
        w.integer(static_cast<qint64>(resume->inode));
        w.raw(",");
        w.key("anchor");
        w.integer(static_cast<qint64>(resume->anchor));
        w.raw(",");
        w.key("ids");
        QByteArray ids(static_cast<qsizetype>(resume->claudeIds.size() * 8), Qt::Uninitialized);
        for (std::size_t i = 0; i < resume->claudeIds.size(); ++i)
            for (int b = 0; b < 8; ++b)
                ids[static_cast<qsizetype>(i * 8) + b] = static_cast<char>(resume->claudeIds[i] >> (8 * b));
        w.plainString(ids.toBase64());
        w.raw(",");
        w.key("lines");
        w.plainString(resume->claudeLines.toBase64());
        w.raw(",");
        w.key("lastLineMs");
        w.integer(resume->lastLineMs);
        if (const auto& t = resume->codexTotal) {
            w.raw(",");
            w.key("codexTotal");
            w.ch('[');
            const qint64 values[] = {t->input, t->cachedInput, t->output, t->reasoningOutput, t->total};
            for (std::size_t i = 0; i < 5; ++i) {
                if (i)
                    w.ch(',');
                w.integer(values[i]);
            }
            w.ch(']');
        }
    }
    w.ch('}');
}

} // namespace

namespace {

bool readInt(simdjson::simdjson_result<element> value, qint64& out)
{
    int64_t number = 0;
    if (std::move(value).get_int64().get(number))
        return false;
    out = number;
    return true;
}

qint64 integerOr(const object& parent, std::string_view key, qint64 fallback)
{
    element value;
    if (parent.at_key(key).get(value))
        return fallback;
    if (value.is_int64())
        return value.get_int64().value_unsafe();
    if (value.is_uint64())
        return static_cast<qint64>(value.get_uint64().value_unsafe());
    if (value.is_double()) {
        const double d = value.get_double().value_unsafe();
        return std::isfinite(d) && std::fabs(d) < 9.0e18 ? static_cast<qint64>(d) : fallback;
    }
    return fallback;
}

// Strict and table-driven: QByteArray::fromBase64 takes a good part of a cache load.
QByteArray fromBase64(std::string_view text)
{
    static const auto table = [] {
        std::array<signed char, 256> t{};
        t.fill(-1);
        const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (int i = 0; i < 64; ++i)
            t[static_cast<unsigned char>(alphabet[i])] = static_cast<signed char>(i);
        return t;
    }();
    if (text.size() % 4 != 0)
        return {};
    std::size_t padding = 0;
    while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=')
        ++padding;
    QByteArray out(static_cast<qsizetype>(text.size() / 4 * 3), Qt::Uninitialized);
    char* into = out.data();
    for (std::size_t i = 0; i < text.size(); i += 4) {
        int v[4];
        for (int k = 0; k < 4; ++k) {
            const std::size_t at = i + static_cast<std::size_t>(k);
            v[k] = at >= text.size() - padding ? 0 : table[static_cast<unsigned char>(text[at])];
            if (v[k] < 0)
                return {};
        }
        const auto bits = static_cast<unsigned>(v[0] << 18 | v[1] << 12 | v[2] << 6 | v[3]);
        *into++ = static_cast<char>(bits >> 16);
        *into++ = static_cast<char>(bits >> 8);
        *into++ = static_cast<char>(bits);
    }
    out.chop(static_cast<qsizetype>(padding));
    return out;
}

QByteArray base64At(const object& parent, std::string_view key)
{
    std::string_view text;
    if (parent.at_key(key).get_string().get(text))
        return {};
    return fromBase64(text);
}

std::optional<FileEntry> decodeEntry(const object& value)
{
    std::string_view provider;
    if (value.at_key("provider").get_string().get(provider))
        return std::nullopt;
    FileEntry entry;
    if (provider == "codex")
        entry.provider = Provider::codex;
    else if (provider == "claude")
        entry.provider = Provider::claude;
    else
        return std::nullopt;
    double mtime = 0;
    if (!readInt(value.at_key("size"), entry.size) || value.at_key("mtime").get_double().get(mtime))
        return std::nullopt;
    entry.mtime = mtime;

    const auto eachDay = [&](std::string_view name, auto&& apply) {
        object days;
        if (value.at_key(name).get_object().get(days))
            return;
        for (auto [key, member] : days) {
            const auto day =
                ZoneCalendar::parseDayKey(QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size())));
            if (day)
                apply(entry.days[*day], member);
        }
    };
    eachDay("byDay", [](DayTotals& t, element member) { readInt(element(member), t.tokens); });
    eachDay("byDayCost", [](DayTotals& t, element member) {
        double usd = 0;
        if (!member.get_double().get(usd) && std::isfinite(usd) && std::fabs(usd) < 9.0e9)
            t.costNanos = std::llround(usd * 1e9);
    });
    eachDay("byDayHour", [](DayTotals& t, element member) {
        array hours;
        if (member.get_array().get(hours) || hours.size() != 24)
            return;
        std::size_t h = 0;
        for (element hour : hours)
            readInt(element(hour), t.hours[h++]);
    });

    // Without every part of the resume point a change to the file reads it from the start.
    qint64 offset = -1;
    if (!readInt(value.at_key("offset"), offset) || offset < 0 || offset > entry.size)
        return entry;
    ResumePoint resume;
    resume.offset = offset;
    resume.inode = static_cast<quint64>(integerOr(value, "inode", 0));
    resume.anchor = static_cast<quint64>(integerOr(value, "anchor", 0));
    const QByteArray ids = base64At(value, "ids");
    resume.claudeIds.resize(static_cast<std::size_t>(ids.size() / 8));
    for (std::size_t i = 0; i < resume.claudeIds.size(); ++i) {
        quint64 id = 0;
        for (int b = 7; b >= 0; --b)
            id = (id << 8) | static_cast<unsigned char>(ids[static_cast<qsizetype>(i * 8) + b]);
        resume.claudeIds[i] = id;
    }
    if (!std::is_sorted(resume.claudeIds.begin(), resume.claudeIds.end()))
        return entry;
    resume.claudeLines = base64At(value, "lines");
    resume.lastLineMs = integerOr(value, "lastLineMs", 0);
    array total;
    if (!value.at_key("codexTotal").get_array().get(total) && total.size() == 5) {
        qint64 v[5] = {};
        std::size_t i = 0;
        for (element n : total)
            readInt(element(n), v[i++]);
        resume.codexTotal = TranscriptLine::CodexCounts{v[0], v[1], v[2], v[3], v[4]};
    }
    entry.resume = std::move(resume);
    return entry;
}

} // namespace

QByteArray HistoryCache::encode() const
{
    Writer w;
    w.ch('{');
    w.key("version");
    w.integer(formatVersion);
    w.raw(",");
    w.key("zone");
    w.string(zone);
    w.raw(",");
    w.key("files");
    w.ch('{');
    bool first = true;
    for (const auto& [path, entry] : files) {
        if (!QUtf8StringView(path).isValidUtf8())
            continue;
        if (!first)
            w.ch(',');
        first = false;
        w.string(path);
        w.ch(':');
        encodeEntry(w, entry);
    }
    w.raw("}}");
    return w.take();
}

HistoryCache HistoryCache::decode(QByteArrayView json)
{
    HistoryCache cache;
    simdjson::dom::parser parser;
    object root;
    if (parser.parse(json.data(), static_cast<std::size_t>(json.size())).get_object().get(root))
        return cache;
    int64_t version = 0;
    object files;
    std::string_view zone;
    if (root.at_key("version").get_int64().get(version) || version != formatVersion ||
        root.at_key("zone").get_string().get(zone) || root.at_key("files").get_object().get(files))
        return cache;
    cache.zone = QByteArray(zone.data(), static_cast<qsizetype>(zone.size()));
    for (auto [key, value] : files) {
        object entryObject;
        if (value.get_object().get(entryObject))
            continue;
        if (auto entry = decodeEntry(entryObject))
            cache.files.insert_or_assign(QByteArray(key.data(), static_cast<qsizetype>(key.size())),
                                         std::move(*entry));
    }
    return cache;
}

HistoryCache HistoryCache::load(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {};
    struct stat info = {};
    QByteArray bytes;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= maxCacheBytes) {
        bytes.resize(static_cast<qsizetype>(info.st_size));
        qsizetype have = 0;
        while (have < bytes.size()) {
            const ssize_t got =
                ::read(fd, bytes.data() + have, static_cast<std::size_t>(bytes.size() - have));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            have += got;
        }
        bytes.truncate(have);
    }
    ::close(fd);
    return decode(bytes);
}
