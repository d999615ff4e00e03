#pragma once

#include "core/SerialQueue.h"
#include "core/SnapshotLog.h"
#include "core/UsageSnapshot.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// The append-only log of quota observations, "snapshots.ndjson", one JSON object per line.
// Every file access runs on the store's serial queue; other processes (the status-line bridge) append
// under the same advisory lock.
//
// Locking protocol shared with every other writer of the log: take flock(LOCK_EX) on the sibling file
// "<log>.lock" (for the data folder's log: "snapshots.ndjson.lock"), then open the log, append whole lines
// ending in "\n", close it, and release the lock. The lock lives on a separate file because a prune
// replaces the log by renaming a new file over it, which a lock on the log itself would not survive.
class SnapshotStore
{
public:
    explicit SnapshotStore(QString fileName);
    // Reads an existing log without creating the data folder or any file (the one-shot status report).
    struct ReadOnly
    {};
    SnapshotStore(QString fileName, ReadOnly);

    void append(const UsageSnapshot& snapshot);
    void append(const QList<UsageSnapshot>& snapshots);

    // The whole log, re-read only when the file changed since the last call (only the new bytes when it just
    // grew). Lines decode one by one, so a line with invalid UTF-8 costs itself, not the whole log.
    // Shares the store's cache: holding it costs nothing, and the store's next append leaves it as it was.
    SnapshotLog log();
    // The same as one plain list (a copy).
    QList<UsageSnapshot> all();
    // One provider's window, ascending by timestamp (stable).
    QList<UsageSnapshot> snapshots(Provider provider, WindowKind window);
    // Keeps what is stamped at or after now − retentionDays days; the file is rewritten even when nothing
    // goes.
    void prune(qint64 retentionDays);
    // Rewrites the log with no snapshots (an unreadable log is left alone, as by prune).
    void clear();
    // Writes the CSV export (default: the data folder's "tallyvane-export.csv"); the path written, or
    // nothing.
    std::optional<QString> exportCSV(const std::optional<QString>& destination = std::nullopt);

    const QString& fileName() const { return m_fileName; }
    QString lockFileName() const { return m_fileName + QStringLiteral(".lock"); }
    // Why the last CSV export failed; empty after a success.
    QString lastExportError();

    // How log() came by its answers, for tests and benchmarks.
    struct ReadStats
    {
        qint64 attributeLookups = 0;
        qint64 fullReads = 0;
        qint64 incrementalReads = 0;
        qint64 bytesDecoded = 0;
    };
    ReadStats readStats();

private:
    // The file as last seen: identity, size and modification time (nanoseconds).
    struct FileKey
    {
        quint64 device = 0;
        quint64 inode = 0;
        qint64 size = 0;
        qint64 mtimeNs = 0;
        friend bool operator==(const FileKey&, const FileKey&) = default;
    };

    SnapshotLog readOnQueue();
    bool readWhole(int fd, const FileKey& key);
    bool readAppended(int fd, const FileKey& key);
    void rememberTail(const QByteArray& bytesBeforeEnd);
    void appendOnQueue(const QByteArray& line);
    void rewriteOnQueue(const QList<UsageSnapshot>& snapshots);

    QString m_fileName;
    SnapshotLog m_cache;
    std::optional<FileKey> m_cacheKey;
    // False when the last read failed for a file that exists; prune then leaves the file alone.
    bool m_lastReadOk = true;
    // Offset just past the last line terminator read, and how many cached snapshots came after it
    // (an unterminated last line, decoded again once the file grows).
    qint64 m_completeEnd = 0;
    qsizetype m_tailCount = 0;
    // The bytes just before the end of the file as last read; growth only counts as an append when they
    // are unchanged.
    QByteArray m_tailBytes;
    ReadStats m_stats;
    QString m_lastExportError;
    SerialQueue m_queue{QStringLiteral("tallyvane.snapshotstore")};
};
