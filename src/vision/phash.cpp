#include "vision/phash.hpp"
#include "base/ascii.hpp"

#include "vision/gray_pixels.hpp"
#include "vision/image_crop.hpp"
#include "vision/vector_clones.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <numbers>
#include <utility>

namespace {

constexpr int kContrastSize = 160; // thumbnail side for the contrast gate
constexpr int kSize = 64;          // thumbnail side for the transform
constexpr int kFrequencies = 16;   // lowest frequencies kept per axis
constexpr size_t kContrastPixels = size_t{kContrastSize} * kContrastSize;
constexpr size_t kCoefficients = size_t{kFrequencies} * kFrequencies;
constexpr float kMinDeviation = 30.0f;

// Cos[k][n] = cos(((2n + 1)·π)·k·(1/128)), unnormalised, built once and read-only after.
// Kept transposed, [n][k], so that the 16 sums of one row run side by side.
using CosineTable = std::array<std::array<double, kFrequencies>, kSize>;

const CosineTable& cosines() {
    static const CosineTable table = [] {
        CosineTable t{};
        for (int k = 0; k < kFrequencies; ++k) {
            for (int n = 0; n < kSize; ++n) {
                t[n][k] = std::cos(((2.0 * n + 1.0) * std::numbers::pi) * k * (1.0 / 128.0));
            }
        }
        return t;
    }();
    return table;
}

// The 16 × 16 lowest frequencies of the 64 × 64 thumbnail `small`, D[v][u] at 16v + u.
// Each sum runs over increasing x (then y) as its own accumulator; running the 16 frequencies
// side by side keeps that order while letting the compiler vectorise, and two rows (or two
// vertical frequencies) at a time give the adds two independent chains to overlap.
KV_VECTOR_CLONES void transform(const float* small,
                                std::array<double, kCoefficients>& coefficients) {
    const CosineTable& table = cosines();
    std::array<std::array<double, kFrequencies>, kSize> rows; // T[y][u]
    for (int y = 0; y < kSize; y += 2) {
        std::array<double, kFrequencies> a{};
        std::array<double, kFrequencies> b{};
        const float* g = small + static_cast<size_t>(y) * kSize;
        const float* h = g + kSize;
        for (int x = 0; x < kSize; ++x) {
            const double p = g[x];
            const double q = h[x];
            for (int u = 0; u < kFrequencies; ++u) {
                a[u] += p * table[x][u];
                b[u] += q * table[x][u];
            }
        }
        for (int u = 0; u < kFrequencies; ++u) {
            rows[y][u] = 2.0 * a[u];
            rows[y + 1][u] = 2.0 * b[u];
        }
    }
    for (int v = 0; v < kFrequencies; v += 2) {
        std::array<double, kFrequencies> a{};
        std::array<double, kFrequencies> b{};
        for (int y = 0; y < kSize; ++y) {
            const double c = table[y][v];
            const double d = table[y][v + 1];
            for (int u = 0; u < kFrequencies; ++u) {
                a[u] += rows[y][u] * c;
                b[u] += rows[y][u] * d;
            }
        }
        for (int u = 0; u < kFrequencies; ++u) {
            coefficients[static_cast<size_t>(v) * kFrequencies + u] = 2.0 * a[u];
            coefficients[static_cast<size_t>(v + 1) * kFrequencies + u] = 2.0 * b[u];
        }
    }
}

// The sum of the values and of their squares. The values are whole numbers, so both sums are
// exact: added as integers (which vectorises) they are the very doubles a running double sum
// would give. 160² · 255² fits in 31 bits.
KV_VECTOR_CLONES std::pair<int32_t, int32_t> sumAndSquares(const float* values) {
    static_assert(int64_t{kContrastSize} * kContrastSize * 255 * 255 < (int64_t{1} << 31));
    int32_t sum = 0;
    int32_t squares = 0;
    for (size_t i = 0; i < kContrastPixels; ++i) {
        sum += static_cast<int32_t>(values[i]);
        squares += static_cast<int32_t>(values[i] * values[i]); // exact: at most 65025
    }
    return {sum, squares};
}

// The gate and the transform on a gray plane already cut to the picture to hash.
std::optional<KVArtHash> hashPlane(const KVGrayPlane& plane) {
    thread_local std::array<float, kContrastPixels> large;
    thread_local std::array<float, size_t{kSize} * kSize> small;

    if (!KVResampleGray(plane, kContrastSize, kContrastSize, large.data())) {
        return std::nullopt;
    }
    const auto [sum, squares] = sumAndSquares(large.data());
    const double mean = static_cast<double>(sum) / kContrastPixels;
    const double variance = static_cast<double>(squares) / kContrastPixels - mean * mean;
    if (variance <= 0 || static_cast<float>(std::sqrt(variance)) < kMinDeviation) {
        return std::nullopt;
    }

    if (!KVResampleGray(plane, kSize, kSize, small.data())) {
        return std::nullopt;
    }
    std::array<double, kCoefficients> coefficients; // D[v][u] at 16v + u
    transform(small.data(), coefficients);

    // The median of 256 values: the mean of the 128th and 129th smallest.
    std::array<double, kCoefficients> sorted = coefficients;
    const auto upper = sorted.begin() + kCoefficients / 2;
    std::nth_element(sorted.begin(), upper, sorted.end());
    const double median = (*std::max_element(sorted.begin(), upper) + *upper) * 0.5;

    KVArtHash hash{};
    for (size_t i = 0; i < coefficients.size(); ++i) {
        if (coefficients[i] > median) {
            hash[i / 8] |= static_cast<uint8_t>(0x80u >> (i % 8));
        }
    }
    return hash;
}

std::optional<KVArtHash> hashRegion(const KVImage& image, const KVPixelRect& rect) {
    thread_local KVGrayPlane plane;
    if (!KVMakeGrayPlane(image, rect, plane)) {
        return std::nullopt;
    }
    std::optional<KVArtHash> hash = hashPlane(plane);
    if (plane.pixels.capacity() > (size_t{1} << 22)) {
        plane.pixels = std::vector<float>();
    }
    return hash;
}

} // namespace

