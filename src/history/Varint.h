#pragma once

#include <QtGlobal>

#include <cstddef>

// Little-endian base-128 integers, seven bits a byte with the high bit set on all but the last, as the
// history cache and the counted-line log store them; signed values zigzagged first so small ones stay short.
namespace Varint {

constexpr std::size_t maxBytes = 10;

// Into `out` (room for maxBytes), returning the bytes written.
inline std::size_t put(char* out, quint64 value)
{
    std::size_t n = 0;
    while (value >= 0x80) {
        out[n++] = static_cast<char>((value & 0x7f) | 0x80);
        value >>= 7;
    }
    out[n++] = static_cast<char>(value);
    return n;
}

// From `at` on, no further than `end`; false for one cut short or longer than 64 bits.
inline bool get(const char*& at, const char* end, quint64& value)
{
    value = 0;
    for (int shift = 0; at < end && shift < 64; shift += 7) {
        const auto byte = static_cast<unsigned char>(*at++);
        value |= static_cast<quint64>(byte & 0x7f) << shift;
        if (!(byte & 0x80))
            return true;
    }
    return false;
}

inline quint64 zigzag(qint64 value)
{
    return (static_cast<quint64>(value) << 1) ^ static_cast<quint64>(value >> 63);
}

inline qint64 unzigzag(quint64 value)
{
    return static_cast<qint64>((value >> 1) ^ (~(value & 1) + 1));
}

} // namespace Varint
