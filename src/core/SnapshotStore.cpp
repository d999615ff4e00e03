#include "core/SnapshotStore.h"

#include "core/AppLogger.h"
#include "core/FileIo.h"
#include "core/FileLock.h"
#include "core/JsonLines.h"
#include "core/LocalFileStore.h"
#include "core/SnapshotCsv.h"
#include "core/SnapshotLineDecoder.h"

#include <QDateTime>
#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// How much of the old end of the file must be unchanged for growth to count as an append.
constexpr qint64 tailCheckBytes = 4096;

// A descriptor closed on every path out.
class FileDescriptor
{
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }

private:
    int m_fd;
};

qsizetype completeEndOf(QByteArrayView bytes)
{
    for (qsizetype i = bytes.size(); i > 0; --i) {
        if (bytes[i - 1] == '\n' || bytes[i - 1] == '\r')
            return i;
    }
    return 0;
}

bool writeAtomically(const QString& fileName, const QByteArray& bytes, QString* error = nullptr)
{
    QSaveFile file(fileName);
    const bool ok = file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
    if (!ok && error)
        *error = file.errorString();
    return ok;
}

} // namespace

SnapshotStore::SnapshotStore(QString fileName) : m_fileName(std::move(fileName))
{
    LocalFileStore::ensureDirectories();
}

SnapshotStore::SnapshotStore(QString fileName, ReadOnly) : m_fileName(std::move(fileName)) {}

void SnapshotStore::append(const UsageSnapshot& snapshot)
{
    QByteArray line = JsonLines::encodeLine(snapshot.toJson());
    if (line.isEmpty())
        return;
    line += '\n';
    m_queue.sync([&] { appendOnQueue(line); });
}

void SnapshotStore::append(const QList<UsageSnapshot>& snapshots)
{
    for (const UsageSnapshot& snapshot : snapshots)
        append(snapshot);
}

SnapshotLog SnapshotStore::log()
{
    return m_queue.syncResult([this] { return readOnQueue(); });
}

QList<UsageSnapshot> SnapshotStore::all()
{
    return log().toList();
}

QList<UsageSnapshot> SnapshotStore::snapshots(Provider provider, WindowKind window)
{
    QList<UsageSnapshot> matching;
    for (const UsageSnapshot& s : log()) {
        if (s.provider == provider && s.windowKind == window)
            matching.append(s);
    }
    std::stable_sort(matching.begin(), matching.end(), [](const UsageSnapshot& a, const UsageSnapshot& b) {
        return a.timestamp < b.timestamp;
    });
    return matching;
}