std::optional<KVArtHash> KVPHash(const KVImage& image) {
    return hashRegion(image, KVPixelRect{0, 0, image.width, image.height});
}

std::optional<KVArtHash> KVPHashOfArt(const KVImage& card) {
    const double w = card.width;
    const double h = card.height;
    return hashRegion(
        card, KVPixelRectOutward(card.width, card.height, 0.08 * w, 0.10 * h, 0.84 * w, 0.52 * h));
}

int KVPHashDistance(std::span<const uint8_t> a, std::span<const uint8_t> b) {
    KVArtHash x{};
    KVArtHash y{};
    if (a.size() != x.size() || b.size() != y.size()) {
        return static_cast<int>(8 * x.size());
    }
    std::memcpy(x.data(), a.data(), x.size());
    std::memcpy(y.data(), b.data(), y.size());
    return KVPHashDistance(KVArtHashWords::of(x), KVArtHashWords::of(y));
}

std::string KVPHashToHex(std::span<const uint8_t> hash) {
    return KVHexEncode(hash);
}

std::optional<KVArtHash> KVPHashFromHex(std::string_view text) {
    KVArtHash hash{};
    if (text.size() != hash.size() * 2) {
        return std::nullopt;
    }
    for (size_t i = 0; i < hash.size(); ++i) {
        const int high = KVHexDigitValue(text[2 * i]);
        const int low = KVHexDigitValue(text[2 * i + 1]);
        if (high < 0) {
            return std::nullopt;
        }
        hash[i] = static_cast<uint8_t>(low < 0 ? high : high * 16 + low);
    }
    return hash;
}
