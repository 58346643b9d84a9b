#pragma once

// Marks a hot loop's function to be built twice, for AVX2 and for any x86-64, the better one
// picked when the program loads. Only the vector width changes: each value is still computed by
// the same operations in the same order (and -ffp-contract=off keeps multiplies and adds apart),
// so both builds give the same bits.
// The picking runs while the program is being loaded, before a sanitizer's runtime is ready, so
// sanitizer builds keep one plain build.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer) || __has_feature(address_sanitizer)
#define KV_NO_VECTOR_CLONES
#endif
#endif
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
#define KV_NO_VECTOR_CLONES
#endif

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) &&                            \
    !defined(KV_NO_VECTOR_CLONES)
#define KV_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define KV_VECTOR_CLONES
#endif
