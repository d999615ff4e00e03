#pragma once

#include <QtEndian>
#include <QtGlobal>

#include <algorithm>
#include <cstring>
#include <string_view>

// A fast 64-bit hash, eight bytes a step: for reply ids, resume anchors and the history cache's checksum.
// Each step is a bijection of the state, so a change to any one word of the input always changes the
// result. Not meant to stand up to input chosen against it.
namespace WordHash {

// Spreads every input bit over the whole result.
inline quint64 mix(quint64 x)
{
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ULL;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

// The bytes from `from` on (fewer than eight) as a little-endian word, zero above them: read with whole
// loads, since a copy of a variable length is a library call whose stores the load after it must wait for.
inline quint64 tail(std::string_view bytes, std::size_t from)
{
    const std::size_t n = bytes.size() - from;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto load = [&](std::size_t at, auto word) {
        std::memcpy(&word, p + at, sizeof word);
        return static_cast<quint64>(qFromLittleEndian(word));
    };
    if (n == 0)
        return 0;
    if (bytes.size() >= 8) // the last eight bytes, those before `from` shifted out
        return load(bytes.size() - 8, quint64{}) >> (8 * (8 - n));
    if (n >= 4) // two four-byte loads that overlap where n < 8
        return load(from, quint32{}) | load(from + n - 4, quint32{}) << (8 * (n - 4));
    return quint64{p[from]} | quint64{p[from + n / 2]} << (8 * (n / 2)) |
           quint64{p[from + n - 1]} << (8 * (n - 1));
}

inline quint64 word(quint64 hash, quint64 bytes)
{
    hash = (hash ^ bytes) * 0x9e3779b97f4a7c15ULL;
    return hash ^ (hash >> 29);
}

// The whole words of `bytes`; returns how many bytes they took.
inline std::size_t words(quint64& hash, std::string_view bytes)
{
    std::size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        quint64 w;
        std::memcpy(&w, bytes.data() + i, 8);
        hash = word(hash, w);
    }
    return i;
}

// One multiplication per eight bytes, the length folded into the last; `mix` the result when done.
inline quint64 step(quint64 hash, std::string_view bytes)
{
    const std::size_t i = words(hash, bytes);
    return word(hash, tail(bytes, i) ^ (static_cast<quint64>(bytes.size()) << 56));
}

constexpr quint64 seed = 0xcbf29ce484222325ULL;

inline quint64 of(std::string_view bytes)
{
    return mix(step(seed, bytes));
}

// `of` over bytes that come in pieces: the same result as over their concatenation.
class Stream
{
public:
    void add(std::string_view bytes)
    {
        if (bytes.empty())
            return;
        m_size += bytes.size();
        if (m_held > 0) { // complete the word begun before
            const std::size_t n = std::min(8 - m_held, bytes.size());
            std::memcpy(m_pending + m_held, bytes.data(), n);
            m_held += n;
            bytes.remove_prefix(n);
            if (m_held < 8)
                return;
            words(m_hash, std::string_view(m_pending, 8));
        }
        const std::size_t whole = words(m_hash, bytes);
        m_held = bytes.size() - whole;
        if (m_held > 0)
            std::memcpy(m_pending, bytes.data() + whole, m_held);
    }

    quint64 result() const
    {
        return mix(word(m_hash,
                        tail(std::string_view(m_pending, m_held), 0) ^ (static_cast<quint64>(m_size) << 56)));
    }

private:
    quint64 m_hash = seed;
    std::size_t m_size = 0;
    char m_pending[8] = {};
    std::size_t m_held = 0;
};

} // namespace WordHash
