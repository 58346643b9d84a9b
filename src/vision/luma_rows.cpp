#include "vision/luma_rows.hpp"

#include "base/cpu_features.hpp"
#include "vision/vector_clones.hpp"

#include <bit>
#include <cstddef>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define KV_LUMA_AVX2 1
#endif

namespace kv_gray {
namespace {

// The luma's arithmetic after the weighted sum, in single precision so that it vectorises: the
// sum 299 r + 587 g + 114 b is an exact whole number below 2^18, and (sum + 500.5) / 1000 never
// lies within 0.0005 of a whole number, far more than the float product's error. So the value is
// KVLuma for every colour.
[[gnu::always_inline]] inline float lumaOfSum(float sum) {
    return static_cast<float>(static_cast<int>((sum + 500.5f) * 0.001f));
}

// One pixel, read as a 32-bit word, which vectorises far better than bytes at a stride of four.
[[gnu::always_inline]] inline float luma(const uint8_t* rgba) {
    uint32_t word = 0;
    std::memcpy(&word, rgba, 4);
    if constexpr (std::endian::native == std::endian::big) {
        word = ((word >> 24) & 0xffu) | ((word >> 8) & 0xff00u) | ((word << 8) & 0xff0000u);
    }
    return lumaOfSum(299.0f * static_cast<float>(word & 0xffu) +
                     587.0f * static_cast<float>((word >> 8) & 0xffu) +
                     114.0f * static_cast<float>((word >> 16) & 0xffu));
}

#ifdef KV_LUMA_AVX2
// Eight pixels' luma. The channels' weighted sum is made in exact integers by one multiply-add
// of 16-bit pairs ((r, g) and (b, a) with weights (299, 587) and (114, 0)) and one pairwise add,
// instead of three conversions and three multiplies; from there on the arithmetic is lumaOfSum's.
[[gnu::target("avx2")]] inline __m256 luma8(const uint8_t* rgba) {
    const __m256i pixels = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rgba));
    const __m256i zero = _mm256_setzero_si256();
    const __m256i weights =
        _mm256_setr_epi16(299, 587, 114, 0, 299, 587, 114, 0, 299, 587, 114, 0, 299, 587, 114, 0);
    // Within each 128-bit half: pixels 0–1 (low) and 2–3 (high) of that half's four.
    const __m256i low = _mm256_madd_epi16(_mm256_unpacklo_epi8(pixels, zero), weights);
    const __m256i high = _mm256_madd_epi16(_mm256_unpackhi_epi8(pixels, zero), weights);
    // Adjacent pairs added: the four sums of each half, in pixel order.
    const __m256 sums = _mm256_cvtepi32_ps(_mm256_hadd_epi32(low, high));
    const __m256 scaled =
        _mm256_mul_ps(_mm256_add_ps(sums, _mm256_set1_ps(500.5f)), _mm256_set1_ps(0.001f));
    return _mm256_cvtepi32_ps(_mm256_cvttps_epi32(scaled));
}

[[gnu::target("avx2")]] void lumaRowAvx2(const uint8_t* rgba, int width, float* out) {
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        _mm256_storeu_ps(out + x, luma8(rgba + 4 * static_cast<size_t>(x)));
    }
    for (; x < width; ++x) {
        out[x] = luma(rgba + 4 * static_cast<size_t>(x));
    }
}

[[gnu::target("avx2")]] void addWeightedLumaAvx2(float* row, const uint8_t* rgba, float weight,
                                                 int width, bool first) {
    const __m256 w = _mm256_set1_ps(weight);
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        const __m256 product = _mm256_mul_ps(w, luma8(rgba + 4 * static_cast<size_t>(x)));
        _mm256_storeu_ps(row + x,
                         first ? product : _mm256_add_ps(_mm256_loadu_ps(row + x), product));
    }
    for (; x < width; ++x) {
        const float product = weight * luma(rgba + 4 * static_cast<size_t>(x));
        row[x] = first ? product : row[x] + product;
    }
}

#endif

} // namespace

KV_VECTOR_CLONES void lumaRowPortable(const uint8_t* rgba, int width, float* out) {
    for (int x = 0; x < width; ++x) {
        out[x] = luma(rgba + 4 * static_cast<size_t>(x));
    }
}

KV_VECTOR_CLONES void addWeightedLumaPortable(float* row, const uint8_t* rgba, float weight,
                                              int width, bool first) {
    if (first) {
        for (int x = 0; x < width; ++x) {
            row[x] = weight * luma(rgba + 4 * static_cast<size_t>(x));
        }
        return;
    }
    for (int x = 0; x < width; ++x) {
        row[x] += weight * luma(rgba + 4 * static_cast<size_t>(x));
    }
}

void lumaRow(const uint8_t* rgba, int width, float* out) {
#ifdef KV_LUMA_AVX2
    if (KVHasAvx2()) {
        return lumaRowAvx2(rgba, width, out);
    }
#endif
    lumaRowPortable(rgba, width, out);
}

void addWeightedLuma(float* row, const uint8_t* rgba, float weight, int width, bool first) {
#ifdef KV_LUMA_AVX2
    if (KVHasAvx2()) {
        return addWeightedLumaAvx2(row, rgba, weight, width, first);
    }
#endif
    addWeightedLumaPortable(row, rgba, weight, width, first);
}

} // namespace kv_gray
