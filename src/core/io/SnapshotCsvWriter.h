#pragma once

#include "core/model/UsageSnapshot.h"

#include <QByteArray>
#include <QList>

#include <optional>
#include <vector>

// Writes the CSV export of snapshots handed over in any order, sorted by timestamp (stable), holding at most
// about `batchBytes` of rows in memory whatever their number: beyond that, sorted runs wait in an unnamed
// temporary file and are merged when the document is written.
class SnapshotCsvWriter
{
public:
    static constexpr qsizetype defaultBatchBytes = 8 * 1024 * 1024;

    explicit SnapshotCsvWriter(qsizetype batchBytes = defaultBatchBytes);
    ~SnapshotCsvWriter();
    SnapshotCsvWriter(const SnapshotCsvWriter&) = delete;
    SnapshotCsvWriter& operator=(const SnapshotCsvWriter&) = delete;

    // False once a spill to the temporary file failed (errno tells why); later calls do nothing.
    bool add(const UsageSnapshot& snapshot);
    // Header and rows, each line ending in "\n", onto `fd`; false with errno set on a failure.
    bool finish(int fd);

    // How many sorted runs went to the temporary file (for tests).
    qsizetype spilledRuns() const { return qsizetype(m_runs.size()); }

private:
    struct Row
    {
        qint64 key;
        qsizetype offset;
        qsizetype length;
    };
    struct Run
    {
        qint64 begin;
        qint64 end;
    };

    void sortBatch();
    bool spill();
    bool merge(int fd);

    qsizetype m_batchBytes;
    QByteArray m_bytes;
    std::vector<Row> m_rows;
    std::vector<Run> m_runs;
    int m_spillFd = -1;
    qint64 m_spillSize = 0;
    bool m_failed = false;
    // Whether any row belongs to another account than the default one.
    bool m_accounts = false;
};
