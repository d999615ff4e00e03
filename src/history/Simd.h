#pragma once

// Whether this processor runs AVX2 code: the build targets every x86-64, so wider loops are chosen at run
// time.
namespace Simd {

#if defined(__x86_64__)
inline bool hasAvx2()
{
    static const bool yes = __builtin_cpu_supports("avx2");
    return yes;
}
#endif

} // namespace Simd
