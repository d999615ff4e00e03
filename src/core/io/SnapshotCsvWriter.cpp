#include "core/io/SnapshotCsvWriter.h"

#include "core/io/FileIo.h"
#include "core/text/SnapshotCsv.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

// Output and run reads go in pieces of this size.
constexpr qsizetype ioBytes = 256 * 1024;

// A run record: the sort key and the row's length, then the row's bytes.
struct RecordHead
{
    qint64 key;
    qint64 length;
};

// Buffers writes to a descriptor in pieces.
class Output
{
public:
    explicit Output(int fd) : m_fd(fd) {}
    bool put(QByteArrayView bytes)
    {
        m_buffer += bytes;
        return m_buffer.size() < ioBytes || flush();
    }
    bool flush()
    {
        const bool written = FileIo::writeFully(m_fd, m_buffer);
        m_buffer.clear();
        return written;
    }

private:
    int m_fd;
    QByteArray m_buffer;
};

// Reads one sorted run back, record by record.
class RunReader
{
public:
    RunReader(int fd, qint64 begin, qint64 end) : m_fd(fd), m_next(begin), m_end(end) {}
    // Moves to the next record; false at the run's end or on a read error (`failed` then tells).
    bool advance()
    {
        if (m_next >= m_end && m_used >= m_buffer.size())
            return false;
        RecordHead head{};
        const auto headBytes = read(sizeof head);
        if (!headBytes)
            return false;
        std::memcpy(&head, headBytes->constData(), sizeof head);
        const auto bytes = read(head.length);
        if (!bytes)
            return false;
        key = head.key;
        row = *bytes;
        return true;
    }

    qint64 key = 0;
    QByteArray row;
    bool failed = false;

private:
    std::optional<QByteArray> read(qint64 length)
    {
        while (m_buffer.size() - m_used < length) {
            m_buffer.remove(0, m_used);
            m_used = 0;
            const qint64 want = std::min<qint64>(std::max<qint64>(ioBytes, length), m_end - m_next);
            const auto more = FileIo::readAt(m_fd, m_next, want);
            if (!more || more->isEmpty()) {
                failed = true;
                if (!more)
                    return std::nullopt;
                errno = EIO; // the run is shorter than was written
                return std::nullopt;
            }
            m_next += more->size();
            m_buffer += *more;
        }
        QByteArray bytes = m_buffer.sliced(m_used, length);
        m_used += length;
        return bytes;
    }

    int m_fd;
    qint64 m_next;
    qint64 m_end;
    QByteArray m_buffer;
    qsizetype m_used = 0;
};

// A row as added, or without its empty account field and that field's comma in an export of one account.
bool putRow(Output& out, QByteArrayView row, bool withAccount)
{
    if (withAccount)
        return out.put(row);
    return out.put(row.first(row.size() - 2)) && out.put("\n");
}

} // namespace

SnapshotCsvWriter::SnapshotCsvWriter(qsizetype batchBytes) : m_batchBytes(batchBytes) {}

SnapshotCsvWriter::~SnapshotCsvWriter()
{
    if (m_spillFd >= 0)
        ::close(m_spillFd);
}

bool SnapshotCsvWriter::add(const UsageSnapshot& snapshot)
{
    if (m_failed)
        return false;
    // Every row carries the account field; an export without any account drops it when written.
    QByteArray row = SnapshotCsv::row(snapshot, true).toUtf8();
    row += '\n';
    m_accounts = m_accounts || snapshot.account;
    m_rows.push_back(Row{snapshot.timestamp.toMSecsSinceEpoch(), m_bytes.size(), row.size()});
    m_bytes += row;
    if (m_bytes.size() >= m_batchBytes && !spill())
        m_failed = true;
    return !m_failed;
}

void SnapshotCsvWriter::sortBatch()
{
    std::stable_sort(m_rows.begin(), m_rows.end(), [](const Row& a, const Row& b) { return a.key < b.key; });
}

bool SnapshotCsvWriter::spill()
{
    if (m_spillFd < 0) {
        // Unlinked at once: the runs vanish with the descriptor, even when the process is killed.
        QByteArray name = QFile::encodeName(QDir::tempPath()) + "/tallyvane-export-XXXXXX";
        m_spillFd = ::mkostemp(name.data(), O_CLOEXEC);
        if (m_spillFd < 0)
            return false;
        ::unlink(name.constData());
    }
    sortBatch();
    const qint64 begin = m_spillSize;
    Output out(m_spillFd);
    for (const Row& row : m_rows) {
        const RecordHead head{row.key, row.length};
        if (!out.put(QByteArrayView(reinterpret_cast<const char*>(&head), sizeof head)) ||
            !out.put(QByteArrayView(m_bytes).sliced(row.offset, row.length)))
            return false;
        m_spillSize += qint64(sizeof head) + row.length;
    }
    if (!out.flush())
        return false;
    m_runs.push_back(Run{begin, m_spillSize});
    m_rows.clear();
    m_bytes.clear();
    return true;
}

bool SnapshotCsvWriter::finish(int fd)
{
    if (m_failed)
        return false;
    Output out(fd);
    QByteArray header(SnapshotCsv::header.data(), SnapshotCsv::header.size());
    if (m_accounts)
        header += QByteArray(SnapshotCsv::accountColumn.data(), SnapshotCsv::accountColumn.size());
    if (!out.put(header + '\n'))
        return false;
    if (m_runs.empty()) {
        sortBatch();
        for (const Row& row : m_rows) {
            if (!putRow(out, QByteArrayView(m_bytes).sliced(row.offset, row.length), m_accounts))
                return false;
        }
        return out.flush();
    }
    if (!m_rows.empty() && !spill())
        return false;
    return out.flush() && merge(fd);
}

bool SnapshotCsvWriter::merge(int fd)
{
    std::vector<RunReader> readers;
    readers.reserve(m_runs.size());
    std::vector<bool> live;
    for (const Run& run : m_runs) {
        readers.emplace_back(m_spillFd, run.begin, run.end);
        live.push_back(readers.back().advance());
        if (readers.back().failed)
            return false;
    }
    Output out(fd);
    for (;;) {
        // The earliest key; on equal keys the earlier run, which holds the earlier rows of the log.
        std::size_t best = readers.size();
        for (std::size_t i = 0; i < readers.size(); ++i) {
            if (live[i] && (best == readers.size() || readers[i].key < readers[best].key))
                best = i;
        }
        if (best == readers.size())
            break;
        if (!putRow(out, readers[best].row, m_accounts))
            return false;
        live[best] = readers[best].advance();
        if (readers[best].failed)
            return false;
    }
    return out.flush();
}
