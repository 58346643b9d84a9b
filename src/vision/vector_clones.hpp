#pragma once

// Marks a hot loop's function to be built twice, for AVX2 and for any x86-64, the better one
// picked when the program loads. Only the vector width changes: each value is still computed by
// the same operations in the same order (and -ffp-contract=off keeps multiplies and adds apart),
// so both builds give the same bits.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define KV_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define KV_VECTOR_CLONES
#endif
