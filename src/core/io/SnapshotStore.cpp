#include "core/io/SnapshotStore.h"

#include "core/io/AppLogger.h"
#include "core/io/AtomicFile.h"
#include "core/io/FileIo.h"
#include "core/io/LocalFileStore.h"
#include "core/io/SnapshotCsvWriter.h"
#include "core/text/JsonLines.h"
#include "core/text/SnapshotLineDecoder.h"

#include <QFile>
#include <QJsonObject>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// How much of the old end of the file must be unchanged for growth to count as an append.
constexpr qint64 tailCheckBytes = 4096;
// The log is read in pieces of this size, so reading costs memory for what it decodes, not for the file.
constexpr qint64 readChunkBytes = 1024 * 1024;
// Failed appends are logged at most this often while they go on failing.
constexpr qint64 failureLogIntervalSeconds = 60;

bool isTerminator(char c)
{
    return c == '\n' || c == '\r';
}

// Where a line ends: at its terminator, or at a NUL byte, which no record holds.
bool isBreak(char c)
{
    return isTerminator(c) || c == '\0';
}

struct LineScan
{
    qint64 end = 0;            // offset just past the last byte read
    qint64 completeEnd = 0;    // offset just past the last line terminator
    bool unterminated = false; // whether the last line handed over had no terminator
};

// Hands each line of [from, to) of the file, without its terminator and untrimmed, to
// `visit(line, terminated)`, reading in bounded pieces: lines longer than the limit are skipped unread, and
// an unterminated rest at the end is handed over last. `peakBytes` grows to the most bytes held at once.
template <typename Visit>
std::optional<LineScan> scanLines(int fd, qint64 from, qint64 to, qint64& peakBytes, Visit&& visit)
{
    LineScan result{from, from, false};
    // A line that runs across pieces, kept only while it stays within the limit.
    QByteArray line;
    bool overLimit = false;
    qint64 offset = from;
    while (offset < to) {
        // A crash can leave a run of NUL bytes, often as a hole the file system does not even store. No
        // record holds one: it ends the torn line before it, and the next line starts after it.
        qint64 data = ::lseek(fd, offset, SEEK_DATA);
        if (data < 0 && errno == ENXIO) {
            struct stat info = {};
            data = ::fstat(fd, &info) == 0 ? info.st_size : offset;
        }
        if (data > offset) {
            line = QByteArray();
            overLimit = false;
            offset = std::min(data, to);
            result.completeEnd = offset;
            continue;
        }
        const auto chunk = FileIo::readAt(fd, offset, std::min(readChunkBytes, to - offset));
        if (!chunk)
            return std::nullopt;
        if (chunk->isEmpty())
            break; // the file shrank meanwhile; the next read starts over
        peakBytes = std::max<qint64>(peakBytes, chunk->size() + line.size());
        const char* const begin = chunk->constData();
        const char* const end = begin + chunk->size();
        const char* start = begin;
        for (;;) {
            const char* stop = std::find_if(start, end, isBreak);
            if (stop == end)
                break;
            if (*stop == '\0') {
                line = QByteArray();
                overLimit = false;
                start = std::find_if(stop, end, [](char c) { return c != '\0'; });
                result.completeEnd = offset + (start - begin);
                continue;
            }
            const QByteArrayView piece(start, stop - start);
            if (!overLimit && line.size() + piece.size() <= SnapshotStore::maxLineBytes) {
                if (line.isEmpty()) {
                    visit(piece, true);
                } else {
                    line += piece;
                    visit(QByteArrayView(line), true);
                }
            }
            line = QByteArray();
            overLimit = false;
            start = stop + 1;
            result.completeEnd = offset + (start - begin);
        }
        const qsizetype rest = end - start;
        if (!overLimit && line.size() + rest > SnapshotStore::maxLineBytes) {
            line = QByteArray();
            overLimit = true;
        } else if (!overLimit) {
            line.append(start, rest);
        }
        offset += chunk->size();
    }
    result.end = offset;
    if (!overLimit && !line.isEmpty()) {
        result.unterminated = true;
        visit(QByteArrayView(line), false);
    }
    return result;
}

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

