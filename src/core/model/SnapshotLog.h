#pragma once

#include "core/model/UsageSnapshot.h"

#include <QList>

#include <cstddef>
#include <initializer_list>
#include <iterator>

// A sequence of snapshots made of shared fixed-size chunks: copying one costs a reference per chunk, and
// appending or removing at the end copies at most the last chunk, never the whole sequence. So a cycle
// can publish the store's log while the store keeps appending to its own copy.
//
// Chunks are implicitly shared lists: one is copied before a change while another log refers to it, so
// copies held on different threads are safe to read while one of them changes; one log object itself is
// not thread-safe, like any value.
class SnapshotLog
{
public:
    static constexpr qsizetype chunkCapacity = 4096;

    class const_iterator
    {
    public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = UsageSnapshot;
        using difference_type = qsizetype;
        using pointer = const UsageSnapshot*;
        using reference = const UsageSnapshot&;

        const_iterator() = default;
        reference operator*() const { return (*m_log)[m_index]; }
        pointer operator->() const { return &(*m_log)[m_index]; }
        reference operator[](difference_type n) const { return (*m_log)[m_index + n]; }
        const_iterator& operator++()
        {
            ++m_index;
            return *this;
        }
        const_iterator operator++(int)
        {
            const_iterator old = *this;
            ++m_index;
            return old;
        }
        const_iterator& operator--()
        {
            --m_index;
            return *this;
        }
        const_iterator operator--(int)
        {
            const_iterator old = *this;
            --m_index;
            return old;
        }
        const_iterator& operator+=(difference_type n)
        {
            m_index += n;
            return *this;
        }
        const_iterator& operator-=(difference_type n)
        {
            m_index -= n;
            return *this;
        }
        friend const_iterator operator+(const_iterator it, difference_type n) { return it += n; }
        friend const_iterator operator+(difference_type n, const_iterator it) { return it += n; }
        friend const_iterator operator-(const_iterator it, difference_type n) { return it -= n; }
        friend difference_type operator-(const const_iterator& a, const const_iterator& b)
        {
            return a.m_index - b.m_index;
        }
        friend bool operator==(const const_iterator& a, const const_iterator& b)
        {
            return a.m_index == b.m_index;
        }
        friend auto operator<=>(const const_iterator& a, const const_iterator& b)
        {
            return a.m_index <=> b.m_index;
        }

    private:
        friend class SnapshotLog;
        const_iterator(const SnapshotLog* log, qsizetype index) : m_log(log), m_index(index) {}
        const SnapshotLog* m_log = nullptr;
        qsizetype m_index = 0;
    };
    using iterator = const_iterator;
    using value_type = UsageSnapshot;
    using size_type = qsizetype;
    using difference_type = qsizetype;
    using const_reference = const UsageSnapshot&;
    using reference = const UsageSnapshot&;

    SnapshotLog() = default;
    // Implicit: a plain list is a log, as the tests and one-shot callers hand them in.
    SnapshotLog(const QList<UsageSnapshot>& snapshots); // NOLINT(google-explicit-constructor)
    SnapshotLog(QList<UsageSnapshot>&& snapshots);      // NOLINT(google-explicit-constructor)
    SnapshotLog(std::initializer_list<UsageSnapshot> snapshots);

    qsizetype size() const { return m_size; }
    qsizetype count() const { return m_size; }
    bool isEmpty() const { return m_size == 0; }
    bool empty() const { return m_size == 0; }

    const UsageSnapshot& at(qsizetype i) const
    {
        Q_ASSERT(i >= 0 && i < m_size);
        return m_chunks.at(i / chunkCapacity).at(i % chunkCapacity);
    }
    const UsageSnapshot& operator[](qsizetype i) const { return at(i); }
    const UsageSnapshot& first() const { return at(0); }
    const UsageSnapshot& last() const { return at(m_size - 1); }

    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, m_size}; }
    const_iterator cbegin() const { return begin(); }
    const_iterator cend() const { return end(); }

    void append(const UsageSnapshot& snapshot);
    void append(UsageSnapshot&& snapshot);
    void append(const QList<UsageSnapshot>& snapshots);
    // Moves the snapshots over when nothing else shares the list.
    void append(QList<UsageSnapshot>&& snapshots);
    void append(const SnapshotLog& other);
    // Removes the last n (all of them when n exceeds the size).
    void removeLast(qsizetype n = 1);
    // The first n as a log sharing this one's chunks.
    [[nodiscard]] SnapshotLog first(qsizetype n) const;
    void clear();

    [[nodiscard]] QList<UsageSnapshot> toList() const;

    // How many leading snapshots lie in chunks this log shares with `other`: those are equal without a
    // look at them.
    [[nodiscard]] qsizetype sharedPrefixSize(const SnapshotLog& other) const;

    friend bool operator==(const SnapshotLog& a, const SnapshotLog& b);

private:
    using Chunk = QList<UsageSnapshot>;
    // Room in the last chunk, opening a new one when it is full.
    Chunk& lastWithRoom();

    // Every chunk but the last holds exactly chunkCapacity snapshots; none is empty.
    QList<Chunk> m_chunks;
    qsizetype m_size = 0;
};
