#pragma once

#include <QList>

#include <algorithm>
#include <vector>

// Where one series' snapshots sit in the working log, in shared fixed-size chunks: the cycle appends to
// its copy while the GUI thread holds the published one, and an append copies at most the last chunk. So
// publishing, keeping and letting go of the positions costs the same on a log of any length.
class SeriesPositions
{
public:
    static constexpr qsizetype chunkCapacity = 4096;

    qsizetype size() const { return m_size; }
    bool isEmpty() const { return m_size == 0; }
    qsizetype operator[](qsizetype i) const { return m_chunks.at(i / chunkCapacity).at(i % chunkCapacity); }
    qsizetype last() const { return m_chunks.constLast().constLast(); }

    void append(qsizetype position)
    {
        if (m_chunks.isEmpty() || m_chunks.constLast().size() == chunkCapacity) {
            QList<qsizetype> chunk;
            chunk.reserve(chunkCapacity);
            m_chunks.append(std::move(chunk));
        }
        m_chunks.last().append(position);
        ++m_size;
    }

    // Reorders stably by `less`; copies every chunk, so kept for the rare series out of time order.
    template <typename Less> void stableSort(Less less)
    {
        std::vector<qsizetype> all;
        all.reserve(size_t(m_size));
        for (const QList<qsizetype>& chunk : std::as_const(m_chunks))
            all.insert(all.end(), chunk.cbegin(), chunk.cend());
        std::stable_sort(all.begin(), all.end(), less);
        *this = {};
        for (qsizetype position : all)
            append(position);
    }

    friend bool operator==(const SeriesPositions& a, const SeriesPositions& b)
    {
        return a.m_size == b.m_size && a.m_chunks == b.m_chunks;
    }

private:
    QList<QList<qsizetype>> m_chunks;
    qsizetype m_size = 0;
};