QByteArrayView trimmed(QByteArrayView line)
{
    qsizetype first = 0;
    qsizetype last = line.size();
    while (first < last && (line[first] == ' ' || line[first] == '\t'))
        ++first;
    while (last > first && (line[last - 1] == ' ' || line[last - 1] == '\t'))
        --last;
    return line.sliced(first, last - first);
}

// A record's "timestamp" alone, readable where the rest of the record is not (a newer writer's values).
struct Stamp
{
    QDateTime timestamp;
    static std::optional<Stamp> fromJson(const QJsonObject& object)
    {
        const std::optional<QDateTime> date =
            JsonLines::decodeDate(object.value(QLatin1StringView("timestamp")));
        return date ? std::optional<Stamp>(Stamp{*date}) : std::nullopt;
    }
};

std::optional<QDateTime> stampOf(QByteArrayView line)
{
    if (line.isEmpty())
        return std::nullopt;
    if (const std::optional<UsageSnapshot> snapshot = SnapshotLineDecoder::decode(line))
        return snapshot->timestamp;
    if (const std::optional<Stamp> stamp = JsonLines::decodeLine<Stamp>(line))
        return stamp->timestamp;
    return std::nullopt;
}

QByteArray encodeLines(const QList<UsageSnapshot>& snapshots)
{
    QByteArray bytes;
    for (const UsageSnapshot& s : snapshots) {
        const QByteArray line = JsonLines::encodeLine(s.toJson());
        if (line.isEmpty())
            continue;
        bytes += line;
        bytes += '\n';
    }
    return bytes;
}

} // namespace

SnapshotStore::SnapshotStore(QString fileName, SnapshotStoreOptions options)
    : m_fileName(std::move(fileName)), m_options(options)
{
    LocalFileStore::ensureDirectories();
}

SnapshotStore::SnapshotStore(QString fileName, ReadOnly) : m_fileName(std::move(fileName)) {}

bool SnapshotStore::append(const UsageSnapshot& snapshot)
{
    return append(QList<UsageSnapshot>{snapshot});
}

bool SnapshotStore::append(const QList<UsageSnapshot>& snapshots)
{
    const QByteArray lines = encodeLines(snapshots);
    if (lines.isEmpty())
        return true;
    return m_queue.syncResult([&] { return appendOnQueue(lines); });
}

SnapshotLog SnapshotStore::log()
{
    return m_queue.syncResult([this] {
        // Lines left over from a failed append get one quick try; a busy lock waits for the next one.
        if (!m_pending.isEmpty())
            writePending(false, std::chrono::milliseconds(0));
        return readOnQueue();
    });
}

QList<UsageSnapshot> SnapshotStore::all()
{
    return log().toList();
}

bool SnapshotStore::scan(const std::function<void(const UsageSnapshot&)>& visit)
{
    return m_queue.syncResult([&] { return scanOnQueue(visit); });
}

bool SnapshotStore::scanOnQueue(const std::function<void(const UsageSnapshot&)>& visit)
{
    const FileIo::Descriptor fd(FileIo::openOwn(m_fileName, O_RDONLY));
    struct stat info = {};
    if (!fd.isOpen())
        return errno == ENOENT; // missing counts as empty
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    return scanLines(fd.get(), 0, info.st_size, m_stats.peakBufferBytes,
                     [&](QByteArrayView line, bool) {
                         line = trimmed(line);
                         if (line.isEmpty())
                             return;
                         if (const std::optional<UsageSnapshot> snapshot = SnapshotLineDecoder::decode(line))
                             visit(*snapshot);
                     })
        .has_value();
}

