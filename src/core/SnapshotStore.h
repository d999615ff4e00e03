#pragma once

#include "core/SerialQueue.h"
#include "core/UsageSnapshot.h"

#include <QList>
#include <QString>

#include <optional>

// The append-only log of quota observations, "snapshots.ndjson", one JSON object per line.
// Every file access runs on the store's serial queue; other processes (the status-line bridge) append
// under the same advisory lock.
class SnapshotStore
{
public:
    explicit SnapshotStore(QString fileName);

    void append(const UsageSnapshot& snapshot);
    void append(const QList<UsageSnapshot>& snapshots);

    // The whole log, re-read only when the file changed since the last call.
    QList<UsageSnapshot> all();
    // One provider's window, ascending by timestamp (stable).
    QList<UsageSnapshot> snapshots(Provider provider, WindowKind window);
    // Keeps what is stamped at or after now − retentionDays days; the file is rewritten even when nothing
    // goes.
    void prune(qint64 retentionDays);
    // Writes the CSV export (default: the data folder's "tallyvane-export.csv"); the path written, or
    // nothing.
    std::optional<QString> exportCSV(const std::optional<QString>& destination = std::nullopt);

    const QString& fileName() const { return m_fileName; }

private:
    QString m_fileName;
    SerialQueue m_queue{QStringLiteral("tallyvane.snapshotstore")};
};
