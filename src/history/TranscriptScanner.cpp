#include "history/TranscriptScanner.h"

#include "history/Pricing.h"
#include "history/QuickClaudeReader.h"
#include "history/SaturatingMath.h"
#include "history/Varint.h"
#include "history/WordHash.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

quint64 idHash(std::string_view messageId, std::string_view requestId)
{
    return WordHash::mix(WordHash::step(WordHash::step(0x243f6a8885a308d3ULL, messageId), requestId));
}

class Fd
{
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

qint64 preadSome(int fd, char* into, std::size_t room, qint64 at)
{
    for (;;) {
        const ssize_t got = ::pread(fd, into, room, at);
        if (got < 0 && errno == EINTR)
            continue;
        return got;
    }
}

} // namespace

namespace ClaudeLineLog {

void append(ResumePoint& resume, qint64 atMs, qint64 tokens)
{
    const quint64 step = static_cast<quint64>(atMs) - static_cast<quint64>(resume.lastLineMs);
    char bytes[2 * Varint::maxBytes];
    std::size_t n = Varint::put(bytes, Varint::zigzag(static_cast<qint64>(step)));
    n += Varint::put(bytes + n, static_cast<quint64>(tokens));
    resume.claudeLines.append(bytes, static_cast<qsizetype>(n));
    resume.lastLineMs = atMs;
    resume.newestLineMs = std::max(resume.newestLineMs, atMs);
}

template <typename Visit> void forEach(const QByteArray& log, Visit&& visit)
{
    const char* at = log.constData();
    const char* end = at + log.size();
    quint64 time = 0;
    while (at < end) {
        quint64 zigzag = 0, tokens = 0;
        if (!Varint::get(at, end, zigzag) || !Varint::get(at, end, tokens))
            break;
        time += static_cast<quint64>(Varint::unzigzag(zigzag));
        visit(static_cast<qint64>(time), static_cast<qint64>(tokens));
    }
}

qint64 tokensSince(const ResumePoint& resume, qint64 sinceMs)
{
    qint64 sum = 0;
    if (resume.newestLineMs < sinceMs)
        return sum;
    forEach(resume.claudeLines, [&](qint64 atMs, qint64 tokens) {
        if (atMs >= sinceMs)
            sum = SaturatingMath::add(sum, tokens);
    });
    return sum;
}

std::vector<std::pair<qint64, qint64>> entries(const QByteArray& log)
{
    std::vector<std::pair<qint64, qint64>> result;
    forEach(log, [&](qint64 atMs, qint64 tokens) { result.emplace_back(atMs, tokens); });
    return result;
}

} // namespace ClaudeLineLog

TranscriptScanner::TranscriptScanner(const QTimeZone& zone, Limits limits)
    : m_calendar(zone), m_lines(limits.chunk, limits.maxLine, TranscriptLineDecoder::padding)
{}

quint64 TranscriptScanner::anchorHash(QByteArrayView bytes)
{
    return WordHash::of(std::string_view(bytes.data(), static_cast<std::size_t>(bytes.size())));
}

