#pragma once

#include <QtGlobal>

#include <algorithm>
#include <vector>

// A set of 64-bit id hashes: open addressing over a power-of-two table, indexed by the hash's own low bits
// (they are well mixed), with no allocation per id. Zero marks a free slot, so the id 0 is kept aside.
class IdSet
{
public:
    bool contains(quint64 id) const
    {
        if (id == 0)
            return m_hasZero;
        if (m_slots.empty())
            return false;
        for (std::size_t i = id & mask();; i = (i + 1) & mask()) {
            if (m_slots[i] == id)
                return true;
            if (m_slots[i] == 0)
                return false;
        }
    }

    void insert(quint64 id)
    {
        if (id == 0) {
            m_size += m_hasZero ? 0 : 1;
            m_hasZero = true;
            return;
        }
        if (2 * (m_size + 1) > m_slots.size())
            rehash(std::max<std::size_t>(64, 2 * m_slots.size()));
        if (place(m_slots, id))
            ++m_size;
    }

    bool empty() const { return m_size == 0; }
    std::size_t size() const { return m_size; }

    // Appends every id to `out`, in no particular order.
    void appendTo(std::vector<quint64>& out) const
    {
        if (m_hasZero)
            out.push_back(0);
        for (const quint64 id : m_slots) {
            if (id != 0)
                out.push_back(id);
        }
    }

    void clear()
    {
        if (m_size == 0)
            return;
        // A table grown for one large file is not kept for the next.
        if (m_slots.size() > 4096)
            std::vector<quint64>().swap(m_slots);
        else
            std::fill(m_slots.begin(), m_slots.end(), 0);
        m_size = 0;
        m_hasZero = false;
    }

private:
    std::size_t mask() const { return m_slots.size() - 1; }

    static bool place(std::vector<quint64>& slots, quint64 id)
    {
        const std::size_t mask = slots.size() - 1;
        for (std::size_t i = id & mask;; i = (i + 1) & mask) {
            if (slots[i] == id)
                return false;
            if (slots[i] == 0) {
                slots[i] = id;
                return true;
            }
        }
    }

    void rehash(std::size_t size)
    {
        std::vector<quint64> slots(size, 0);
        for (const quint64 id : m_slots) {
            if (id != 0)
                place(slots, id);
        }
        m_slots.swap(slots);
    }

    std::vector<quint64> m_slots;
    std::size_t m_size = 0;
    bool m_hasZero = false;
};