QList<UsageSnapshot> SnapshotStore::snapshots(Provider provider, WindowKind window, const QString& account)
{
    QList<UsageSnapshot> matching;
    for (const UsageSnapshot& s : log()) {
        if (s.provider == provider && s.windowKind == window && s.account.value_or(QString()) == account)
            matching.append(s);
    }
    std::stable_sort(matching.begin(), matching.end(), [](const UsageSnapshot& a, const UsageSnapshot& b) {
        return a.timestamp < b.timestamp;
    });
    return matching;
}

std::optional<UsageSnapshot> SnapshotStore::newest(Provider provider, WindowKind window,
                                                   const QString& account)
{
    return m_queue.syncResult([&]() -> std::optional<UsageSnapshot> {
        readOnQueue();
        const auto found = m_newest.constFind(account);
        if (found == m_newest.constEnd())
            return std::nullopt;
        return (*found)[std::size_t(provider)][std::size_t(window)];
    });
}

std::optional<UsageSnapshot>& SnapshotStore::newestSlot(const UsageSnapshot& s)
{
    return m_newest[s.account.value_or(QString())][std::size_t(s.provider)][std::size_t(s.windowKind)];
}

bool SnapshotStore::prune(qint64 retentionDays)
{
    return prune(retentionDays, *m_options.clock);
}

bool SnapshotStore::prune(qint64 retentionDays, const Clock& clock)
{
    return m_queue.syncResult([&] { return pruneOnQueue(retentionDays, clock.now()); });
}

void SnapshotStore::pruneLater(qint64 retentionDays, const Clock& clock, std::function<void(bool)> done)
{
    m_queue.async([this, retentionDays, now = clock.now(), done = std::move(done)] {
        const bool pruned = pruneOnQueue(retentionDays, now);
        if (done)
            done(pruned);
    });
}

bool SnapshotStore::pruneOnQueue(qint64 retentionDays, const QDateTime& now)
{
    // A negative retention would wipe the whole log, future stamps included; it means "nothing older than
    // now".
    constexpr qint64 maxDays = 100'000'000; // beyond any calendar: keep everything
    const qint64 days = std::clamp<qint64>(retentionDays, 0, maxDays);
    const QDateTime cutoff = now.addSecs(-days * 86'400);
    // Without the lock another process's append could fall between the read and the replace.
    const FileLock lock(lockFileName(), m_options.lockWait);
    if (!lock.isLocked()) {
        if (lock.state() == FileLock::State::timedOut)
            AppLogger::shared().warn(
                QStringLiteral("Snapshot log prune skipped: another writer holds its lock"));
        return false;
    }
    if (!m_pending.isEmpty())
        writePending(true, std::chrono::milliseconds(0));
    const FileIo::Descriptor fd(FileIo::openOwn(m_fileName, O_RDONLY));
    struct stat info = {};
    if (fd.isOpen() ? ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) : errno != ENOENT)
        return false; // an unreadable log is not an empty one: never replace it
    // Surviving lines are copied as written, so members this version does not know (a newer writer's) stay.
    const auto copyKept = [&](int out) {
        if (!fd.isOpen())
            return true;
        QByteArray kept;
        bool written = true;
        const auto scanned =
            scanLines(fd.get(), 0, info.st_size, m_stats.peakBufferBytes, [&](QByteArrayView line, bool) {
                const std::optional<QDateTime> stamp = stampOf(trimmed(line));
                if (!written || !stamp || *stamp < cutoff)
                    return;
                kept += line;
                kept += '\n';
                if (kept.size() >= readChunkBytes) {
                    written = FileIo::writeFully(out, kept);
                    kept.clear();
                }
            });
        return written && scanned && FileIo::writeFully(out, kept);
    };
    QString error;
    if (AtomicFile::write(m_fileName, copyKept, &error))
        return true;
    AppLogger::shared().error(QStringLiteral("Snapshot log prune failed: ") + error);
    return false;
}