qint64 TranscriptScanner::scanFile(const QString& path, qint64 size, FileEntry& entry)
{
    const QByteArray native = QFile::encodeName(path);
    // Non-blocking, so that a FIFO put where a transcript was cannot hang the scan before fstat refuses it.
    Fd fd(::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat info = {};
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return -1;

    bool resume = entry.resume && entry.resume->inode == static_cast<quint64>(info.st_ino) &&
                  entry.resume->offset <= size;
    if (resume && entry.resume->offset > 0) {
        const qint64 length = std::min(anchorLength, entry.resume->offset);
        QByteArray before(length, Qt::Uninitialized);
        resume = preadSome(fd.get(), before.data(), static_cast<std::size_t>(length),
                           entry.resume->offset - length) == length &&
                 anchorHash(before) == entry.resume->anchor;
    }
    if (!resume) {
        entry.days.clear();
        entry.resume = ResumePoint{};
    }
    entry.resume->inode = static_cast<quint64>(info.st_ino);

    qint64 at = entry.resume->offset;
    const qint64 start = at;
    run(entry, [&](char* into, std::size_t room) -> qint64 {
        const qint64 left = size - at;
        if (left <= 0)
            return 0;
        const qint64 got =
            preadSome(fd.get(), into, std::min<std::size_t>(room, static_cast<std::size_t>(left)), at);
        if (got > 0)
            at += got;
        return got;
    });

    const qint64 end = entry.resume->offset;
    if (end > start || start == 0) {
        const qint64 length = std::min(anchorLength, end);
        QByteArray before(length, Qt::Uninitialized);
        if (preadSome(fd.get(), before.data(), static_cast<std::size_t>(length), end - length) == length)
            entry.resume->anchor = anchorHash(before);
    }
    return at - start;
}

void TranscriptScanner::scanBytes(QByteArrayView data, std::size_t pieceSize, FileEntry& entry)
{
    if (!entry.resume)
        entry.resume = ResumePoint{};
    qsizetype at = 0;
    pieceSize = std::max<std::size_t>(pieceSize, 1);
    run(entry, [&](char* into, std::size_t room) -> qint64 {
        const auto count =
            static_cast<qsizetype>(std::min({room, pieceSize, static_cast<std::size_t>(data.size() - at)}));
        std::memcpy(into, data.data() + at, static_cast<std::size_t>(count));
        at += count;
        return count;
    });
}

template <typename Read> void TranscriptScanner::run(FileEntry& entry, Read&& read)
{
    m_ids.clear();
    for (const quint64 id : entry.resume->claudeIds)
        m_ids.insert(id);
    const qint64 consumed = m_lines.run(read, [&](std::string_view text) { line(entry, text); });
    entry.resume->offset += consumed;
    finish(entry);
}

void TranscriptScanner::line(FileEntry& entry, std::string_view text)
{
    if (entry.provider == Provider::claude)
        claudeLine(entry, text);
    else
        codexLine(entry, text);
}

void TranscriptScanner::claudeLine(FileEntry& entry, std::string_view text)
{
    using namespace SaturatingMath;
    if (!TranscriptLine::mayBeClaudeUsage(text))
        return;
    ResumePoint& resume = *entry.resume;
    // Each content block of a reply repeats the reply's usage: the quick read stops at the ids of a repeat.
    std::optional<quint64> newId;
    const auto quick =
        QuickClaudeReader::read(text, [&](std::string_view messageId, std::string_view requestId) {
            const quint64 id = idHash(messageId, requestId);
            if (m_ids.contains(id))
                return true;
            newId = id;
            return false;
        });
    std::optional<TranscriptLine::Claude> usage;
    if (quick.outcome == QuickClaudeReader::Outcome::counts)
        usage = quick.line;
    else if (quick.outcome == QuickClaudeReader::Outcome::unsure)
        usage = m_decoder.claude(text, true);
    if (!usage)
        return;
    const qint64 total = add(add(usage->input, usage->output), add(usage->cacheRead, usage->cacheCreation));
    if (total <= 0)
        return;
    if (!usage->messageId.empty() && !usage->requestId.empty()) {
        // A line read quickly was looked up by its ids already.
        const bool lookedUp = quick.outcome == QuickClaudeReader::Outcome::counts && newId;
        const quint64 id = lookedUp ? *newId : idHash(usage->messageId, usage->requestId);
        if (!lookedUp && m_ids.contains(id))
            return;
        m_ids.insert(id);
    }
    const auto local = m_calendar.local(usage->atMs);
    DayTotals& day = entry.days[local.day];
    day.tokens = add(day.tokens, total);
    if (!m_rate || usage->model != m_rateModel) {
        m_rateModel.assign(usage->model);
        m_rate = &Pricing::claudeNanoRate(usage->model);
    }
    day.costNanos = add(day.costNanos, Pricing::claudeCostNanos(*m_rate, usage->input, usage->output,
                                                                usage->cacheRead, usage->cacheCreation));
    day.hours[static_cast<std::size_t>(local.hour)] =
        add(day.hours[static_cast<std::size_t>(local.hour)], total);
    ClaudeLineLog::append(resume, usage->atMs, total);
}

void TranscriptScanner::codexLine(FileEntry& entry, std::string_view text)
{
    using namespace SaturatingMath;
    if (!TranscriptLine::mayBeCodexTokenCount(text))
        return;
    const auto event = m_decoder.codex(text, true);
    if (!event)
        return;
    ResumePoint& resume = *entry.resume;
    if (event->total) {
        // The same event written twice carries unchanged running totals.
        const bool repeated = resume.codexTotal && *resume.codexTotal == *event->total;
        resume.codexTotal = event->total;
        if (repeated)
            return;
    }
    if (!event->atMs || !event->last || event->last->total <= 0)
        return;
    const auto local = m_calendar.local(*event->atMs);
    DayTotals& day = entry.days[local.day];
    const qint64 total = event->last->total;
    day.tokens = add(day.tokens, total);
    day.costNanos = add(day.costNanos, Pricing::codexCostNanos(event->last->input, event->last->cachedInput,
                                                               event->last->output));
    day.hours[static_cast<std::size_t>(local.hour)] =
        add(day.hours[static_cast<std::size_t>(local.hour)], total);
}

void TranscriptScanner::finish(FileEntry& entry)
{
    auto& ids = entry.resume->claudeIds;
    if (m_ids.size() != ids.size()) {
        ids.clear();
        m_ids.appendTo(ids);
    }
    m_ids.clear();
}