void SnapshotStore::prune(qint64 retentionDays)
{
    // A negative retention would wipe the whole log, future stamps included; it means "nothing older than
    // now".
    constexpr qint64 maxDays = 100'000'000; // beyond any calendar: keep everything
    const qint64 days = std::clamp<qint64>(retentionDays, 0, maxDays);
    const QDateTime cutoff = QDateTime::currentDateTimeUtc().addSecs(-days * 86'400);
    m_queue.sync([&] {
        // Without the lock another process's append could fall between the read and the replace.
        FileLock lock(lockFileName());
        if (!lock.isLocked())
            return;
        const SnapshotLog current = readOnQueue();
        if (!m_lastReadOk)
            return; // an unreadable log is not an empty one: never replace it
        QList<UsageSnapshot> kept;
        kept.reserve(current.size());
        for (const UsageSnapshot& s : current) {
            if (s.timestamp >= cutoff)
                kept.append(s);
        }
        rewriteOnQueue(kept);
    });
}

void SnapshotStore::clear()
{
    m_queue.sync([&] {
        FileLock lock(lockFileName());
        if (!lock.isLocked())
            return;
        readOnQueue();
        if (m_lastReadOk)
            rewriteOnQueue({});
    });
}

std::optional<QString> SnapshotStore::exportCSV(const std::optional<QString>& destination)
{
    const QString target = destination.value_or(LocalFileStore::path(QStringLiteral("tallyvane-export.csv")));
    return m_queue.syncResult([&]() -> std::optional<QString> {
        QList<UsageSnapshot> rows = readOnQueue().toList();
        std::stable_sort(rows.begin(), rows.end(), [](const UsageSnapshot& a, const UsageSnapshot& b) {
            return a.timestamp < b.timestamp;
        });
        QString error;
        if (!writeAtomically(target, SnapshotCsv::document(rows), &error)) {
            m_lastExportError = error;
            AppLogger::shared().error(QStringLiteral("CSV export failed: ") + error);
            return std::nullopt;
        }
        m_lastExportError.clear();
        return target;
    });
}

QString SnapshotStore::lastExportError()
{
    return m_queue.syncResult([this] { return m_lastExportError; });
}

SnapshotStore::ReadStats SnapshotStore::readStats()
{
    return m_queue.syncResult([this] { return m_stats; });
}

SnapshotLog SnapshotStore::readOnQueue()
{
    ++m_stats.attributeLookups;
    const QByteArray path = QFile::encodeName(m_fileName);
    struct stat info
    {};
    if (::stat(path.constData(), &info) != 0) {
        // Missing (or unreachable) counts as empty.
        m_cache.clear();
        m_cacheKey = FileKey{};
        m_lastReadOk = errno == ENOENT || errno == ENOTDIR;
        m_completeEnd = 0;
        m_tailCount = 0;
        m_tailBytes.clear();
        return m_cache;
    }
    const auto keyOf = [](const struct stat& st) {
        return FileKey{static_cast<quint64>(st.st_dev), static_cast<quint64>(st.st_ino),
                       static_cast<qint64>(st.st_size),
                       static_cast<qint64>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
    };
    if (m_cacheKey && *m_cacheKey == keyOf(info))
        return m_cache;

    const FileDescriptor fd(::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat opened
    {};
    if (!fd.isOpen() || ::fstat(fd.get(), &opened) != 0 || !S_ISREG(opened.st_mode)) {
        m_cache.clear();
        m_cacheKey = keyOf(info);
        m_lastReadOk = false;
        m_completeEnd = 0;
        m_tailCount = 0;
        m_tailBytes.clear();
        return m_cache;
    }
    const FileKey key = keyOf(opened);
    const bool grewInPlace = m_cacheKey && m_lastReadOk && m_cacheKey->device == key.device &&
                             m_cacheKey->inode == key.inode && key.size > m_cacheKey->size;
    if (!(grewInPlace && readAppended(fd.get(), key)) && !readWhole(fd.get(), key)) {
        m_cache.clear();
        m_cacheKey = key;
        m_lastReadOk = false;
        m_completeEnd = 0;
        m_tailCount = 0;
        m_tailBytes.clear();
    }
    return m_cache;
}

bool SnapshotStore::readWhole(int fd, const FileKey& key)
{
    const auto bytes = FileIo::readAt(fd, 0, key.size);
    if (!bytes)
        return false;
    ++m_stats.fullReads;
    m_stats.bytesDecoded += bytes->size();
    const qsizetype completeEnd = completeEndOf(*bytes);
    m_cache.clear();
    SnapshotLineDecoder::appendDecodedLines(QByteArrayView(*bytes).first(completeEnd), m_cache);
    m_tailCount =
        SnapshotLineDecoder::appendDecodedLines(QByteArrayView(*bytes).sliced(completeEnd), m_cache);
    m_completeEnd = completeEnd;
    m_cacheKey = FileKey{key.device, key.inode, bytes->size(), key.mtimeNs};
    m_lastReadOk = true;
    rememberTail(*bytes);
    return true;
}

bool SnapshotStore::readAppended(int fd, const FileKey& key)
{
    const qint64 oldEnd = m_cacheKey->size;
    const qint64 checkStart = oldEnd - m_tailBytes.size();
    const qint64 readStart = std::min(checkStart, m_completeEnd);
    const auto bytes = FileIo::readAt(fd, readStart, key.size - readStart);
    if (!bytes || bytes->size() < oldEnd - readStart)
        return false;
    const QByteArrayView check = QByteArrayView(*bytes).sliced(checkStart - readStart, m_tailBytes.size());
    if (check != QByteArrayView(m_tailBytes))
        return false;

    ++m_stats.incrementalReads;
    const QByteArrayView fresh = QByteArrayView(*bytes).sliced(m_completeEnd - readStart);
    m_stats.bytesDecoded += fresh.size();
    // The old unterminated last line is decoded again with whatever now follows it.
    m_cache.removeLast(m_tailCount);
    const qsizetype completeEnd = completeEndOf(fresh);
    SnapshotLineDecoder::appendDecodedLines(fresh.first(completeEnd), m_cache);
    m_tailCount = SnapshotLineDecoder::appendDecodedLines(fresh.sliced(completeEnd), m_cache);
    m_completeEnd += completeEnd;
    m_cacheKey = FileKey{key.device, key.inode, readStart + bytes->size(), key.mtimeNs};
    rememberTail(*bytes);
    return true;
}

void SnapshotStore::rememberTail(const QByteArray& bytesBeforeEnd)
{
    m_tailBytes = bytesBeforeEnd.right(tailCheckBytes);
}

void SnapshotStore::appendOnQueue(const QByteArray& line)
{
    // Proceeds without the lock when the lock file cannot be made (read-only folder): the log itself may
    // still take the line, and an append never replaces anything.
    const FileLock lock(lockFileName());
    const QByteArray path = QFile::encodeName(m_fileName);
    int raw = ::open(path.constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (raw < 0)
        raw = ::open(path.constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
    const FileDescriptor fd(raw);
    if (!fd.isOpen()) {
        if (!QFile::exists(m_fileName))
            writeAtomically(m_fileName, line);
        return; // an existing file we cannot open is left alone
    }
    // A log cut short by a crash or a failed write ends mid-line; start on a fresh line so this one
    // is not glued onto the broken one.
    QByteArray bytes;
    struct stat info
    {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return; // never write into a pipe or device standing where the log should be
    if (info.st_size > 0) {
        const auto last = FileIo::readAt(fd.get(), info.st_size - 1, 1);
        if (last && last->size() == 1 && last->front() != '\n' && last->front() != '\r')
            bytes += '\n';
    }
    bytes += line;
    FileIo::writeFully(fd.get(), bytes);
}

void SnapshotStore::rewriteOnQueue(const QList<UsageSnapshot>& snapshots)
{
    QByteArray bytes;
    for (const UsageSnapshot& s : snapshots) {
        const QByteArray line = JsonLines::encodeLine(s.toJson());
        if (line.isEmpty())
            continue;
        bytes += line;
        bytes += '\n';
    }
    writeAtomically(m_fileName, bytes);
}
