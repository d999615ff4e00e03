#pragma once

#include <QtGlobal>

#include <limits>

// Token counts come from files anyone can write: sums and products stop at the 64-bit limits instead of
// wrapping.
namespace SaturatingMath {

inline qint64 add(qint64 a, qint64 b)
{
    qint64 result = 0;
    if (!__builtin_add_overflow(a, b, &result))
        return result;
    return b > 0 ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min();
}

inline qint64 mul(qint64 a, qint64 b)
{
    qint64 result = 0;
    if (!__builtin_mul_overflow(a, b, &result))
        return result;
    return (a < 0) != (b < 0) ? std::numeric_limits<qint64>::min() : std::numeric_limits<qint64>::max();
}

} // namespace SaturatingMath
