#pragma once

#include "core/io/FileLock.h"
#include "core/model/SnapshotLog.h"
#include "core/model/StringPool.h"
#include "core/model/UsageSnapshot.h"
#include "core/runtime/Clock.h"
#include "core/runtime/SerialQueue.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

#include <array>
#include <chrono>
#include <functional>
#include <optional>

struct SnapshotStoreOptions
{
    // "Now" for pruning and for spacing out failure messages; must outlive the store.
    const Clock* clock = &Clock::system();
    // How long a write waits for another writer's lock before giving up for this time.
    std::chrono::milliseconds lockWait = FileLock::defaultWait;
};

// The append-only log of quota observations, "snapshots.ndjson", one JSON object per line.
// Every file access runs on the store's serial queue; other processes (the status-line bridge) append
// under the same advisory lock.
//
// Locking protocol shared with every other writer of the log: take flock(LOCK_EX) on the sibling file
// "<log>.lock" (for the data folder's log: "snapshots.ndjson.lock"), then open the log; if it is not empty
// and its last byte is not a line feed (a writer died mid-line), write "\n" first; append whole lines
// ending in "\n", each batch in one write(); close it, and release the lock. The lock lives on a separate
// file because a prune replaces the log by renaming a new file over it, which a lock on the log itself
// would not survive. Readers take no lock: they decode complete lines, and a complete record glued onto a
// torn fragment by a writer that skipped the line feed is still found.
class SnapshotStore
{
public:
    // Longer lines are skipped unread: no writer makes them, and holding one would cost its whole size.
    static constexpr qsizetype maxLineBytes = 64 * 1024;
    // Snapshots whose append failed wait in memory for the next try, up to this many bytes (the oldest go
    // first beyond it).
    static constexpr qsizetype maxPendingBytes = 1024 * 1024;

    explicit SnapshotStore(QString fileName, SnapshotStoreOptions options = {});
    // Reads an existing log without creating the data folder or any file (the one-shot status report).
    struct ReadOnly
    {};
    SnapshotStore(QString fileName, ReadOnly);

    // Writes the snapshots in one write() under one lock, so a reader or a crash sees all or none of them.
    // False when they could not be written now (the lock stayed taken, the disk is full...): they are then
    // kept and written, in order, before the next append or read, and the failure is logged (at most once
    // a minute while failures go on).
    bool append(const UsageSnapshot& snapshot);
    bool append(const QList<UsageSnapshot>& snapshots);

    // The whole log, re-read only when the file changed since the last call (only the new bytes when it just
    // grew), in bounded pieces. Lines decode one by one, so a line with invalid UTF-8 costs itself, not the
    // whole log. Shares the store's cache: holding it costs nothing, and the store's next append leaves it
    // as it was.
    SnapshotLog log();
    // The same as one plain list (a copy).
    QList<UsageSnapshot> all();
    // Each snapshot of the log in file order, read straight from the file in bounded pieces without filling
    // the cache: memory stays the same whatever the log's size. False when the log exists but cannot be
    // read.
    bool scan(const std::function<void(const UsageSnapshot&)>& visit);
    // One provider's window of one account (empty: the default one), ascending by timestamp (stable).
    QList<UsageSnapshot> snapshots(Provider provider, WindowKind window, const QString& account = {});
    // The newest snapshot of one account's window (the later line on equal timestamps), kept up to date as
    // the log is read: costs a file-attribute lookup when nothing changed.
    std::optional<UsageSnapshot> newest(Provider provider, WindowKind window, const QString& account = {});

    // Keeps what is stamped at or after now − retentionDays days; the file is rewritten even when nothing
    // goes. False when the log was left as it was (unreadable, lock not granted, write failed).
    bool prune(qint64 retentionDays);
    bool prune(qint64 retentionDays, const Clock& clock);
    // The same on the store's queue, returning at once (the clock is read at once); `done` runs on that
    // queue afterwards.
    void pruneLater(qint64 retentionDays, const Clock& clock, std::function<void(bool)> done = {});
    // Rewrites the log with no snapshots, dropping any still waiting to be appended; false as for prune.
    bool clear();

    // Writes the CSV export (default: the data folder's "tallyvane-export.csv"); the path written, or
    // nothing. Replaces only a regular file (following a symbolic link) or creates one.
    std::optional<QString> exportCSV(const std::optional<QString>& destination = std::nullopt);

    const QString& fileName() const { return m_fileName; }
    QString lockFileName() const { return m_fileName + QStringLiteral(".lock"); }
    // Why the last CSV export failed; empty after a success.
    QString lastExportError();
    // Bytes of snapshots still waiting for a successful append.
    qsizetype pendingBytes();

    // How log() came by its answers, for tests and benchmarks.
    struct ReadStats
    {
        qint64 attributeLookups = 0;
        qint64 fullReads = 0;
        qint64 incrementalReads = 0;
        qint64 bytesDecoded = 0;
        // The most file bytes held at once while reading.
        qint64 peakBufferBytes = 0;
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
    // What decoding a stretch of the file found.
    struct Decoded
    {
        qint64 end = 0;         // offset just past the last byte read
        qint64 completeEnd = 0; // offset just past the last line terminator
        qsizetype tailCount = 0;
    };

    SnapshotLog readOnQueue();
    void forgetCache(const FileKey& key, bool readOk);
    bool readWhole(int fd, const FileKey& key);
    bool readAppended(int fd, const FileKey& key);
    std::optional<Decoded> decodeRange(int fd, qint64 from, qint64 to);
    qsizetype decodeLine(QByteArrayView line);
    void removeTail(qsizetype count);
    bool rememberTail(int fd, qint64 end);

    bool appendOnQueue(const QByteArray& lines);
    // Writes pending lines; with `locked` false it takes the lock itself. The failure's description, or
    // nothing on success.
    std::optional<QString> writePending(bool locked, std::chrono::milliseconds lockWait);
    std::optional<QString> writeLines(const QByteArray& lines, bool locked);
    void reportAppendFailure(const QString& reason);
    bool pruneOnQueue(qint64 retentionDays, const QDateTime& now);
    bool scanOnQueue(const std::function<void(const UsageSnapshot&)>& visit);
    std::optional<QString> exportOnQueue(const QString& target);
    bool rewriteOnQueue(const QList<UsageSnapshot>& snapshots);

    static constexpr std::size_t kProviders = allProviders.size();
    static constexpr std::size_t kWindows = allWindowKinds.size();

    QString m_fileName;
    SnapshotStoreOptions m_options;
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
    using NewestOfAccount = std::array<std::array<std::optional<UsageSnapshot>, kWindows>, kProviders>;
    // By account key, the default account under the empty one.
    QHash<QString, NewestOfAccount> m_newest;
    std::optional<UsageSnapshot>& newestSlot(const UsageSnapshot& s);
    StringPool m_strings;
    // Encoded lines whose append failed, oldest first.
    QByteArray m_pending;
    std::optional<QDateTime> m_lastFailureLogged;
    qint64 m_failuresSinceLogged = 0;
    ReadStats m_stats;
    QString m_lastExportError;
    SerialQueue m_queue{QStringLiteral("tallyvane.snapshotstore")};
};
