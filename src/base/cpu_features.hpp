#pragma once

// Whether the processor runs AVX2 code: the hot loops written for it by hand take that path
// only then, and their portable loops otherwise.
inline bool KVHasAvx2() {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
#else
    return false;
#endif
}
