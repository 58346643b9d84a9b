#pragma once

// The gray values of rows of RGBA pixels, as the gray thumbnails read them: each pixel's KVLuma,
// stored, or multiplied by a weight and added into a row of sums (internal to gray_pixels.cpp).

#include <cstdint>

namespace kv_gray {

// out[x] = KVLuma of pixel x, for `width` pixels.
void lumaRow(const uint8_t* rgba, int width, float* out);

// row[x] += weight · KVLuma of pixel x; row[x] = weight · KVLuma when `first`. Every value is
// the same product and sum, in the same order, as from lumaRow's values.
void addWeightedLuma(float* row, const uint8_t* rgba, float weight, int width, bool first);

// The same two without the wide-vector path, as on a processor without AVX2.
void lumaRowPortable(const uint8_t* rgba, int width, float* out);
void addWeightedLumaPortable(float* row, const uint8_t* rgba, float weight, int width, bool first);

} // namespace kv_gray
