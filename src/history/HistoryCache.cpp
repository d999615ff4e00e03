#include "history/HistoryCache.h"

#include "core/io/FileIo.h"
#include "history/Varint.h"
#include "history/WordHash.h"

#include <QFile>
#include <QtEndian>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Layout: the magic "TVHC", then varints (zigzag for signed values) and raw little-endian words:
//   version, zone, file count, then per file: path, provider byte, size, mtime (IEEE double), day count,
//   per day: day step from the previous one, tokens, nano-dollars, mask of the non-zero hours and those
//   hours' tokens; a resume byte and, when set: offset, inode, anchor, id count and the 64-bit id
//   hashes, the counted-line log, lastLineMs, newestLineMs, and a Codex totals byte with its five counts;
//   last, the WordHash of all before it as a little-endian word. The cache is saved without waiting for the
//   disk, so a crash may leave it torn: the checksum turns that into a rebuild.
// A new layout takes a new version: an older file then decodes as empty and is rebuilt by the next scan.

namespace {

constexpr char magic[4] = {'T', 'V', 'H', 'C'};
constexpr quint64 formatVersion = 5;
constexpr qint64 maxCacheBytes = 1ll << 30;

// Hands the bytes on in pieces, so that a cache of many megabytes is never whole in memory (whose fresh pages
// would cost more than encoding them), and keeps the checksum of all it handed on.
class Writer
{
public:
    explicit Writer(const HistoryCache::Sink& sink) : m_sink(sink) { m_out.reserve(piece); }

    void bytes(const void* data, std::size_t size)
    {
        if (size >= piece) { // a large blob goes on as it is
            flush();
            send(std::string_view(static_cast<const char*>(data), size));
            return;
        }
        m_out.append(static_cast<const char*>(data), size);
        if (m_out.size() >= piece)
            flush();
    }
    void byte(quint8 value) { m_out.push_back(static_cast<char>(value)); }
    void varint(quint64 value)
    {
        char buffer[Varint::maxBytes];
        m_out.append(buffer, Varint::put(buffer, value));
    }
    void integer(qint64 value) { varint(Varint::zigzag(value)); }
    void word(quint64 value)
    {
        const quint64 little = qToLittleEndian(value);
        bytes(&little, sizeof little);
    }
    void blob(QByteArrayView data)
    {
        varint(static_cast<quint64>(data.size()));
        bytes(data.data(), static_cast<std::size_t>(data.size()));
    }
    // The rest and then the checksum; false when the sink failed on any piece.
    bool finish()
    {
        flush();
        const quint64 checksum = qToLittleEndian(m_checksum.result());
        return m_ok && m_sink(QByteArrayView(reinterpret_cast<const char*>(&checksum), sizeof checksum));
    }

private:
    static constexpr std::size_t piece = 64 * 1024;

    void flush()
    {
        send(m_out);
        m_out.clear();
    }
    void send(std::string_view bytes)
    {
        if (bytes.empty() || !m_ok)
            return;
        m_checksum.add(bytes);
        m_ok = m_sink(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    }

    const HistoryCache::Sink& m_sink;
    std::string m_out;
    WordHash::Stream m_checksum;
    bool m_ok = true;
};

// Every read is bounds-checked; the first failure sticks and makes the whole decode give up.
class Reader
{
public:
    explicit Reader(QByteArrayView data) : m_at(data.data()), m_end(data.data() + data.size()) {}

    bool ok() const { return m_ok; }
    bool atEnd() const { return m_at == m_end; }
    bool fail() { return m_ok = false; }

