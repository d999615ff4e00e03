#include "core/model/SnapshotLog.h"

#include <algorithm>
#include <utility>

SnapshotLog::SnapshotLog(const QList<UsageSnapshot>& snapshots)
{
    append(snapshots);
}

SnapshotLog::SnapshotLog(QList<UsageSnapshot>&& snapshots)
{
    append(std::move(snapshots));
}

SnapshotLog::SnapshotLog(std::initializer_list<UsageSnapshot> snapshots)
{
    for (const UsageSnapshot& s : snapshots)
        append(s);
}

SnapshotLog::Chunk& SnapshotLog::lastWithRoom()
{
    if (m_chunks.isEmpty() || m_chunks.constLast().size() == chunkCapacity) {
        Chunk chunk;
        chunk.reserve(chunkCapacity);
        m_chunks.append(std::move(chunk));
    }
    // Non-const access copies the outer list and then the last chunk when another log shares them.
    return m_chunks.last();
}

void SnapshotLog::append(const UsageSnapshot& snapshot)
{
    lastWithRoom().append(snapshot);
    ++m_size;
}

void SnapshotLog::append(UsageSnapshot&& snapshot)
{
    lastWithRoom().append(std::move(snapshot));
    ++m_size;
}

void SnapshotLog::append(QList<UsageSnapshot>&& snapshots)
{
    if (snapshots.isDetached()) {
        qsizetype from = 0;
        while (from < snapshots.size()) {
            Chunk& last = lastWithRoom();
            const qsizetype n = std::min(chunkCapacity - last.size(), snapshots.size() - from);
            for (qsizetype i = from; i < from + n; ++i)
                last.append(std::move(snapshots[i]));
            from += n;
            m_size += n;
        }
        snapshots.clear();
        return;
    }
    append(std::as_const(snapshots));
}

void SnapshotLog::append(const QList<UsageSnapshot>& snapshots)
{
    qsizetype from = 0;
    while (from < snapshots.size()) {
        if (m_chunks.isEmpty() || m_chunks.constLast().size() == chunkCapacity) {
            // Whole chunks straight from the list.
            const qsizetype n = std::min(chunkCapacity, snapshots.size() - from);
            m_chunks.append(snapshots.mid(from, n));
            from += n;
            m_size += n;
            continue;
        }
        Chunk& last = m_chunks.last();
        const qsizetype n = std::min(chunkCapacity - last.size(), snapshots.size() - from);
        last.append(snapshots.mid(from, n));
        from += n;
        m_size += n;
    }
}

void SnapshotLog::append(const SnapshotLog& other)
{
    if (isEmpty()) {
        *this = other;
        return;
    }
    // Appending to itself must read from a copy that stays as it was.
    const SnapshotLog source = other;
    for (const Chunk& chunk : source.m_chunks)
        append(chunk);
}

void SnapshotLog::removeLast(qsizetype n)
{
    if (n <= 0)
        return;
    if (n >= m_size) {
        clear();
        return;
    }
    m_size -= n;
    const qsizetype chunks = (m_size + chunkCapacity - 1) / chunkCapacity;
    m_chunks.resize(chunks);
    const qsizetype keepInLast = m_size - (chunks - 1) * chunkCapacity;
    if (m_chunks.constLast().size() != keepInLast)
        m_chunks.last().resize(keepInLast);
}

SnapshotLog SnapshotLog::first(qsizetype n) const
{
    SnapshotLog head = *this;
    head.removeLast(m_size - std::max<qsizetype>(n, 0));
    return head;
}

void SnapshotLog::clear()
{
    m_chunks.clear();
    m_size = 0;
}

QList<UsageSnapshot> SnapshotLog::toList() const
{
    if (m_chunks.size() == 1)
        return m_chunks.constFirst();
    QList<UsageSnapshot> list;
    list.reserve(m_size);
    for (const Chunk& chunk : m_chunks)
        list.append(chunk);
    return list;
}

qsizetype SnapshotLog::sharedPrefixSize(const SnapshotLog& other) const
{
    const qsizetype chunks = std::min(m_chunks.size(), other.m_chunks.size());
    qsizetype shared = 0;
    for (qsizetype i = 0; i < chunks; ++i) {
        const Chunk& mine = m_chunks.at(i);
        const Chunk& theirs = other.m_chunks.at(i);
        if (mine.constData() != theirs.constData())
            break;
        shared += std::min(mine.size(), theirs.size());
        if (mine.size() != theirs.size())
            break;
    }
    return shared;
}

bool operator==(const SnapshotLog& a, const SnapshotLog& b)
{
    if (a.m_size != b.m_size)
        return false;
    for (qsizetype i = 0; i < a.m_chunks.size(); ++i) {
        const SnapshotLog::Chunk& x = a.m_chunks.at(i);
        const SnapshotLog::Chunk& y = b.m_chunks.at(i);
        // One shared chunk holds the same snapshots in both.
        if (x.constData() == y.constData() && x.size() == y.size())
            continue;
        if (!std::equal(x.cbegin(), x.cend(), y.cbegin(), y.cend()))
            return false;
    }
    return true;
}
