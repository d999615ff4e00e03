#pragma once

#include <QtGlobal>

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

// One multiplication per eight bytes, the length folded into the last; `mix` the result when done.
inline quint64 step(quint64 hash, std::string_view bytes)
{
    constexpr quint64 odd = 0x9e3779b97f4a7c15ULL;
    std::size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        quint64 word;
        std::memcpy(&word, bytes.data() + i, 8);
        hash = (hash ^ word) * odd;
        hash ^= hash >> 29;
    }
    quint64 rest = 0;
    if (i < bytes.size())
        std::memcpy(&rest, bytes.data() + i, bytes.size() - i);
    hash = (hash ^ rest ^ (static_cast<quint64>(bytes.size()) << 56)) * odd;
    return hash ^ (hash >> 29);
}

inline quint64 of(std::string_view bytes)
{
    return mix(step(0xcbf29ce484222325ULL, bytes));
}

} // namespace WordHash