bool SnapshotStore::clear()
{
    return m_queue.syncResult([&] {
        const FileLock lock(lockFileName(), m_options.lockWait);
        if (!lock.isLocked())
            return false;
        readOnQueue();
        if (!m_lastReadOk)
            return false; // an unreadable log is not an empty one: never replace it
        m_pending.clear();
        return rewriteOnQueue({});
    });
}

std::optional<QString> SnapshotStore::exportCSV(const std::optional<QString>& destination)
{
    const QString target = destination.value_or(LocalFileStore::path(QStringLiteral("tallyvane-export.csv")));
    return m_queue.syncResult([&] { return exportOnQueue(target); });
}

std::optional<QString> SnapshotStore::exportOnQueue(const QString& target)
{
    // Streamed from the file, not the cache: a long log costs neither a decoded copy nor a whole document.
    SnapshotCsvWriter rows;
    bool added = true;
    int addError = 0;
    const bool read = scanOnQueue([&](const UsageSnapshot& s) {
        if (added && !rows.add(s)) {
            added = false;
            addError = errno;
        }
    });
    QString error;
    if (!read)
        error = QStringLiteral("the snapshot log could not be read");
    else if (!added)
        error = systemError(addError);
    const auto finish = [&](int fd) { return rows.finish(fd); };
    if (!error.isEmpty() || !AtomicFile::write(target, finish, &error)) {
        m_lastExportError = error;
        AppLogger::shared().error(QStringLiteral("CSV export failed: ") + error);
        return std::nullopt;
    }
    m_lastExportError.clear();
    return target;
}

QString SnapshotStore::lastExportError()
{
    return m_queue.syncResult([this] { return m_lastExportError; });
}

qsizetype SnapshotStore::pendingBytes()
{
    return m_queue.syncResult([this] { return m_pending.size(); });
}

SnapshotStore::ReadStats SnapshotStore::readStats()
{
    return m_queue.syncResult([this] { return m_stats; });
}

void SnapshotStore::forgetCache(const FileKey& key, bool readOk)
{
    m_cache.clear();
    m_cacheKey = key;
    m_lastReadOk = readOk;
    m_completeEnd = 0;
    m_tailCount = 0;
    m_tailBytes.clear();
    m_newest.clear();
    m_strings.clear();
}