    const char* take(std::size_t size)
    {
        if (!m_ok || static_cast<std::size_t>(m_end - m_at) < size) {
            fail();
            return nullptr;
        }
        const char* at = m_at;
        m_at += size;
        return at;
    }
    quint8 byte()
    {
        const char* at = take(1);
        return at ? static_cast<quint8>(*at) : 0;
    }
    quint64 varint()
    {
        quint64 value = 0;
        if (m_ok && Varint::get(m_at, m_end, value))
            return value;
        fail();
        return 0;
    }
    qint64 integer() { return Varint::unzigzag(varint()); }
    quint64 word()
    {
        const char* at = take(8);
        return at ? qFromLittleEndian<quint64>(at) : 0;
    }
    // A length that cannot fit in what is left fails here, before anything is allocated for it.
    std::size_t count(std::size_t unit)
    {
        const quint64 n = varint();
        if (!m_ok || n > static_cast<quint64>(m_end - m_at) / unit) {
            fail();
            return 0;
        }
        return static_cast<std::size_t>(n);
    }
    QByteArray blob()
    {
        const std::size_t size = count(1);
        const char* at = take(size);
        return at ? QByteArray(at, static_cast<qsizetype>(size)) : QByteArray();
    }

private:
    const char* m_at;
    const char* m_end;
    bool m_ok = true;
};

void encodeEntry(Writer& w, const FileEntry& entry)
{
    w.byte(entry.provider == Provider::codex ? 0 : 1);
    w.integer(entry.size);
    w.word(std::bit_cast<quint64>(entry.mtime));
    w.varint(entry.days.size());
    qint64 previous = 0;
    for (const auto& [day, totals] : entry.days) {
        w.integer(day - previous);
        previous = day;
        w.integer(totals.tokens);
        w.integer(totals.costNanos);
        quint32 mask = 0;
        for (std::size_t h = 0; h < 24; ++h)
            mask |= totals.hours[h] ? 1u << h : 0u;
        w.varint(mask);
        for (std::size_t h = 0; h < 24; ++h)
            if (totals.hours[h])
                w.integer(totals.hours[h]);
    }
    w.byte(entry.resume ? 1 : 0);
    if (!entry.resume)
        return;
    const ResumePoint& resume = *entry.resume;
    w.integer(resume.offset);
    w.word(resume.inode);
    w.word(resume.anchor);
    w.varint(resume.claudeIds.size());
    if constexpr (QSysInfo::ByteOrder == QSysInfo::LittleEndian) {
        w.bytes(resume.claudeIds.data(), resume.claudeIds.size() * sizeof(quint64));
    } else {
        for (const quint64 id : resume.claudeIds)
            w.word(id);
    }
    w.blob(resume.claudeLines);
    w.integer(resume.lastLineMs);
    w.integer(resume.newestLineMs);
    w.byte(resume.codexTotal ? 1 : 0);
    if (const auto& t = resume.codexTotal)
        for (const qint64 value : {t->input, t->cachedInput, t->output, t->reasoningOutput, t->total})
            w.integer(value);
}

std::optional<FileEntry> decodeEntry(Reader& r)
{
    FileEntry entry;
    const quint8 provider = r.byte();
    if (provider > 1)
        r.fail();
    entry.provider = provider == 0 ? Provider::codex : Provider::claude;
    entry.size = r.integer();
    entry.mtime = std::bit_cast<double>(r.word());
    // The smallest day takes four bytes: step, tokens, cost and an empty hour mask.
    const std::size_t days = r.count(4);
    qint64 day = 0;
    for (std::size_t i = 0; i < days && r.ok(); ++i) {
        day += r.integer();
        DayTotals& totals = entry.days[day];
        totals.tokens = r.integer();
        totals.costNanos = r.integer();
        const quint64 mask = r.varint();
        if (mask >> 24)
            r.fail();
        for (std::size_t h = 0; h < 24; ++h)
            if (mask & (1u << h))
                totals.hours[h] = r.integer();
    }
    if (r.byte()) {
        ResumePoint resume;
        resume.offset = r.integer();
        resume.inode = r.word();
        resume.anchor = r.word();
        resume.claudeIds.resize(r.count(8));
        const char* ids = r.take(resume.claudeIds.size() * 8);
        if (ids && !resume.claudeIds.empty())
            qFromLittleEndian<quint64>(ids, static_cast<qsizetype>(resume.claudeIds.size()),
                                       resume.claudeIds.data());
        resume.claudeLines = r.blob();
        resume.lastLineMs = r.integer();
        resume.newestLineMs = r.integer();
        if (r.byte()) {
            qint64 v[5];
            for (qint64& value : v)
                value = r.integer();
            resume.codexTotal = TranscriptLine::CodexCounts{v[0], v[1], v[2], v[3], v[4]};
        }
        // The offset lies within the file it was read from.
        if (resume.offset < 0 || resume.offset > entry.size)
            r.fail();
        entry.resume = std::move(resume);
    }
    if (!r.ok())
        return std::nullopt;
    return entry;
}

} // namespace

bool HistoryCache::encode(const Sink& sink) const
{
    Writer w(sink);
    w.bytes(magic, sizeof magic);
    w.varint(formatVersion);
    w.blob(zone);
    w.varint(files.size());
    for (const auto& [path, entry] : files) {
        w.blob(path);
        encodeEntry(w, entry);
    }
    return w.finish();
}

QByteArray HistoryCache::encode() const
{
    QByteArray bytes;
    encode([&](QByteArrayView piece) {
        bytes.append(piece);
        return true;
    });
    return bytes;
}

HistoryCache HistoryCache::decode(QByteArrayView bytes)
{
    quint64 checksum = 0;
    if (bytes.size() < static_cast<qsizetype>(sizeof checksum))
        return {};
    bytes.chop(sizeof checksum);
    std::memcpy(&checksum, bytes.end(), sizeof checksum);
    if (qFromLittleEndian(checksum) != WordHash::of(std::string_view(bytes.data(), bytes.size())))
        return {};
    Reader r(bytes);
    const char* head = r.take(sizeof magic);
    if (!head || std::memcmp(head, magic, sizeof magic) != 0 || r.varint() != formatVersion)
        return {};
    HistoryCache cache;
    cache.zone = r.blob();
    const std::size_t count = r.count(13); // the smallest entry's bytes
    cache.files.reserve(count);
    for (std::size_t i = 0; i < count && r.ok(); ++i) {
        QByteArray path = r.blob();
        auto entry = decodeEntry(r);
        if (!entry)
            return {};
        cache.files.insert_or_assign(std::move(path), std::move(*entry));
    }
    if (!r.ok() || !r.atEnd())
        return {};
    return cache;
}

HistoryCache HistoryCache::load(const QString& path)
{
    const int fd = FileIo::openOwn(path, O_RDONLY);
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