SnapshotLog SnapshotStore::readOnQueue()
{
    ++m_stats.attributeLookups;
    const QByteArray path = QFile::encodeName(m_fileName);
    struct stat info = {};
    if (::stat(path.constData(), &info) != 0) {
        // Missing (or unreachable) counts as empty.
        forgetCache(FileKey{}, errno == ENOENT || errno == ENOTDIR);
        return m_cache;
    }
    const auto keyOf = [](const struct stat& st) {
        return FileKey{static_cast<quint64>(st.st_dev), static_cast<quint64>(st.st_ino),
                       static_cast<qint64>(st.st_size),
                       static_cast<qint64>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
    };
    if (m_cacheKey && *m_cacheKey == keyOf(info))
        return m_cache;

    const FileIo::Descriptor fd(FileIo::openOwn(m_fileName, O_RDONLY));
    struct stat opened = {};
    if (!fd.isOpen() || ::fstat(fd.get(), &opened) != 0 || !S_ISREG(opened.st_mode)) {
        forgetCache(keyOf(info), false);
        return m_cache;
    }
    const FileKey key = keyOf(opened);
    const bool grewInPlace = m_cacheKey && m_lastReadOk && m_cacheKey->device == key.device &&
                             m_cacheKey->inode == key.inode && key.size > m_cacheKey->size;
    if (!(grewInPlace && readAppended(fd.get(), key)) && !readWhole(fd.get(), key))
        forgetCache(key, false);
    return m_cache;
}

bool SnapshotStore::readWhole(int fd, const FileKey& key)
{
    forgetCache(key, true);
    const std::optional<Decoded> decoded = decodeRange(fd, 0, key.size);
    if (!decoded || !rememberTail(fd, decoded->end))
        return false;
    ++m_stats.fullReads;
    m_stats.bytesDecoded += decoded->end;
    m_completeEnd = decoded->completeEnd;
    m_tailCount = decoded->tailCount;
    m_cacheKey = FileKey{key.device, key.inode, decoded->end, key.mtimeNs};
    return true;
}

bool SnapshotStore::readAppended(int fd, const FileKey& key)
{
    const qint64 oldEnd = m_cacheKey->size;
    const qint64 checkStart = oldEnd - m_tailBytes.size();
    const auto check = FileIo::readAt(fd, checkStart, m_tailBytes.size());
    if (!check || *check != m_tailBytes)
        return false;

    ++m_stats.incrementalReads;
    // The old unterminated last line is decoded again with whatever now follows it.
    removeTail(m_tailCount);
    const std::optional<Decoded> decoded = decodeRange(fd, m_completeEnd, key.size);
    if (!decoded || !rememberTail(fd, decoded->end))
        return false;
    m_stats.bytesDecoded += decoded->end - m_completeEnd;
    m_completeEnd = decoded->completeEnd;
    m_tailCount = decoded->tailCount;
    m_cacheKey = FileKey{key.device, key.inode, decoded->end, key.mtimeNs};
    return true;
}

std::optional<SnapshotStore::Decoded> SnapshotStore::decodeRange(int fd, qint64 from, qint64 to)
{
    qsizetype lastDecoded = 0;
    const std::optional<LineScan> scanned =
        scanLines(fd, from, to, m_stats.peakBufferBytes,
                  [&](QByteArrayView line, bool) { lastDecoded = decodeLine(line); });
    if (!scanned)
        return std::nullopt;
    return Decoded{scanned->end, scanned->completeEnd, scanned->unterminated ? lastDecoded : 0};
}

qsizetype SnapshotStore::decodeLine(QByteArrayView line)
{
    line = trimmed(line);
    if (line.isEmpty())
        return 0;
    std::optional<UsageSnapshot> decoded = SnapshotLineDecoder::decode(line);
    if (!decoded)
        return 0;
    m_strings.intern(*decoded);
    std::optional<UsageSnapshot>& newest = newestSlot(*decoded);
    // As a stable ascending sort would leave it last: on equal timestamps the later line wins.
    if (!newest || !(decoded->timestamp < newest->timestamp))
        newest = *decoded;
    m_cache.append(std::move(*decoded));
    return 1;
}

void SnapshotStore::removeTail(qsizetype count)
{
    count = std::min(count, m_cache.size());
    for (qsizetype i = m_cache.size() - count; i < m_cache.size(); ++i) {
        const UsageSnapshot& gone = m_cache[i];
        std::optional<UsageSnapshot>& newest = newestSlot(gone);
        if (!newest || newest->id != gone.id)
            continue;
        // Rare (an unterminated last line that grew): find the series' newest among what stays.
        newest.reset();
        for (qsizetype j = 0; j < m_cache.size() - count; ++j) {
            const UsageSnapshot& s = m_cache[j];
            if (s.provider == gone.provider && s.windowKind == gone.windowKind && s.account == gone.account &&
                (!newest || !(s.timestamp < newest->timestamp)))
                newest = s;
        }
    }
    m_cache.removeLast(count);
}

bool SnapshotStore::rememberTail(int fd, qint64 end)
{
    const qint64 start = std::max<qint64>(0, end - tailCheckBytes);
    auto bytes = FileIo::readAt(fd, start, end - start);
    if (!bytes || bytes->size() != end - start)
        return false;
    m_tailBytes = std::move(*bytes);
    return true;
}

bool SnapshotStore::appendOnQueue(const QByteArray& lines)
{
    m_pending += lines;
    return !writePending(false, m_options.lockWait).has_value();
}

std::optional<QString> SnapshotStore::writePending(bool locked, std::chrono::milliseconds lockWait)
{
    std::optional<QString> failure;
    if (locked) {
        failure = writeLines(m_pending, true);
    } else {
        const FileLock lock(lockFileName(), lockWait);
        if (lock.state() == FileLock::State::timedOut)
            failure = QStringLiteral("another writer held the lock for too long");
        else
            // Without a lock file (read-only folder) the log itself may still take the lines.
            failure = writeLines(m_pending, lock.isLocked());
    }
    if (!failure) {
        m_pending.clear();
        m_lastFailureLogged.reset();
        m_failuresSinceLogged = 0;
        return std::nullopt;
    }
    if (m_pending.size() > maxPendingBytes) {
        // Keeps the newest whole lines.
        const qsizetype cut = m_pending.indexOf('\n', m_pending.size() - maxPendingBytes - 1);
        m_pending.remove(0, cut < 0 ? m_pending.size() : cut + 1);
    }
    reportAppendFailure(*failure);
    return failure;
}

std::optional<QString> SnapshotStore::writeLines(const QByteArray& lines, bool locked)
{
    int raw = FileIo::openOwn(m_fileName, O_RDWR | O_APPEND | O_CREAT);
    if (raw < 0 && errno == EACCES)
        raw = FileIo::openOwn(m_fileName, O_WRONLY | O_APPEND);
    const FileIo::Descriptor fd(raw);
    if (!fd.isOpen()) {
        const int openError = errno;
        QString error;
        if (!QFile::exists(m_fileName) && AtomicFile::write(m_fileName, lines, &error))
            return std::nullopt;
        // An existing file we cannot open is left alone.
        return error.isEmpty() ? systemError(openError) : error;
    }
    struct stat info = {};
    if (::fstat(fd.get(), &info) != 0)
        return systemError(errno);
    if (!S_ISREG(info.st_mode))
        return QStringLiteral("%1 is not a regular file")
            .arg(m_fileName); // never write into a pipe or device
    // A log cut short by a crash or a failed write ends mid-line; start on a fresh line so these are not
    // glued onto the broken one.
    QByteArray bytes;
    if (info.st_size > 0) {
        const auto last = FileIo::readAt(fd.get(), info.st_size - 1, 1);
        if (last && last->size() == 1 && !isTerminator(last->front()))
            bytes += '\n';
    }
    bytes += lines;
    errno = 0;
    if (FileIo::writeFully(fd.get(), bytes))
        return std::nullopt;
    const int writeError = errno ? errno : EIO;
    // Under the lock nobody else wrote since: take back the part written, so the batch lands whole or not
    // at all.
    if (locked && ::ftruncate(fd.get(), info.st_size) != 0)
        AppLogger::shared().warn(
            QStringLiteral("Snapshot log: could not take back a partly written batch: %1")
                .arg(systemError(errno)));
    return systemError(writeError);
}

void SnapshotStore::reportAppendFailure(const QString& reason)
{
    ++m_failuresSinceLogged;
    const QDateTime now = m_options.clock->now();
    if (m_lastFailureLogged) {
        const qint64 since = m_lastFailureLogged->secsTo(now);
        if (since >= 0 && since < failureLogIntervalSeconds)
            return;
    }
    QString message = QStringLiteral("Snapshot log append failed: ") + reason;
    if (m_failuresSinceLogged > 1)
        message += QStringLiteral(" (%1 failures since the last report)").arg(m_failuresSinceLogged);
    const qsizetype waiting = m_pending.count('\n');
    message += QStringLiteral("; %1 snapshots wait for the next try").arg(waiting);
    AppLogger::shared().error(message);
    m_lastFailureLogged = now;
    m_failuresSinceLogged = 0;
}

bool SnapshotStore::rewriteOnQueue(const QList<UsageSnapshot>& snapshots)
{
    QString error;
    if (AtomicFile::write(m_fileName, encodeLines(snapshots), &error))
        return true;
    AppLogger::shared().error(QStringLiteral("Snapshot log prune failed: ") + error);
    return false;
}
